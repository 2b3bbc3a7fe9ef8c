// Writing and reading the launcher's settings resource (RT_RCDATA
// "LAUNCHER"; its layout is in package/LauncherSettings.h), and the
// launcher's own texts in the languages pkgtool ships.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/LauncherSettings.h"

namespace stub::writer {

using LauncherTexts = std::array<std::u16string, kLauncherTextCount>;

struct LauncherLanguage {
  uint16_t language = 0;  // a Windows LANGID
  LauncherTexts texts;    // empty where the default holds
  bool operator==(const LauncherLanguage&) const = default;
};

struct LauncherSettingsChoice {
  bool passExitCode = false;
  std::vector<LauncherLanguage> languages;
  bool operator==(const LauncherSettingsChoice&) const = default;
};

// The resource's bytes. Throws std::invalid_argument for more than 65535
// languages or a text longer than 65535 units.
std::vector<uint8_t> EncodeLauncherSettings(const LauncherSettingsChoice& choice);
// The whole resource back, every language; nothing when it is not sound.
std::optional<LauncherSettingsChoice> DecodeLauncherSettingsChoice(const std::vector<uint8_t>& bytes);

// The stable names of the seven texts, as a recipe and inspect spell them:
// damaged, truncated, cannotCreateCopy, cannotExecute, expired, wrongWidth,
// unsupportedWindows.
const char* LauncherTextKey(LauncherText which);
std::optional<LauncherText> LauncherTextFromKey(const std::string& key);

// A language pkgtool ships the launcher's four fixed messages in.
struct ShippedLanguage {
  const char* tag;   // "de", "pt-BR", ...
  uint16_t language; // its LANGID
  const char* name;  // "German"
  // UTF-8: damaged, truncated, cannot create copy, cannot execute.
  std::array<const char*, 4> messages;
};
const std::vector<ShippedLanguage>& ShippedLanguages();

// A language tag ("de", "de-AT", "pt-BR", "zh-CN") or number ("0x0407",
// "1031") as a LANGID; nothing for what it does not know.
std::optional<uint16_t> LanguageFromTag(const std::string& tag);
// The tag of a LANGID ("de-DE"), or its number as "0x0C07" when unknown.
std::string TagOfLanguage(uint16_t language);

}  // namespace stub::writer
