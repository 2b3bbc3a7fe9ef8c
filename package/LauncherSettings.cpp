#include "package/LauncherSettings.h"

#include "package/CRC32.h"
#include "package/StubTypes.h"

namespace stub {

namespace {

// The records behind the texts, up to `body`. Known kinds must have their
// size and come once; other kinds are passed over.
SettingsFault ReadRecords(const uint8_t* data, uint32_t from, uint32_t body, SettingsLayout& layout) {
  // Each step checks what is left before it moves on, so `from` never
  // passes `body` and nothing can wrap.
  while (from != body) {
    if (body - from < kSettingsRecordHeaderSize) return SettingsFault::kRecords;
    const uint16_t kind = ReadU16(data + from);
    const uint32_t size = ReadU16(data + from + 2);
    from += kSettingsRecordHeaderSize;
    if (size > body - from) return SettingsFault::kRecords;
    const uint8_t** known = kind == kSettingsRecordDigest     ? &layout.digest
                            : kind == kSettingsRecordPrograms ? &layout.programs
                                                              : nullptr;
    if (known) {
      const uint32_t expected = kind == kSettingsRecordDigest ? kDigestSize : kProgramsRecordSize;
      if (size != expected || *known) return SettingsFault::kRecords;
      *known = data + from;
    }
    from += size;
  }
  return SettingsFault::kNone;
}

// What the records say, in the settings the launcher runs with.
void TakeRecords(const SettingsLayout& layout, LauncherSettings& settings) {
  settings.hasDigest = layout.digest != nullptr;
  for (uint32_t i = 0; i < kDigestSize; ++i) {
    settings.packageDigest[i] = layout.digest ? layout.digest[i] : 0;
  }
  for (int slot = 0; slot < 2; ++slot) {
    RequestedLevel level = RequestedLevel::kUnknown;
    bool named = false;
    if (layout.programs) {
      const uint8_t stored = layout.programs[2 * slot];
      // A level this launcher does not know is one it has to find out itself.
      if (stored <= static_cast<uint8_t>(RequestedLevel::kNotStated)) {
        level = static_cast<RequestedLevel>(stored);
      }
      named = layout.programs[2 * slot + 1] != 0;
    }
    settings.programLevel[slot] = level;
    settings.programNamedInstaller[slot] = named;
  }
}

}  // namespace

SettingsFault ReadSettingsLayout(const uint8_t* data, uint32_t size, SettingsLayout& layout) {
  layout = SettingsLayout{};
  if (!data || size < kSettingsHeaderSize + 4) return SettingsFault::kTooShort;
  const uint32_t body = size - 4;
  if (ReadU32(data) != kSettingsMagic) return SettingsFault::kNotSettings;
  const uint16_t version = ReadU16(data + 4);
  if (version != kSettingsVersion && version != kSettingsVersionSevenTexts) {
    return SettingsFault::kOtherVersion;
  }
  if (Crc32(data, body) != ReadU32(data + body)) return SettingsFault::kChecksum;
  layout.data = data;
  layout.flags = ReadU16(data + 6);
  layout.count = ReadU16(data + 8);
  layout.textsPerEntry = version == kSettingsVersion ? kLauncherTextCount : kLauncherTextCount - 1;
  layout.entrySize = 2 + 2 * static_cast<uint32_t>(layout.textsPerEntry);
  // At most 65535 entries of 18 bytes: no wrap in 32 bits.
  layout.textsAt = kSettingsHeaderSize + layout.count * layout.entrySize;
  if (layout.textsAt > body) return SettingsFault::kTable;

  // Up to 65535 entries of eight lengths of 65535 units each: their sum
  // needs 36 bits, so it is kept in 64.
  uint64_t textsEnd = layout.textsAt;
  for (uint32_t i = 0; i < layout.count; ++i) {
    const uint8_t* entry = data + kSettingsHeaderSize + i * layout.entrySize;
    for (int t = 0; t < layout.textsPerEntry; ++t) textsEnd += 2u * ReadU16(entry + 2 + 2 * t);
  }
  if (textsEnd > body) return SettingsFault::kTexts;
  return ReadRecords(data, static_cast<uint32_t>(textsEnd), body, layout);
}

bool DecodeLauncherSettings(const uint8_t* data, uint32_t size, const UserLanguages& user,
                            LauncherSettings& settings) {
  SettingsLayout layout;
  if (ReadSettingsLayout(data, size, layout) != SettingsFault::kNone) return false;

  settings.passExitCode = (layout.flags & kSettingsPassExitCode) != 0;
  TakeRecords(layout, settings);
  settings.language = 0;
  for (Text& text : settings.texts) text = Text();
  // Text by text, best match first: the first entry of the best rank that
  // has it (an entry for Austria may carry one text and leave the rest to
  // German), else the default.
  for (uint32_t rank = 0; rank < 2 * user.count; ++rank) {
    WalkSettingsTexts(layout, [&](uint32_t, uint16_t language, int t, const uint8_t* units,
                                  uint32_t length) {
      if (length == 0 || !settings.texts[t].Empty() || LanguageMatchRank(language, user) != rank) {
        return;
      }
      if (settings.language == 0) settings.language = language;
      for (uint32_t u = 0; u < length; ++u) {
        settings.texts[t].Append(static_cast<char16_t>(ReadU16(units + 2 * u)));
      }
    });
  }
  return true;
}

}  // namespace stub
