// The vendor's settings resource: which language a user gets, and which
// resources are not sound.
#include "package/LauncherSettings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "authoring/LauncherResource.h"
#include "package/CRC32.h"
#include "package/StubTypes.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

using writer::EncodeLauncherSettings;
using writer::LauncherLanguage;
using writer::LauncherSettingsChoice;

LauncherLanguage Language(uint16_t id, const std::u16string& damaged, const std::u16string& expired = u"") {
  LauncherLanguage l;
  l.language = id;
  l.texts[static_cast<int>(LauncherText::kDamaged)] = damaged;
  l.texts[static_cast<int>(LauncherText::kExpired)] = expired;
  return l;
}

const LauncherSettingsChoice kChoice{
    true,
    {Language(0x0407, u"de-DE", u"abgelaufen"), Language(0x0C07, u"de-AT"), Language(0x040C, u"fr"),
     Language(0x0411, u"ja")}};

struct ChoiceCase {
  const char* name;
  uint16_t userLanguage;
  uint16_t chosen;  // 0: none, the defaults hold
  std::u16string damaged;
};
void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class LanguageChoiceTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(LanguageChoiceTest, ExactThenSameLanguageThenDefault) {
  const ChoiceCase& c = GetParam();
  const std::vector<uint8_t> bytes = EncodeLauncherSettings(kChoice);
  LauncherSettings settings;
  ASSERT_TRUE(DecodeLauncherSettings(bytes.data(), static_cast<uint32_t>(bytes.size()), c.userLanguage,
                                     settings));
  EXPECT_TRUE(settings.passExitCode);
  EXPECT_EQ(settings.language, c.chosen);
  EXPECT_EQ(ToU16(settings.TextFor(LauncherText::kDamaged)), c.damaged);
  // A text the chosen entry lacks comes from its language's first entry
  // that has it; one no entry has stays empty.
  EXPECT_EQ(ToU16(settings.TextFor(LauncherText::kExpired)),
            PrimaryLanguage(c.chosen) == 0x07 ? u"abgelaufen" : u"");
  EXPECT_TRUE(settings.TextFor(LauncherText::kCannotExecute).Empty());
}

INSTANTIATE_TEST_SUITE_P(
    Users, LanguageChoiceTest,
    testing::Values(ChoiceCase{"Exact", 0x0407, 0x0407, u"de-DE"},
                    ChoiceCase{"ExactBeatsAnEarlierOneOfTheSameLanguage", 0x0C07, 0x0C07, u"de-AT"},
                    ChoiceCase{"SameLanguageTakesTheFirst", 0x0807, 0x0407, u"de-DE"},
                    ChoiceCase{"OnlyOneOfTheLanguage", 0x080C, 0x040C, u"fr"},
                    ChoiceCase{"LaterEntry", 0x0411, 0x0411, u"ja"},
                    ChoiceCase{"NoneOfTheUsersLanguage", 0x0409, 0, u""},
                    ChoiceCase{"LanguageUnknown", 0, 0, u""}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

// Scripts and the user's own fallbacks: an entry serves another region of
// its language only in the same script, and every language the user set in
// Windows comes before the default.
struct ScriptCase {
  const char* name;
  std::vector<uint16_t> user;  // display language first
  std::vector<uint16_t> entries;
  uint16_t chosen;  // 0: the default
};
void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }

class ScriptChoiceTest : public testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptChoiceTest, ChoosesInTheUsersScript) {
  const ScriptCase& c = GetParam();
  LauncherSettingsChoice choice;
  for (uint16_t id : c.entries) choice.languages.push_back(Language(id, u"text"));
  const std::vector<uint8_t> bytes = EncodeLauncherSettings(choice);
  UserLanguages user;
  for (uint16_t id : c.user) user.Add(id);
  LauncherSettings settings;
  ASSERT_TRUE(DecodeLauncherSettings(bytes.data(), static_cast<uint32_t>(bytes.size()), user, settings));
  EXPECT_EQ(settings.language, c.chosen);
  EXPECT_EQ(settings.TextFor(LauncherText::kDamaged).Empty(), c.chosen == 0);
}

