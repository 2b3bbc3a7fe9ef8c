// Writing and reading the launcher's settings resource (RT_RCDATA
// "LAUNCHER"; its layout is in package/LauncherSettings.h). The texts
// pkgtool ships are in LauncherTranslations.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/LauncherSettings.h"
#include "package/writer/LauncherTranslations.h"

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

// The stable names of the texts, as a recipe and inspect spell them:
// damaged, truncated, cannotCreateCopy, cannotExecute, expired, wrongWidth,
// unsupportedWindows, outOfMemory (launcher/Endings.h).
const char* LauncherTextKey(LauncherText which);
std::optional<LauncherText> LauncherTextFromKey(const std::string& key);

}  // namespace stub::writer
