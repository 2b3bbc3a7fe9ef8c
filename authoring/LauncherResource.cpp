#include "authoring/LauncherResource.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "launcher/Endings.h"
#include "package/CRC32.h"
#include "package/StubTypes.h"

namespace stub::writer {

namespace {

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The records behind the texts (layout in package/LauncherSettings.h).
void EncodeSettingsRecords(const LauncherSettingsChoice& choice, std::vector<uint8_t>& out) {
  if (choice.packageDigest) {
    PutU16(out, kSettingsRecordDigest);
    PutU16(out, static_cast<uint16_t>(kDigestSize));
    out.insert(out.end(), choice.packageDigest->begin(), choice.packageDigest->end());
  }
  if (choice.programs) {
    PutU16(out, kSettingsRecordPrograms);
    PutU16(out, static_cast<uint16_t>(kProgramsRecordSize));
    for (const ProgramFacts& p : *choice.programs) {
      out.push_back(static_cast<uint8_t>(p.level));
      out.push_back(p.namedInstaller ? 1 : 0);
    }
  }
}

}  // namespace

std::vector<uint8_t> EncodeLauncherSettings(const LauncherSettingsChoice& choice) {
  if (choice.languages.size() > 0xFFFF) throw std::invalid_argument("more than 65535 languages");
  std::vector<uint8_t> out;
  PutU32(out, kSettingsMagic);
  PutU16(out, kSettingsVersion);
  PutU16(out, choice.passExitCode ? kSettingsPassExitCode : 0);
  PutU16(out, static_cast<uint16_t>(choice.languages.size()));
  for (const LauncherLanguage& l : choice.languages) {
    PutU16(out, l.language);
    for (const std::u16string& text : l.texts) {
      if (text.size() > 0xFFFF) throw std::invalid_argument("a text longer than 65535 units");
      PutU16(out, static_cast<uint16_t>(text.size()));
    }
  }
  for (const LauncherLanguage& l : choice.languages) {
    for (const std::u16string& text : l.texts) {
      for (char16_t c : text) PutU16(out, c);
    }
  }
  EncodeSettingsRecords(choice, out);
  PutU32(out, Crc32(out.data(), out.size()));
  return out;
}

std::optional<LauncherSettingsChoice> DecodeLauncherSettingsChoice(const std::vector<uint8_t>& bytes,
                                                                   SettingsFault* fault) {
  // The launcher's own reading decides soundness and finds every part; this
  // only spreads out every language, which the launcher does not need.
  SettingsLayout layout;
  const SettingsFault found =
      bytes.size() > 0xFFFFFFFFu
          ? SettingsFault::kTooShort
          : ReadSettingsLayout(bytes.data(), static_cast<uint32_t>(bytes.size()), layout);
  if (fault) *fault = found;
  if (found != SettingsFault::kNone) return std::nullopt;
  LauncherSettings records;
  DecodeLauncherSettings(bytes.data(), static_cast<uint32_t>(bytes.size()), 0, records);

  LauncherSettingsChoice choice;
  choice.passExitCode = records.passExitCode;
  WalkSettingsTexts(layout, [&](uint32_t, uint16_t language, int t, const uint8_t* units,
                                uint32_t length) {
    if (t == 0) choice.languages.push_back(LauncherLanguage{language, {}});
    std::u16string& text = choice.languages.back().texts[t];
    for (uint32_t u = 0; u < length; ++u) text += static_cast<char16_t>(ReadU16(units + 2 * u));
  });
  if (records.hasDigest) {
    choice.packageDigest.emplace();
    std::copy(records.packageDigest, records.packageDigest + kDigestSize, choice.packageDigest->begin());
  }
  if (layout.programs) {
    choice.programs.emplace();
    for (int slot = 0; slot < 2; ++slot) {
      (*choice.programs)[slot] = {records.programLevel[slot], records.programNamedInstaller[slot]};
    }
  }
  return choice;
}

const char* DescribeSettingsFault(SettingsFault fault) {
  switch (fault) {
    case SettingsFault::kNone: return "sound";
    case SettingsFault::kTooShort: return "it is shorter than its header and checksum";
    case SettingsFault::kNotSettings: return "it does not start with the settings' magic \"LSET\"";
    case SettingsFault::kOtherVersion: return "it is of a format version this pkgtool does not know";
    case SettingsFault::kChecksum: return "its checksum does not match its bytes";
    case SettingsFault::kTable: return "its language table reaches past its end";
    case SettingsFault::kTexts: return "its text lengths add up to more than it holds";
    case SettingsFault::kRecords:
      return "its records after the texts do not fit, or one of them has the wrong size or "
             "comes twice";
  }
  return "it is damaged";
}

// A text's key is the key of the ending it belongs to.
const char* LauncherTextKey(LauncherText which) { return kEndings[static_cast<int>(which)].key; }

std::optional<LauncherText> LauncherTextFromKey(const std::string& key) {
  for (int t = 0; t < kLauncherTextCount; ++t) {
    if (key == kEndings[t].key) return static_cast<LauncherText>(t);
  }
  return std::nullopt;
}

}  // namespace stub::writer
