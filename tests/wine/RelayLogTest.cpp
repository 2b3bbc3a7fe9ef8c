// How the harness reads Wine's relay trace and the setup program's report.
// These run without Wine: a misread trace would make every Wine test lie.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/wine/RelayLog.h"
#include "tests/wine/SetupReport.h"

namespace winetest {
namespace {

struct DecodeCase {
  const char* name;
  const char* printed;
  std::optional<std::u16string> decoded;
};
void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class DecodeWineStringTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeWineStringTest, UndoesWinesEscapes) {
  EXPECT_EQ(DecodeWineString(GetParam().printed), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, DecodeWineStringTest,
    ::testing::Values(DecodeCase{"Plain", "Setup failed.", u"Setup failed."}, DecodeCase{"Empty", "", u""},
                      DecodeCase{"Path", R"(C:\\Downloads\\Setup.exe)", u"C:\\Downloads\\Setup.exe"},
                      DecodeCase{"Quotes", R"(\"C:\\a b\\x.exe\" /s)", u"\"C:\\a b\\x.exe\" /s"},
                      DecodeCase{"Controls", R"(a\nb\rc\td)", u"a\nb\rc\td"},
                      DecodeCase{"NonAscii", R"(Fen\00eatre \20ac)", u"Fen\u00eatre \u20ac"},
                      DecodeCase{"ShortHex", R"(x\00e)", std::nullopt},
                      DecodeCase{"BadHex", R"(x\00zz)", std::nullopt},
                      DecodeCase{"LoneBackslash", R"(x\)", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// A trace as Wine writes it: other programs' calls, a nested start, a cut
// string and lines that only look like calls.
constexpr const char* kTrace =
    "0024:trace:relay:load_list L\"RelayInclude\" = L\"user32.MessageBoxW\"\n"
    "0024:Call PE DLL (proc=0000000170068C10,module=0000000170000000 L\"ntdll.dll\",reason=PROCESS_ATTACH)\n"
    "003c:Call KERNEL32.CreateProcessW(00000000,010a5970 L\"C:\\\\windows\\\\system32\\\\winedevice.exe\","
    "00000000,00000000,100000000,00000408,00377040,00000000,0021f540,0021f520) ret=14000765e\n"
    "003c:Ret  KERNEL32.CreateProcessW() retval=00000001 ret=14000765e\n"
    "0024:Call KERNEL32.CreateProcessW(00000000,00385a90 L\"\\\"C:\\\\T\\\\Setup.exe\\\" "
    "\\\"C:\\\\D\\\\Setup.exe\\\" "
    "/s \\\"a, b)\\\"\",00000000,00000000,00000000,00000000,00000000,00385a60 "
    "L\"C:\\\\D\\\\\",0021f9f8,0021f9e0) "
    "ret=1400078fb\n"
    "0024:Ret  KERNEL32.CreateProcessW() retval=00000000 ret=1400078fb\n"
    "0024:Call user32.MessageBoxW(00000000,00385720 L\"The temporary copy could not be executed"
    "\"...,00382920 L\"C:\\\\D\\\\Setup.exe\",00000010) ret=140007b48\n"
    "0024:Call window proc 00000002169EF630 (hwnd=0000000000070034,msg=WM_NCCREATE,wp=00000000,lp=0021f518)\n"
    "0024:Ret  user32.MessageBoxW() retval=ffffffff ret=140007b48\n"
    "0050:Call shell32.ShellExecuteExW(0021f800) ret=00401234\n"
    "0050:Call kernelbase.CreateProcessW(00000000,00385a90 L\"x.exe\",00000000,00000000,00000000,00000000,"
    "00000000,00000000,0021f9f8,0021f9e0) ret=7b000000\n"
    "0050:Ret  kernelbase.CreateProcessW() retval=00000001 ret=7b000000\n"
    "0050:Ret  shell32.ShellExecuteExW() retval=00000001 ret=00401234\n";

TEST(RelayLogTest, ReadsEachCallWithItsResult) {
  const auto calls = ParseRelayLog(kTrace);
  ASSERT_EQ(calls.size(), 5u);
  struct Expected {
    uint32_t thread;
    const char* function;
    size_t arguments;
    uint64_t result;
  };
  const Expected expected[] = {{0x3c, "CreateProcessW", 10, 1},
                               {0x24, "CreateProcessW", 10, 0},
                               {0x24, "MessageBoxW", 4, 0xffffffff},
                               {0x50, "ShellExecuteExW", 1, 1},
                               {0x50, "CreateProcessW", 10, 1}};
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i].thread, expected[i].thread);
    EXPECT_EQ(calls[i].function, expected[i].function);
    EXPECT_EQ(calls[i].arguments.size(), expected[i].arguments);
    ASSERT_TRUE(calls[i].result.has_value());
    EXPECT_EQ(*calls[i].result, expected[i].result);
  }
  EXPECT_EQ(FirstThread(kTrace), 0x24u);
}

TEST(RelayLogTest, KeepsOnlyTheLaunchersBoxesAndStarts) {
  const auto calls = ParseRelayLog(kTrace);
  const auto boxes = MessageBoxes(calls, 0x24u);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"The temporary copy could not be executed");
  EXPECT_TRUE(boxes[0].textCut);
  EXPECT_EQ(boxes[0].caption, u"C:\\D\\Setup.exe");
  EXPECT_FALSE(boxes[0].captionCut);
  EXPECT_EQ(boxes[0].style, 0x10u);

  const auto starts = Starts(calls, 0x24u);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].function, "CreateProcessW");
  EXPECT_FALSE(starts[0].applicationName.has_value());
  EXPECT_EQ(starts[0].commandLine, u"\"C:\\T\\Setup.exe\" \"C:\\D\\Setup.exe\" /s \"a, b)\"");
  EXPECT_EQ(starts[0].currentDirectory, u"C:\\D\\");
  EXPECT_FALSE(starts[0].succeeded);

  const auto shell = Starts(calls, 0x50u);
  ASSERT_EQ(shell.size(), 2u);
  EXPECT_EQ(shell[0].function, "ShellExecuteExW");
  EXPECT_TRUE(shell[0].succeeded);
  EXPECT_EQ(shell[1].function, "CreateProcessW");

  EXPECT_EQ(Starts(calls, std::nullopt).size(), 4u);
}

