#include "package/LanguageChoice.h"

namespace stub {

namespace {

// The languages Windows writes in more than one script, by sublanguage
// (the LANGID's top six bits): entries of one group read alike, entries of
// different groups do not. The Serbo-Croatian family shares one primary
// language; its groups are Croatian, Serbian in each script and Bosnian in
// each script.
struct ScriptGroup {
  uint8_t primary;
  uint8_t sublanguage;
  uint8_t group;
};
enum : uint8_t { kHant = 1, kHans, kHr, kSrLatn, kSrCyrl, kBsLatn, kBsCyrl, kLatn, kCyrl, kArab, kOther };
constexpr ScriptGroup kScriptGroups[] = {
    // Chinese: Taiwan, Hong Kong, Macau and zh-Hant; China, Singapore and zh-Hans.
    {0x04, 0x01, kHant}, {0x04, 0x03, kHant}, {0x04, 0x05, kHant}, {0x04, 0x1F, kHant},
    {0x04, 0x00, kHans}, {0x04, 0x02, kHans}, {0x04, 0x04, kHans},
    {0x1A, 0x00, kHr},     {0x1A, 0x01, kHr},     {0x1A, 0x04, kHr},
    {0x1A, 0x02, kSrLatn}, {0x1A, 0x06, kSrLatn}, {0x1A, 0x09, kSrLatn}, {0x1A, 0x0B, kSrLatn},
    {0x1A, 0x1C, kSrLatn}, {0x1A, 0x1F, kSrLatn},
    {0x1A, 0x03, kSrCyrl}, {0x1A, 0x07, kSrCyrl}, {0x1A, 0x0A, kSrCyrl}, {0x1A, 0x0C, kSrCyrl},
    {0x1A, 0x1B, kSrCyrl},
    {0x1A, 0x05, kBsLatn}, {0x1A, 0x1A, kBsLatn}, {0x1A, 0x1E, kBsLatn},
    {0x1A, 0x08, kBsCyrl}, {0x1A, 0x19, kBsCyrl},
    // Azerbaijani, Uzbek: Latin and Cyrillic.
    {0x2C, 0x01, kLatn}, {0x2C, 0x1F, kLatn}, {0x2C, 0x02, kCyrl}, {0x2C, 0x1D, kCyrl},
    {0x43, 0x01, kLatn}, {0x43, 0x1F, kLatn}, {0x43, 0x02, kCyrl}, {0x43, 0x1E, kCyrl},
    // Mongolian: Cyrillic and the traditional script.
    {0x50, 0x01, kCyrl}, {0x50, 0x1E, kCyrl}, {0x50, 0x02, kOther}, {0x50, 0x1F, kOther},
    // Inuktitut: syllabics and Latin.
    {0x5D, 0x01, kOther}, {0x5D, 0x1E, kOther}, {0x5D, 0x02, kLatn}, {0x5D, 0x1F, kLatn},
    // Punjabi and Sindhi: the Indian script and the Arabic one.
    {0x46, 0x01, kOther}, {0x46, 0x02, kArab}, {0x46, 0x1F, kArab},
    {0x59, 0x01, kOther}, {0x59, 0x02, kArab}, {0x59, 0x1F, kArab},
};

constexpr uint8_t kSingleScript = 0xFF;

// The group of `language`: kSingleScript for a language written one way,
// 0 for a sublanguage of a many-script language that the table lacks.
uint8_t GroupOf(uint16_t language) {
  const uint16_t primary = PrimaryLanguage(language);
  const uint8_t sublanguage = static_cast<uint8_t>(language >> 10);
  uint8_t found = kSingleScript;
  for (const ScriptGroup& g : kScriptGroups) {
    if (g.primary != primary) continue;
    if (g.sublanguage == sublanguage) return g.group;
    found = 0;
  }
  return found;
}

}  // namespace

void UserLanguages::Add(uint16_t language) {
  if (language == 0 || count >= kMaxUserLanguages) return;
  for (uint32_t i = 0; i < count; ++i) {
    if (ids[i] == language) return;
  }
  ids[count++] = language;
}

bool SameLanguageAndScript(uint16_t a, uint16_t b) {
  if (PrimaryLanguage(a) != PrimaryLanguage(b)) return false;
  if (a == b) return true;
  // LANG_NEUTRAL is no language: its ids (0x0000, the user's and the
  // system's default, 0x0400 and 0x0800) share nothing with one another.
  if (PrimaryLanguage(a) == 0) return false;
  const uint8_t group = GroupOf(a);
  return group == kSingleScript || (group != 0 && group == GroupOf(b));
}

uint32_t LanguageMatchRank(uint16_t entry, const UserLanguages& user) {
  for (uint32_t i = 0; i < user.count && i < kMaxUserLanguages; ++i) {
    if (entry == user.ids[i]) return 2 * i;
    if (SameLanguageAndScript(entry, user.ids[i])) return 2 * i + 1;
  }
  return kNoMatch;
}

uint32_t ParseLanguageIdList(const char16_t* list, uint32_t length, uint16_t* languages,
                             uint32_t capacity) {
  uint32_t found = 0;
  uint32_t value = 0;
  uint32_t digits = 0;  // 5 and more: this entry is spoilt
  for (uint32_t i = 0; i < length && found < capacity; ++i) {
    const char16_t c = list[i];
    if (c == 0) {
      if (digits == 0) break;
      if (digits <= 4 && value != 0) languages[found++] = static_cast<uint16_t>(value);
      value = digits = 0;
      continue;
    }
    const uint32_t digit = c >= u'0' && c <= u'9'   ? c - u'0'
                           : c >= u'A' && c <= u'F' ? c - u'A' + 10
                           : c >= u'a' && c <= u'f' ? c - u'a' + 10
                                                    : 16;
    digits = digit < 16 && digits < 5 ? digits + 1 : 5;
    value = (value << 4 | (digit & 15)) & 0xFFFF;
  }
  return found;
}

}  // namespace stub