// pkgtool's order of entries: what --launcher-languages all ships (zh-CN),
// then the vendor's own by language id.
const std::vector<uint16_t> kChinese = {0x0804, 0x0404};
const std::vector<uint16_t> kSerboCroatian = {0x041A, 0x241A, 0x281A};
INSTANTIATE_TEST_SUITE_P(
    Users, ScriptChoiceTest,
    testing::Values(ScriptCase{"TaiwanExact", {0x0404}, kChinese, 0x0404},
                    ScriptCase{"HongKongGetsTraditional", {0x0C04}, kChinese, 0x0404},
                    ScriptCase{"MacauGetsTraditional", {0x1404}, kChinese, 0x0404},
                    ScriptCase{"ZhHantGetsTraditional", {0x7C04}, kChinese, 0x0404},
                    ScriptCase{"SingaporeGetsSimplified", {0x1004}, kChinese, 0x0804},
                    ScriptCase{"TraditionalNeverGetsSimplified", {0x0C04}, {0x0804}, 0},
                    ScriptCase{"SimplifiedNeverGetsTraditional", {0x1004}, {0x0404}, 0},
                    ScriptCase{"OwnScriptBeforeTheFallbacksExact", {0x0C04, 0x0804}, kChinese, 0x0404},
                    ScriptCase{"SerbianCyrillicInBosnia", {0x1C1A}, kSerboCroatian, 0x281A},
                    ScriptCase{"SerbianLatinInMontenegro", {0x2C1A}, kSerboCroatian, 0x241A},
                    ScriptCase{"CroatianInBosnia", {0x101A}, kSerboCroatian, 0x041A},
                    ScriptCase{"SerbianCyrillicNeverGetsLatinOrCroatian", {0x281A}, {0x041A, 0x241A}, 0},
                    ScriptCase{"BosnianNeverGetsCroatianOrSerbian", {0x141A}, kSerboCroatian, 0},
                    ScriptCase{"CatalanFallsBackToSpanish", {0x0403, 0x0C0A}, {0x0407, 0x0C0A}, 0x0C0A},
                    ScriptCase{"BasqueFallsBackToAnotherSpanish", {0x042D, 0x080A}, {0x0C0A}, 0x0C0A},
                    ScriptCase{"CatalanWithoutFallbacks", {0x0403}, {0x0C0A}, 0},
                    ScriptCase{"OwnLanguageBeforeTheFallbacks", {0x0807, 0x0C0A}, {0x0C0A, 0x0407}, 0x0407},
                    ScriptCase{"OneScriptLanguagesStillShare", {0x080C}, {0x040C}, 0x040C},
                    ScriptCase{"NeutralIdsShareNothing", {0x0800}, {0x0400, 0x0000}, 0}),
    [](const testing::TestParamInfo<ScriptCase>& info) { return info.param.name; });

// Windows' list of the user's languages, as GetUserPreferredUILanguages
// writes it with MUI_LANGUAGE_ID.
struct ListCase {
  const char* name;
  std::u16string list;  // with its NULs
  uint32_t capacity;
  std::vector<uint16_t> languages;
};
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class LanguageListTest : public testing::TestWithParam<ListCase> {};

TEST_P(LanguageListTest, ReadsTheHexadecimalIds) {
  const ListCase& c = GetParam();
  uint16_t out[8] = {};
  const uint32_t count =
      ParseLanguageIdList(c.list.data(), static_cast<uint32_t>(c.list.size()), out, c.capacity);
  EXPECT_EQ(std::vector<uint16_t>(out, out + count), c.languages);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Lists, LanguageListTest,
    testing::Values(ListCase{"CatalanThenSpanish", u"0403\0" u"0C0A\0\0"s, 8, {0x0403, 0x0C0A}},
                    ListCase{"LowerCaseDigits", u"0c04\0\0"s, 8, {0x0C04}},
                    ListCase{"Empty", u"\0"s, 8, {}},
                    ListCase{"StopsAtTheListsEnd", u"0407\0\0" u"0409\0"s, 8, {0x0407}},
                    ListCase{"NoNulAtAll", u"0407"s, 8, {}},
                    ListCase{"NotANumberIsSkipped", u"en-US\0" u"0409\0\0"s, 8, {0x0409}},
                    ListCase{"TooLongIsSkipped", u"104090\0" u"0411\0\0"s, 8, {0x0411}},
                    ListCase{"ZeroIsSkipped", u"0000\0" u"0411\0\0"s, 8, {0x0411}},
                    ListCase{"UpToTheCapacity", u"0403\0" u"0C0A\0" u"0409\0\0"s, 2, {0x0403, 0x0C0A}}),
    [](const testing::TestParamInfo<ListCase>& info) { return info.param.name; });