struct MatchCase {
  const char* name;
  std::u16string logged;
  bool cut;
  std::u16string expected;
  bool matches;
};
void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class LoggedTextMatchesTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(LoggedTextMatchesTest, ComparesWholeOrCutTexts) {
  const auto& c = GetParam();
  EXPECT_EQ(LoggedTextMatches(c.logged, c.cut, c.expected), c.matches);
}

const std::u16string kLong(400, u'x');

INSTANTIATE_TEST_SUITE_P(
    Texts, LoggedTextMatchesTest,
    ::testing::Values(MatchCase{"Equal", u"abc", false, u"abc", true},
                      MatchCase{"Different", u"abc", false, u"abd", false},
                      MatchCase{"PrefixNotCut", u"ab", false, u"abc", false},
                      MatchCase{"CutPrefix", kLong.substr(0, 289), true, kLong, true},
                      MatchCase{"CutButDiffers", kLong.substr(0, 288) + u"y", true, kLong, false},
                      MatchCase{"CutTooShortToTell", kLong.substr(0, 20), true, kLong, false},
                      MatchCase{"CutButExpectedNoLonger", kLong.substr(0, 289), true, kLong.substr(0, 289),
                                false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SetupReportTest, SplitsStartsAndNoticesUnfinishedOnes) {
  const auto starts = ParseSetupReport(
      "start\narch=x64\ncommandline=\"C:\\T\\S.exe\" \"C:\\D\\S.exe\" a=b\ncurrentdirectory=C:\\D\n"
      "module=C:\\T\\S.exe\r\ntemppath=C:\\T\\\nend\nstart\narch=x86\n");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].arch, "x64");
  EXPECT_EQ(starts[0].commandLine, "\"C:\\T\\S.exe\" \"C:\\D\\S.exe\" a=b");
  EXPECT_EQ(starts[0].currentDirectory, "C:\\D");
  EXPECT_EQ(starts[0].module, "C:\\T\\S.exe");
  EXPECT_EQ(starts[0].tempPath, "C:\\T\\");
  EXPECT_TRUE(starts[0].finished);
  EXPECT_EQ(starts[1].arch, "x86");
  EXPECT_FALSE(starts[1].finished);
}

}  // namespace
}  // namespace winetest
