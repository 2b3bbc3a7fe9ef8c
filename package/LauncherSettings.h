// The vendor's launcher settings: what the package's author chose beyond
// what the package header can say, kept in the stub's own resources (an
// RT_RCDATA resource named "LAUNCHER") so that the package format stays as
// it is. A package without that resource has none of them and behaves as
// every package always has.
//
// The resource, all numbers little-endian:
//
//   offset 0   u32  magic "LSET"
//          4   u16  format version, 2 (1 is read too: its entries have
//                   seven lengths, without the out-of-memory text)
//          6   u16  flags: bit 0 passes the setup program's exit code on
//                   (deployment mode)
//          8   u16  number of languages, n
//         10   n entries of 18 bytes: u16 language id (a Windows LANGID),
//                   then eight u16 text lengths in UTF-16 units, one per
//                   LauncherText, 0 where the language keeps the default
//              the texts, UTF-16LE without terminators: each entry's
//                   non-empty ones in LauncherText order, entries in order
//              records, none or more up to the checksum, each a u16 kind,
//                   a u16 size in bytes, then that many bytes:
//                   kind 1, 32 bytes: SHA-256 of the package data (the span
//                     the locator's checksum covers)
//                   kind 2, 4 bytes: for the x86 and then the x64 setup
//                     program, the RequestedLevel its manifest asks for and
//                     1 when its version information names an installer
//                   other kinds are passed over, so that a later format can
//                   add records that this reader need not know
//   last 4     u32  CRC-32 of everything before it
//
// The resource lies in the stub's image, which the package's own checksum
// does not cover, so it carries its own. It is also the part of the file that
// an Authenticode signature covers and Windows maps as the running image:
// the digest kept there vouches for package data that the file itself can
// no longer be trusted to keep (it may be swapped after the signature was
// shown).
//
// Resources written before the records existed end with their texts and
// read as they always have. A reader that knows no records refuses a
// resource that has any.
#pragma once

#include <cstdint>

#include "launch/ExecutionLevel.h"
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
// Written by pkgtool before the out-of-memory text could be replaced; still
// read, so that inspect shows packages built then.
constexpr uint16_t kSettingsVersionSevenTexts = 1;
constexpr uint16_t kSettingsPassExitCode = 0x0001;
constexpr uint32_t kSettingsHeaderSize = 10;
constexpr uint32_t kSettingsEntrySize = 2 + 2 * kLauncherTextCount;
constexpr uint16_t kSettingsRecordDigest = 1;
constexpr uint16_t kSettingsRecordPrograms = 2;
constexpr uint32_t kSettingsRecordHeaderSize = 4;
constexpr uint32_t kDigestSize = 32;  // SHA-256
constexpr uint32_t kProgramsRecordSize = 4;
// The resource's name, under RT_RCDATA.
inline constexpr char16_t kSettingsResourceName[] = u"LAUNCHER";

// What the launcher runs with: deployment mode, and the texts chosen for
// this user (empty where the default holds).
struct LauncherSettings {
  bool passExitCode = false;
  uint16_t language = 0;  // the first entry a text came from; 0 when none
  Text texts[kLauncherTextCount];
  // The SHA-256 the package data must have; the check is skipped without one
  // (packages built before pkgtool recorded it).
  bool hasDigest = false;
  uint8_t packageDigest[kDigestSize] = {};
  // What pkgtool found in each setup program, index 0 the x86 one, 1 the
  // x64 one: the execution level its manifest asks for (kUnknown when the
  // resource does not say) and whether its version information holds a word
  // that Windows' installer detection looks for.
  RequestedLevel programLevel[2] = {RequestedLevel::kUnknown, RequestedLevel::kUnknown};
  bool programNamedInstaller[2] = {false, false};

  const Text& TextFor(LauncherText which) const { return texts[static_cast<int>(which)]; }
};

// Why a resource is not sound.
enum class SettingsFault : uint8_t {
  kNone,
  kTooShort,      // smaller than a header and its checksum
  kNotSettings,   // another magic
  kOtherVersion,  // a format this reader does not know
  kChecksum,      // the CRC-32 does not match
  kTable,         // the language table reaches past the end
  kTexts,         // the text lengths add up to more, or less, than is there
  kRecords,       // a record that does not fit, or a known one of the wrong size or twice
};

// The resource's parts, checked: every offset below lies within it.
struct SettingsLayout {
  const uint8_t* data = nullptr;
  uint16_t flags = 0;
  uint32_t count = 0;           // entries in the language table
  uint32_t textsAt = 0;         // where the texts start (the table's end)
  uint32_t entrySize = 0;       // bytes per table entry: 16 in version 1, 18 in 2
  int textsPerEntry = 0;        // lengths per entry: 7 in version 1, 8 in 2
  const uint8_t* digest = nullptr;    // kDigestSize bytes, or null
  const uint8_t* programs = nullptr;  // kProgramsRecordSize bytes, or null
};

// The one reading of the resource's layout, for the launcher and pkgtool
// alike: header, checksum, table, texts and records, every count checked
// against what is really there in a width that cannot wrap. `layout` is
// complete only when the result is kNone.
SettingsFault ReadSettingsLayout(const uint8_t* data, uint32_t size, SettingsLayout& layout);

// Every entry's texts in table order, empty ones included:
// visit(entry, language, which, units, length) with `units` the text's
// `length` UTF-16LE units. Only for a layout ReadSettingsLayout accepted,
// which proved that every text lies inside the resource.
template <typename Visit>
void WalkSettingsTexts(const SettingsLayout& layout, Visit&& visit) {
  uint32_t at = layout.textsAt;
  for (uint32_t i = 0; i < layout.count; ++i) {
    const uint8_t* entry = layout.data + kSettingsHeaderSize + i * layout.entrySize;
    const uint16_t language = static_cast<uint16_t>(entry[0] | (entry[1] << 8));
    for (int t = 0; t < layout.textsPerEntry; ++t) {
      const uint32_t length = static_cast<uint32_t>(entry[2 + 2 * t] | (entry[3 + 2 * t] << 8));
      visit(i, language, t, layout.data + at, length);
      at += 2 * length;
    }
  }
}

// Reads the resource's `size` bytes at `data` and chooses the texts for
// `user`, text by text: from the entry that serves the user best
// (LanguageMatchRank: the display language exactly, then the same language
// and script, then each of the user's fallbacks so), the first such entry
// that has the text, else none (the default). False when the resource is not
// sound (ReadSettingsLayout): `settings` is then left as it was.
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