// A resource that is not sound is refused whole, and nothing of it is taken.
struct UnsoundCase {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> damage;
  bool fixChecksum;  // damage behind a checksum made to match
};
void PrintTo(const UnsoundCase& c, std::ostream* os) { *os << c.name; }

class UnsoundSettingsTest : public testing::TestWithParam<UnsoundCase> {};

TEST_P(UnsoundSettingsTest, IsRefusedWhole) {
  std::vector<uint8_t> bytes = EncodeLauncherSettings(kChoice);
  GetParam().damage(bytes);
  if (GetParam().fixChecksum && bytes.size() >= 4) {
    WriteU32(bytes.data() + bytes.size() - 4, Crc32(bytes.data(), bytes.size() - 4));
  }
  LauncherSettings settings;
  settings.texts[0] = Text(u"untouched");
  EXPECT_FALSE(DecodeLauncherSettings(bytes.data(), static_cast<uint32_t>(bytes.size()), 0x0407, settings));
  EXPECT_FALSE(settings.passExitCode);
  EXPECT_EQ(ToU16(settings.texts[0]), u"untouched");
}

INSTANTIATE_TEST_SUITE_P(
    Resources, UnsoundSettingsTest,
    testing::Values(
        UnsoundCase{"Empty", [](auto& b) { b.clear(); }, false},
        UnsoundCase{"OnlyAHeader", [](auto& b) { b.resize(kSettingsHeaderSize); }, false},
        UnsoundCase{"FlippedTextByte", [](auto& b) { b[b.size() - 6] ^= 1; }, false},
        UnsoundCase{"CutShort", [](auto& b) { b.erase(b.end() - 6, b.end() - 4); }, true},
        UnsoundCase{"OneByteTooMany", [](auto& b) { b.insert(b.end() - 4, 0); }, true},
        UnsoundCase{"OtherMagic", [](auto& b) { b[0] = 'X'; }, true},
        UnsoundCase{"LaterVersion", [](auto& b) { b[4] = kSettingsVersion + 1; }, true},
        UnsoundCase{"MoreLanguagesThanThere", [](auto& b) { b[8] = 200; }, true},
        UnsoundCase{"TextLongerThanThere", [](auto& b) { b[kSettingsHeaderSize + 3] = 0x7F; }, true}),
    [](const testing::TestParamInfo<UnsoundCase>& info) { return info.param.name; });

TEST(LauncherResourceTest, EveryLanguageComesBackAsWritten) {
  EXPECT_EQ(writer::DecodeLauncherSettingsChoice(EncodeLauncherSettings(kChoice)), kChoice);
  LauncherSettingsChoice withFacts = kChoice;
  withFacts.packageDigest.emplace();
  for (size_t i = 0; i < withFacts.packageDigest->size(); ++i) (*withFacts.packageDigest)[i] = static_cast<uint8_t>(i * 9);
  withFacts.programs = {{{RequestedLevel::kRequireAdministrator, false}, {RequestedLevel::kNotStated, true}}};
  EXPECT_EQ(writer::DecodeLauncherSettingsChoice(EncodeLauncherSettings(withFacts)), withFacts);
}

// Seals `bytes` with its CRC-32 in the last four bytes.
void Seal(std::vector<uint8_t>& bytes) {
  WriteU32(bytes.data() + bytes.size() - 4, Crc32(bytes.data(), bytes.size() - 4));
}

