// pkgtool's readings of human terms and of the Windows it simulates.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "launcher/ArgumentList.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/Simulation.h"

namespace pkgtool {
namespace {

// Runs `parse`; returns the error text, or nothing when it succeeded.
template <typename F>
std::optional<std::string> ErrorOf(F parse) {
  try {
    parse();
  } catch (const ToolError& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

struct RangeCase {
  Family family;
  const char* text;
  int min, max;            // -1: refused
  const char* mentions;    // part of the refusal
};

class ReleaseRangeTest : public testing::TestWithParam<RangeCase> {};

TEST_P(ReleaseRangeTest, ReadsOrRefuses) {
  const RangeCase& c = GetParam();
  std::pair<uint16_t, uint16_t> range;
  const auto error = ErrorOf([&] { range = ParseReleaseRange(c.family, c.text); });
  if (c.min < 0) {
    ASSERT_TRUE(error.has_value()) << c.text;
    EXPECT_NE(error->find(c.mentions), std::string::npos) << *error;
  } else {
    ASSERT_FALSE(error.has_value()) << *error;
    EXPECT_EQ(range.first, c.min);
    EXPECT_EQ(range.second, c.max);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Releases, ReleaseRangeTest,
    testing::Values(RangeCase{Family::kWin10, "1507..2004", 1507, 2004, ""},
                    RangeCase{Family::kWin10, "1809..22H2", 1809, 2210, ""},
                    RangeCase{Family::kWin10, "20h2..21H1", 2009, 2105, ""},
                    RangeCase{Family::kWin10, "21H2..21H2", 2111, 2111, ""},
                    RangeCase{Family::kWin11, "21H2..21H2", 2110, 2110, ""},
                    RangeCase{Family::kWin11, "22H2..", 2209, 9999, ""},
                    RangeCase{Family::kWin11, "..24H2", 0, 2410, ""},
                    RangeCase{Family::kWin11, "23H2..25H2", 2310, 2510, ""},
                    RangeCase{Family::kWin10, "any", 0, 9999, ""},
                    RangeCase{Family::kWin10, " 1903 .. 9999 ", 1903, 9999, ""},
                    RangeCase{Family::kWin10, "22H2..1809", -1, -1, "above the maximum"},
                    RangeCase{Family::kWin11, "25H2..21H2", -1, -1, "above the maximum"},
                    RangeCase{Family::kWin10, "1809", -1, -1, "not a range"},
                    RangeCase{Family::kWin10, "23H2..", -1, -1, "unknown Windows 10 release"},
                    RangeCase{Family::kWin11, "20H2..", -1, -1, "unknown Windows 11 release"},
                    RangeCase{Family::kWin11, "22000..", -1, -1, "not a release code"},
                    RangeCase{Family::kWin10, "..10000", -1, -1, "not a release code"}));

struct DateCase {
  const char* text;
  bool valid;
};

class DateTest : public testing::TestWithParam<DateCase> {};

TEST_P(DateTest, AcceptsOnlyCalendarDays) {
  const DateCase& c = GetParam();
  stub::LocalDate date;
  const auto error = ErrorOf([&] { date = ParseDate(c.text); });
  EXPECT_EQ(!error.has_value(), c.valid) << c.text << ": " << error.value_or("accepted");
  if (c.valid) {
    EXPECT_EQ(FormatDate(date.year, date.month, date.day), c.text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dates, DateTest,
    testing::Values(DateCase{"2026-06-22", true}, DateCase{"2024-02-29", true},
                    DateCase{"2000-02-29", true}, DateCase{"2026-12-31", true},
                    DateCase{"0001-01-01", true}, DateCase{"2026-02-30", false},
                    DateCase{"2100-02-29", false}, DateCase{"2026-02-29", false},
                    DateCase{"2026-04-31", false}, DateCase{"2026-13-01", false},
                    DateCase{"2026-00-10", false}, DateCase{"2026-01-00", false},
                    DateCase{"0000-01-01", false}, DateCase{"2026-1-01", false},
                    DateCase{"26-01-01", false}, DateCase{"2026/01/01", false},
                    DateCase{"2026-01-0x", false}));

struct SizeCase {
  const char* text;
  uint64_t bytes;  // 0: refused
};

class SizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(SizeTest, ReadsBinaryUnits) {
  const SizeCase& c = GetParam();
  uint64_t bytes = 0;
  const auto error = ErrorOf([&] { bytes = ParseSize(c.text); });
  if (c.bytes == 0) {
    EXPECT_TRUE(error.has_value()) << c.text << " read as " << bytes;
  } else {
    ASSERT_FALSE(error.has_value()) << *error;
    EXPECT_EQ(bytes, c.bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SizeTest,
                         testing::Values(SizeCase{"65536", 65536}, SizeCase{"4M", 4u << 20},
                                         SizeCase{"64M", 64u << 20}, SizeCase{"64MiB", 64u << 20},
                                         SizeCase{"512k", 512u << 10}, SizeCase{"1G", 1u << 30},
                                         SizeCase{"4 M", 4u << 20}, SizeCase{"", 0},
                                         SizeCase{"M", 0}, SizeCase{"4X", 0}, SizeCase{"-1", 0},
                                         SizeCase{"1.5M", 0},
                                         SizeCase{"9999999999999999999999", 0}));

TEST(WindowsListTest, NamesMapToTheirElements) {
  const struct {
    std::vector<std::string> items;
    std::vector<unsigned> elements;
  } cases[] = {
      {{"7,8.1"}, {stub::kWin7, stub::kWin81}},
      {{"95", "98", "ME"}, {stub::kWin95, stub::kWin98, stub::kWinMe}},
      {{" Vista , XP ", "nt4"}, {stub::kWinNt4, stub::kWinXp, stub::kWinVista}},
      {{"2000,8,10,11,other"}, {stub::kWin2000, stub::kWin8, stub::kWin10, stub::kWin11, stub::kWinOther}},
  };
  for (const auto& c : cases) {
    const stub::WindowsVersionSet set = ParseWindowsList(c.items);
    std::set<unsigned> present;
    for (unsigned e = 0; e < 64; ++e) {
      if (set.Contains(e)) present.insert(e);
    }
    EXPECT_EQ(present, std::set<unsigned>(c.elements.begin(), c.elements.end())) << c.items[0];
  }
  const stub::WindowsVersionSet all = ParseWindowsList({"all"});
  EXPECT_EQ(WindowsListNames(all).size(), 13u);
  for (const char* bad : {"win7", "8.2", "12", ","}) {
    EXPECT_TRUE(ErrorOf([&] { ParseWindowsList({bad}); }).has_value()) << bad;
  }
}

TEST(ElevationTest, NamesAndNumbersGiveTheModes) {
  const struct {
    const char* text;
    int value;  // -1: refused
  } cases[] = {{"standard", 0}, {"0", 0},   {"silent-runas", 1}, {"1", 1},
               {"Always-NoAdmin", 2}, {"2", 2}, {"3", -1}, {"runas", -1}};
  for (const auto& c : cases) {
    uint8_t value = 0;
    const auto error = ErrorOf([&] { value = ParseElevation(c.text); });
    if (c.value < 0) {
      EXPECT_TRUE(error.has_value()) << c.text;
    } else {
      EXPECT_FALSE(error.has_value()) << c.text;
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(Utf8Test, DecodesStrictly) {
  EXPECT_EQ(Utf8ToUtf16("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", "t"), u"Gr\u00fc\u00dfe \u20ac");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80", "t"), std::u16string(u"\xD83D\xDE00"));
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600 %USER%"), "\xF0\x9F\x98\x80 %USER%");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xE2\x82", "\xF5\x80\x80\x80", "\x80",
                          "\xC3\x28", "\xF4\x90\x80\x80"}) {
    EXPECT_TRUE(ErrorOf([&] { Utf8ToUtf16(bad, "t"); }).has_value()) << bad;
  }
}

TEST(ReleaseNameTest, DescribesCodesByName) {
  EXPECT_EQ(DescribeReleaseCode(Family::kWin10, 1809), "1809 (October 2018 Update)");
  EXPECT_EQ(DescribeReleaseCode(Family::kWin10, 2009), "2009 = 20H2 (October 2020 Update)");
  EXPECT_EQ(DescribeReleaseCode(Family::kWin11, 2110), "2110 = 21H2 (Original Release)");
  EXPECT_EQ(DescribeReleaseCode(Family::kWin10, 2110), "2110");
  EXPECT_NE(DescribeReleaseCode(Family::kWin11, 9999).find("open-ended"), std::string::npos);
  EXPECT_NE(DescribeReleaseCode(Family::kWin11, 65535).find("open-ended"), std::string::npos);
}

struct ScenarioCase {
  const char* text;
  uint32_t major, minor, platformId;
  uint16_t servicePack;
  const char* build;  // registry values; "" = absent
  const char* displayVersion;
  const char* releaseId;
};

class ScenarioTest : public testing::TestWithParam<ScenarioCase> {};

TEST_P(ScenarioTest, ReportsWhatThatWindowsReports) {
  const ScenarioCase& c = GetParam();
  const WindowsScenario s = ParseWindowsScenario(c.text);
  EXPECT_TRUE(s.version.ok);
  EXPECT_EQ(s.version.major, c.major);
  EXPECT_EQ(s.version.minor, c.minor);
  EXPECT_EQ(s.version.platformId, c.platformId);
  EXPECT_EQ(s.servicePack.servicePackMajor, c.servicePack);
  EXPECT_EQ(s.hasRegistry, c.major == 10);
  EXPECT_EQ(s.currentBuild, c.build);
  EXPECT_EQ(s.displayVersion, c.displayVersion);
  EXPECT_EQ(s.releaseId, c.releaseId);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ScenarioTest,
    testing::Values(ScenarioCase{"95", 4, 0, 1, 0, "", "", ""},
                    ScenarioCase{"98", 4, 10, 1, 0, "", "", ""},
                    ScenarioCase{"ME", 4, 90, 1, 0, "", "", ""},
                    ScenarioCase{"nt4", 4, 0, 2, 0, "", "", ""},
                    ScenarioCase{"2000", 5, 0, 2, 4, "", "", ""},
                    ScenarioCase{"2000 sp0", 5, 0, 2, 0, "", "", ""},
                    ScenarioCase{"2000 SP3", 5, 0, 2, 3, "", "", ""},
                    ScenarioCase{"xp", 5, 1, 2, 0, "", "", ""},
                    ScenarioCase{"vista", 6, 0, 2, 0, "", "", ""},
                    ScenarioCase{"7", 6, 1, 2, 0, "", "", ""},
                    ScenarioCase{"8", 6, 2, 2, 0, "", "", ""},
                    ScenarioCase{"8.1", 6, 3, 2, 0, "", "", ""},
                    ScenarioCase{"10 1507", 10, 0, 2, 0, "10240", "", "1507"},
                    ScenarioCase{"10 1809", 10, 0, 2, 0, "17763", "", "1809"},
                    ScenarioCase{"10 2004", 10, 0, 2, 0, "19041", "", "2004"},
                    ScenarioCase{"10 20H2", 10, 0, 2, 0, "19042", "20H2", "2009"},
                    ScenarioCase{"10 21h1", 10, 0, 2, 0, "19043", "21H1", "2009"},
                    ScenarioCase{"10 21H2", 10, 0, 2, 0, "19044", "21H2", "2009"},
                    ScenarioCase{"10 19045", 10, 0, 2, 0, "19045", "22H2", "2009"},
                    ScenarioCase{"10", 10, 0, 2, 0, "19045", "22H2", "2009"},
                    ScenarioCase{"11 21H2", 10, 0, 2, 0, "22000", "21H2", "2009"},
                    ScenarioCase{"11 22H2", 10, 0, 2, 0, "22621", "22H2", "2009"},
                    ScenarioCase{"11 23H2", 10, 0, 2, 0, "22631", "23H2", "2009"},
                    ScenarioCase{"11 24H2", 10, 0, 2, 0, "26100", "24H2", "2009"},
                    ScenarioCase{"11", 10, 0, 2, 0, "26200", "25H2", "2009"},
                    ScenarioCase{"11 26300 26H1", 10, 0, 2, 0, "26300", "26H1", "2009"},
                    ScenarioCase{"11 26300", 10, 0, 2, 0, "26300", "", "2009"},
                    ScenarioCase{"10 18000", 10, 0, 2, 0, "18000", "", ""}));

TEST(ScenarioTest, RefusesWhatIsNoWindows) {
  for (const char* bad : {"", "12", "2000 sp5", "xp sp2", "10 25000", "11 19045", "10 29H2",
                          "11 1809", "10 1809 extra words"}) {
    EXPECT_TRUE(ErrorOf([&] { ParseWindowsScenario(bad); }).has_value()) << bad;
  }
}

TEST(ScenarioTest, KnownScenariosCoverEveryVersionAndReleaseOnce) {
  const std::vector<WindowsScenario> all = KnownScenarios();
  std::set<std::string> keys;
  for (const WindowsScenario& s : all) EXPECT_TRUE(keys.insert(s.key).second) << s.key;
  // 95, 98, ME, NT 4, 2000 SP0-SP4, XP, Vista, 7, 8, 8.1, and the releases.
  EXPECT_EQ(all.size(), 14 + Releases(Family::kWin10).size() + Releases(Family::kWin11).size());
  for (const Family f : {Family::kWin10, Family::kWin11}) {
    uint32_t previous = 0;
    for (const Release& r : Releases(f)) {
      EXPECT_GT(r.build, previous) << r.name;
      EXPECT_GT(r.code, 1500u);
      EXPECT_LT(r.code, kOpenEnded);
      previous = r.build;
      const std::string key = std::string(f == Family::kWin10 ? "10 " : "11 ") + r.name;
      EXPECT_TRUE(keys.count(key)) << key;
    }
  }
}

TEST(LauncherCommandLineTest, QuotesThePathAndArgumentsWithBlanks) {
  const struct {
    std::vector<std::u16string> arguments;
    std::u16string line;
  } cases[] = {
      {{}, u"\"C:\\P\\Setup.exe\""},
      {{u"/s", u"/32"}, u"\"C:\\P\\Setup.exe\" /s /32"},
      {{u"/temp", u"D:\\My Temp\\"}, u"\"C:\\P\\Setup.exe\" /temp \"D:\\My Temp\\\""},
      {{u"a\tb"}, u"\"C:\\P\\Setup.exe\" \"a\tb\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LauncherCommandLine(u"C:\\P\\Setup.exe", c.arguments), c.line);
  }
}

// What simulate shows as the launcher's command line must split, by the
// launcher's own rule, into exactly the arguments given: every character
// from 1 to 32 separates, not only blanks.
TEST(LauncherCommandLineTest, SplitsBackIntoTheSameArguments) {
  const std::vector<std::u16string> arguments = {
      u"/s", u"a\nb", u"x\x01y", u"\x1Fend", u"two words", u"tab\there", u"\r", u"D:\\T\\"};
  const std::u16string line = LauncherCommandLine(u"C:\\P\\Setup.exe", arguments);
  const stub::ArgumentList split(line.c_str(), stub::Text(u"C:\\P\\Setup.exe"));
  ASSERT_EQ(split.Count(), static_cast<int>(arguments.size())) << stub::ToUtf8(line);
  for (size_t i = 0; i < arguments.size(); ++i) {
    EXPECT_EQ(stub::ToU16(split.Argument(static_cast<int>(i) + 1)), arguments[i]);
  }
}

TEST(ClosestNameTest, SuggestsOnlyWhatIsClose) {
  const std::vector<std::string> commands = {"build", "inspect", "verify", "extract", "simulate", "matrix"};
  const std::vector<std::string> options = {"--x86", "--x64", "--expires", "--json", "--version", "-o"};
  const std::pair<std::string, std::string> cases[] = {
      {"bild", "build"},        {"biuld", "build"},       {"BUILD", "build"},
      {"inspct", "inspect"},    {"simulat", "simulate"},  {"build", ""},
      {"compile", ""},          {"x", ""},                {"--x68", "--x86"},
      {"--64", "--x64"},       {"--expire", "--expires"}, {"--jsn", "--json"},
      {"--verison", "--version"}, {"--colour", ""},       {"-p", ""}};
  for (const auto& [typed, expected] : cases) {
    const bool option = typed[0] == '-';
    EXPECT_EQ(ClosestName(typed, option ? options : commands), expected) << typed;
  }
}

}  // namespace
}  // namespace pkgtool
