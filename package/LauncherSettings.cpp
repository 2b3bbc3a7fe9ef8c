#include "package/LauncherSettings.h"

#include "package/CRC32.h"
#include "package/StubTypes.h"

namespace stub {

bool DecodeLauncherSettings(const uint8_t* data, uint32_t size, uint16_t userLanguage,
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

  // The texts must fill the rest exactly. Where the chosen entry's begin is
  // found on the way: the exact language, else the first of its family.
  int exact = -1, family = -1;
  uint32_t exactAt = 0, familyAt = 0;
  uint32_t at = tableEnd;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = data + kSettingsHeaderSize + i * kSettingsEntrySize;
    const uint16_t language = ReadU16(entry);
    if (userLanguage != 0 && exact < 0 && language == userLanguage) {
      exact = static_cast<int>(i);
      exactAt = at;
    }
    if (userLanguage != 0 && family < 0 && PrimaryLanguage(language) == PrimaryLanguage(userLanguage)) {
      family = static_cast<int>(i);
      familyAt = at;
    }
    for (int t = 0; t < kLauncherTextCount; ++t) at += 2u * ReadU16(entry + 2 + 2 * t);
  }
  const int chosen = exact >= 0 ? exact : family;
  const uint32_t chosenAt = exact >= 0 ? exactAt : familyAt;
  if (at != body) return false;

  settings.passExitCode = (flags & kSettingsPassExitCode) != 0;
  settings.language = 0;
  for (Text& text : settings.texts) text = Text();
  if (chosen < 0) return true;
  const uint8_t* entry = data + kSettingsHeaderSize + chosen * kSettingsEntrySize;
  settings.language = ReadU16(entry);
  at = chosenAt;
  for (int t = 0; t < kLauncherTextCount; ++t) {
    const uint32_t length = ReadU16(entry + 2 + 2 * t);
    for (uint32_t u = 0; u < length; ++u, at += 2) settings.texts[t].Append(static_cast<char16_t>(ReadU16(data + at)));
  }
  return true;
}

}  // namespace stub