TEST(LauncherSettingsTest, LengthsThatWrapIn32BitsAreRefused) {
  const std::vector<uint8_t> bytes = test::WrappingSettingsResource();
  ASSERT_EQ(bytes.size(), 75214u);
  SettingsLayout layout;
  EXPECT_EQ(ReadSettingsLayout(bytes.data(), static_cast<uint32_t>(bytes.size()), layout), SettingsFault::kTexts);
  LauncherSettings settings;
  EXPECT_FALSE(DecodeLauncherSettings(bytes.data(), static_cast<uint32_t>(bytes.size()), 0x0407, settings));
  SettingsFault fault = SettingsFault::kNone;
  EXPECT_FALSE(writer::DecodeLauncherSettingsChoice(bytes, &fault));
  EXPECT_EQ(fault, SettingsFault::kTexts);
}

// The records behind the texts: what each resource gives the launcher.
struct RecordCase {
  const char* name;
  std::vector<uint8_t> records;  // put between the texts and the checksum
  SettingsFault fault;
  bool hasDigest = false;
  RequestedLevel x86Level = RequestedLevel::kUnknown;
  bool x64Named = false;
};
void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint8_t> Record(uint16_t kind, std::vector<uint8_t> data, int sizeChange = 0) {
  std::vector<uint8_t> r(4);
  WriteU16(r.data(), kind);
  WriteU16(r.data() + 2, static_cast<uint16_t>(data.size() + sizeChange));
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const std::vector<uint8_t> kDigest(32, 0x5A);
const std::vector<uint8_t> kPrograms = {3, 0, 4, 1};  // requireAdministrator; not stated, named

class SettingsRecordTest : public testing::TestWithParam<RecordCase> {};

TEST_P(SettingsRecordTest, ReadsWhatIsThereAndRefusesWhatDoesNotFit) {
  const RecordCase& c = GetParam();
  std::vector<uint8_t> bytes = EncodeLauncherSettings(kChoice);  // written without records
  bytes.insert(bytes.end() - 4, c.records.begin(), c.records.end());
  Seal(bytes);
  SettingsLayout layout;
  EXPECT_EQ(ReadSettingsLayout(bytes.data(), static_cast<uint32_t>(bytes.size()), layout), c.fault);
  LauncherSettings settings;
  ASSERT_EQ(DecodeLauncherSettings(bytes.data(), static_cast<uint32_t>(bytes.size()), 0x0407, settings),
            c.fault == SettingsFault::kNone);
  if (c.fault != SettingsFault::kNone) return;
  EXPECT_EQ(ToU16(settings.TextFor(LauncherText::kDamaged)), u"de-DE");  // the texts as ever
  EXPECT_EQ(settings.hasDigest, c.hasDigest);
  EXPECT_EQ(settings.packageDigest[31], c.hasDigest ? 0x5A : 0);
  EXPECT_EQ(settings.programLevel[0], c.x86Level);
  EXPECT_EQ(settings.programNamedInstaller[1], c.x64Named);
}

using F = SettingsFault;
using L = RequestedLevel;
INSTANTIATE_TEST_SUITE_P(
    Records, SettingsRecordTest,
    testing::Values(
        RecordCase{"WrittenBeforeRecords", {}, F::kNone, false, L::kUnknown, false},
        RecordCase{"Digest", Record(1, kDigest), F::kNone, true, L::kUnknown, false},
        RecordCase{"Programs", Record(2, kPrograms), F::kNone, false, L::kRequireAdministrator, true},
        RecordCase{"Both", Record(2, kPrograms) + Record(1, kDigest), F::kNone, true, L::kRequireAdministrator, true},
        RecordCase{"UnknownKindPassedOver", Record(9, {1, 2, 3}) + Record(1, kDigest), F::kNone, true, L::kUnknown, false},
        RecordCase{"UnknownLevelIsUnknown", Record(2, {7, 0, 0, 0}), F::kNone, false, L::kUnknown, false},
        RecordCase{"DigestCutShort", Record(1, kDigest, 1), F::kRecords},
        RecordCase{"DigestOfAnotherSize", Record(1, std::vector<uint8_t>(31, 0x5A)), F::kRecords},
        RecordCase{"DigestTwice", Record(1, kDigest) + Record(1, kDigest), F::kRecords},
        RecordCase{"HalfARecordHeader", {1, 0}, F::kRecords},
        RecordCase{"ProgramsOfAnotherSize", Record(2, {3, 0}), F::kRecords}),
    [](const testing::TestParamInfo<RecordCase>& info) { return info.param.name; });

TEST(LauncherSettingsTest, EveryFaultHasItsReason) {
  struct Case {
    std::function<void(std::vector<uint8_t>&)> damage;
    SettingsFault fault;
  };
  const Case cases[] = {
      {[](auto& b) { b.resize(10); }, F::kTooShort},
      {[](auto& b) { b[0] = 'X'; Seal(b); }, F::kNotSettings},
      {[](auto& b) { b[4] = 3; Seal(b); }, F::kOtherVersion},
      {[](auto& b) { b[12] ^= 1; }, F::kChecksum},
      {[](auto& b) { b[8] = 200; Seal(b); }, F::kTable},
      {[](auto& b) { b[kSettingsHeaderSize + 3] = 0x7F; Seal(b); }, F::kTexts},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = EncodeLauncherSettings(kChoice);
    c.damage(bytes);
    SettingsFault fault = F::kNone;
    EXPECT_FALSE(writer::DecodeLauncherSettingsChoice(bytes, &fault));
    EXPECT_EQ(fault, c.fault);
    EXPECT_STRNE(writer::DescribeSettingsFault(fault), writer::DescribeSettingsFault(F::kNone));
  }
}

}  // namespace
}  // namespace stub

