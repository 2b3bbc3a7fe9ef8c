#include "package/writer/LauncherResource.h"

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
  PutU32(out, Crc32(out.data(), out.size()));
  return out;
}

std::optional<LauncherSettingsChoice> DecodeLauncherSettingsChoice(const std::vector<uint8_t>& bytes) {
  // The launcher's own reading decides soundness; this only spreads out
  // every language, which it does not need.
  LauncherSettings check;
  const auto size = static_cast<uint32_t>(bytes.size());
  if (bytes.size() > 0xFFFFFFFFu || !DecodeLauncherSettings(bytes.data(), size, 0, check)) {
    return std::nullopt;
  }
  LauncherSettingsChoice choice;
  choice.passExitCode = check.passExitCode;
  const uint32_t count = ReadU16(bytes.data() + 8);
  uint32_t at = kSettingsHeaderSize + count * kSettingsEntrySize;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = bytes.data() + kSettingsHeaderSize + i * kSettingsEntrySize;
    LauncherLanguage l;
    l.language = ReadU16(entry);
    for (int t = 0; t < kLauncherTextCount; ++t) {
      const uint32_t length = ReadU16(entry + 2 + 2 * t);
      for (uint32_t u = 0; u < length; ++u, at += 2) l.texts[t] += static_cast<char16_t>(ReadU16(bytes.data() + at));
    }
    choice.languages.push_back(std::move(l));
  }
  return choice;
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
