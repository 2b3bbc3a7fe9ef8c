#include "package/LauncherSettings.h"

#include "package/CRC32.h"
#include "package/StubTypes.h"

namespace stub {

bool DecodeLauncherSettings(const uint8_t* data, uint32_t size, const UserLanguages& user,
                            LauncherSettings& settings) {
  // Every count is checked against what is really there before it is used;
  // the sums stay far below 2^32 (65535 entries of 16 bytes, seven lengths
  // of 65535 units each).
  if (!data || size < kSettingsHeaderSize + 4) return false;
  const uint32_t body = size - 4;
  if (ReadU32(data) != kSettingsMagic || ReadU16(data + 4) != kSettingsVersion ||
      Crc32(data, body) != ReadU32(data + body)) {
    return false;
  }
  const uint16_t flags = ReadU16(data + 6);
  const uint32_t count = ReadU16(data + 8);
  const uint32_t tableEnd = kSettingsHeaderSize + count * kSettingsEntrySize;
  if (tableEnd > body) return false;

  // The texts must fill the rest exactly.
  uint32_t at = tableEnd;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = data + kSettingsHeaderSize + i * kSettingsEntrySize;
    for (int t = 0; t < kLauncherTextCount; ++t) at += 2u * ReadU16(entry + 2 + 2 * t);
  }
  if (at != body) return false;

  settings.passExitCode = (flags & kSettingsPassExitCode) != 0;
  settings.language = 0;
  for (Text& text : settings.texts) text = Text();
  // Text by text, best match first: the first entry of the best rank that
  // has it (an entry for Austria may carry one text and leave the rest to
  // German), else the default.
  for (uint32_t rank = 0; rank < 2 * user.count; ++rank) {
    at = tableEnd;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = data + kSettingsHeaderSize + i * kSettingsEntrySize;
      const uint16_t language = ReadU16(entry);
      const bool matches = LanguageMatchRank(language, user) == rank;
      for (int t = 0; t < kLauncherTextCount; ++t) {
        const uint32_t length = ReadU16(entry + 2 + 2 * t);
        if (matches && length != 0 && settings.texts[t].Empty()) {
          if (settings.language == 0) settings.language = language;
          for (uint32_t u = 0; u < length; ++u) {
            settings.texts[t].Append(static_cast<char16_t>(ReadU16(data + at + 2 * u)));
          }
        }
        at += 2 * length;
      }
    }
  }
  return true;
}

}  // namespace stub
