// The vendor's launcher settings: what the package's author chose beyond
// what the package header can say, kept in the stub's own resources (an
// RT_RCDATA resource named "LAUNCHER") so that the package format stays as
// it is. A package without that resource has none of them and behaves as
// every package always has.
//
// The resource, all numbers little-endian:
//
//   offset 0   u32  magic "LSET"
//          4   u16  format version, 2
//          6   u16  flags: bit 0 passes the setup program's exit code on
//                   (deployment mode)
//          8   u16  number of languages, n
//         10   n entries of 16 bytes: u16 language id (a Windows LANGID),
//                   then seven u16 text lengths in UTF-16 units, one per
//                   LauncherText, 0 where the language keeps the default
//              the texts, UTF-16LE without terminators: each entry's
//                   non-empty ones in LauncherText order, entries in order
//   last 4     u32  CRC-32 of everything before it
//
// The resource lies in the stub's image, which the package's own checksum
// does not cover, so it carries its own.
#pragma once

#include <cstdint>

#include "package/LanguageChoice.h"
#include "package/Text.h"

namespace stub {

// The texts a language may replace: the launcher's four fixed messages,
// the package's three refusal texts, then the out-of-memory text. They share
// their order with EndReason (launcher/Endings.h checks it).
enum class LauncherText : uint8_t {
  kDamaged,
  kTruncated,
  kCannotCreateCopy,
  kCannotExecute,
  kExpired,
  kWrongWidth,
  kUnsupportedWindows,
  kOutOfMemory,
};
constexpr int kLauncherTextCount = 8;

constexpr uint32_t kSettingsMagic = 0x5445534Cu;  // "LSET"
constexpr uint16_t kSettingsVersion = 2;
constexpr uint16_t kSettingsPassExitCode = 0x0001;
constexpr uint32_t kSettingsHeaderSize = 10;
constexpr uint32_t kSettingsEntrySize = 2 + 2 * kLauncherTextCount;
// The resource's name, under RT_RCDATA.
inline constexpr char16_t kSettingsResourceName[] = u"LAUNCHER";

// What the launcher runs with: deployment mode, and the texts chosen for
// this user (empty where the default holds).
struct LauncherSettings {
  bool passExitCode = false;
  uint16_t language = 0;  // the first entry a text came from; 0 when none
  Text texts[kLauncherTextCount];

  const Text& TextFor(LauncherText which) const { return texts[static_cast<int>(which)]; }
};

// Reads the resource's `size` bytes at `data` and chooses the texts for
// `user`, text by text: from the entry that serves the user best
// (LanguageMatchRank: the display language exactly, then the same language
// and script, then each of the user's fallbacks so), the first such entry
// that has the text, else none (the default). False when the resource is not
// sound (size, magic, version, counts, checksum): `settings` is then left as
// it was.
bool DecodeLauncherSettings(const uint8_t* data, uint32_t size, const UserLanguages& user,
                            LauncherSettings& settings);
// The same for a user with one language (0: none).
inline bool DecodeLauncherSettings(const uint8_t* data, uint32_t size, uint16_t userLanguage,
                                   LauncherSettings& settings) {
  UserLanguages user;
  user.Add(userLanguage);
  return DecodeLauncherSettings(data, size, user, settings);
}

}  // namespace stub
