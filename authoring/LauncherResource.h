// Writing and reading the launcher's settings resource (RT_RCDATA
// "LAUNCHER"; its layout is in package/LauncherSettings.h). The texts
// pkgtool ships are in LauncherTranslations.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "authoring/LauncherTranslations.h"
#include "package/LauncherSettings.h"

namespace stub::writer {

using LauncherTexts = std::array<std::u16string, kLauncherTextCount>;

struct LauncherLanguage {
  uint16_t language = 0;  // a Windows LANGID
  LauncherTexts texts;    // empty where the default holds
  bool operator==(const LauncherLanguage&) const = default;
};

using PackageDigest = std::array<uint8_t, kDigestSize>;

// What pkgtool learnt of one setup program for the launcher.
struct ProgramFacts {
  RequestedLevel level = RequestedLevel::kUnknown;
  bool namedInstaller = false;
  bool operator==(const ProgramFacts&) const = default;
};

struct LauncherSettingsChoice {
  bool passExitCode = false;
  std::vector<LauncherLanguage> languages;
  // Not the vendor's choice but facts pkgtool records beside it: the digest
  // of the package data, and what it found in the x86 (0) and x64 (1) setup
  // programs. Each record is written only when set.
  std::optional<PackageDigest> packageDigest = std::nullopt;
  std::optional<std::array<ProgramFacts, 2>> programs = std::nullopt;
  bool operator==(const LauncherSettingsChoice&) const = default;
};

// The resource's bytes. Throws std::invalid_argument for more than 65535
// languages or a text longer than 65535 units. Its size does not depend on
// the digest's value, so a stub can be given a placeholder first and the
// real digest once the package data exist, without moving them.
std::vector<uint8_t> EncodeLauncherSettings(const LauncherSettingsChoice& choice);
// The whole resource back, every language; nothing when it is not sound,
// with the reason in `fault` when asked for.
std::optional<LauncherSettingsChoice> DecodeLauncherSettingsChoice(const std::vector<uint8_t>& bytes,
                                                                   SettingsFault* fault = nullptr);
// Why a resource is not sound, as inspect says it.
const char* DescribeSettingsFault(SettingsFault fault);

// The stable names of the texts, as a recipe and inspect spell them:
// damaged, truncated, cannotCreateCopy, cannotExecute, expired, wrongWidth,
// unsupportedWindows, outOfMemory (launcher/Endings.h).
const char* LauncherTextKey(LauncherText which);
std::optional<LauncherText> LauncherTextFromKey(const std::string& key);

}  // namespace stub::writer