namespace stub {
namespace {

// Packages built before the out-of-memory text could be replaced carry the
// first format, seven texts an entry: their launcher and inspect still read it.
TEST(LauncherSettingsTest, FirstFormatStillReads) {
  std::vector<uint8_t> bytes(kSettingsHeaderSize + 16 + 4 + 4);
  WriteU32(bytes.data(), kSettingsMagic);
  WriteU16(bytes.data() + 4, kSettingsVersionSevenTexts);
  WriteU16(bytes.data() + 6, kSettingsPassExitCode);
  WriteU16(bytes.data() + 8, 1);
  WriteU16(bytes.data() + kSettingsHeaderSize, 0x0407);
  WriteU16(bytes.data() + kSettingsHeaderSize + 2 + 2 * 6, 2);  // the unsupported-Windows text
  WriteU16(bytes.data() + kSettingsHeaderSize + 16, u'N');
  WriteU16(bytes.data() + kSettingsHeaderSize + 18, u'W');
  WriteU32(bytes.data() + bytes.size() - 4, Crc32(bytes.data(), static_cast<uint32_t>(bytes.size() - 4)));
  LauncherSettings settings;
  ASSERT_TRUE(DecodeLauncherSettings(bytes.data(), static_cast<uint32_t>(bytes.size()), 0x0407, settings));
  EXPECT_TRUE(settings.passExitCode);
  EXPECT_EQ(ToU16(settings.TextFor(LauncherText::kUnsupportedWindows)), u"NW");
  EXPECT_TRUE(settings.TextFor(LauncherText::kOutOfMemory).Empty());
  const auto choice = writer::DecodeLauncherSettingsChoice(bytes);
  ASSERT_TRUE(choice);
  ASSERT_EQ(choice->languages.size(), 1u);
  EXPECT_EQ(choice->languages[0].texts[static_cast<int>(LauncherText::kUnsupportedWindows)], u"NW");
}

}  // namespace
}  // namespace stub

#include "launcher/Endings.h"

namespace stub {
namespace {

TEST(EndingsTest, TheLaunchersOwnTextsAreTheOnesWithAnEnglishWording) {
  for (const EndingFacts& e : kEndings) {
    EXPECT_EQ(IsLaunchersOwnText(e.text), e.english != nullptr) << e.key;
  }
}

}  // namespace
}  // namespace stub
