#include "launcher/ArgumentList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory/MemoryPlatform.h"

namespace stub {
namespace {

struct SplitCase {
  const char* name;
  std::u16string commandLine;
  std::vector<std::u16string> expected;  // user arguments 1..N
};

class SplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, YieldsTheExpectedArguments) {
  const SplitCase& c = GetParam();
  ArgumentList args(c.commandLine.c_str(), Text(u"C:\\Downloads\\Setup.exe"));
  ASSERT_EQ(args.Count(), static_cast<int>(c.expected.size()));
  EXPECT_EQ(ToU16(args.Argument(0)), u"C:\\Downloads\\Setup.exe");
  for (size_t i = 0; i < c.expected.size(); ++i) {
    EXPECT_EQ(ToU16(args.Argument(static_cast<int>(i) + 1)), c.expected[i]) << "argument " << i + 1;
  }
  EXPECT_TRUE(args.Argument(args.Count() + 1).Empty());
  EXPECT_TRUE(args.Argument(-1).Empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SplitTest,
    testing::Values(
        SplitCase{"NameOnly", u"Setup.exe", {}},
        SplitCase{"QuotedNameOnly", u"\"C:\\Program Files\\Setup.exe\"", {}},
        SplitCase{"PlainArguments", u"Setup.exe /s /temp D:\\A", {u"/s", u"/temp", u"D:\\A"}},
        SplitCase{"EmptyQuotedPairIsSkipped", u"Setup.exe \"\" /s", {u"/s"}},
        SplitCase{"QuotedSwitchLosesQuotes", u"Setup.exe \"/TEMP\"", {u"/TEMP"}},
        SplitCase{"QuotedStretchKeepsSpaces", u"Setup.exe /temp \"D:\\My Temp\"",
                  {u"/temp", u"D:\\My Temp"}},
        SplitCase{"QuoteInsideArgumentJoins", u"Setup.exe a\"b c\"d", {u"ab cd"}},
        SplitCase{"BackslashBeforeQuoteIsPlain", u"Setup.exe \"D:\\A\\\" /s",
                  {u"D:\\A\\", u"/s"}},
        SplitCase{"TabsAndControlCharactersSeparate", u"Setup.exe\t/a\x01/b\r\n/c",
                  {u"/a", u"/b", u"/c"}},
        SplitCase{"UnclosedQuoteRunsToTheEnd", u"Setup.exe \"D:\\x y", {u"D:\\x y"}},
        SplitCase{"LoneQuoteAtEndStopsCounting", u"Setup.exe /s \"", {u"/s"}},
        SplitCase{"LeadingAndTrailingBlanks", u"   Setup.exe    /a   ", {u"/a"}},
        SplitCase{"NonAsciiIsKept", u"Setup.exe /\u00e9t\u00e9", {u"/\u00e9t\u00e9"}},
        SplitCase{"EmptyCommandLine", u"", {}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

TEST(ArgumentListTest, ArgumentZeroIsTheModulePathNotTheCommandLineName) {
  ArgumentList args(u"short.exe /x", Text(u"Z:\\long path\\Setup.exe"));
  EXPECT_EQ(ToU16(args.Argument(0)), u"Z:\\long path\\Setup.exe");
  EXPECT_EQ(ToU16(args.Argument(1)), u"/x");
}

TEST(ArgumentListTest, ManyArgumentsSurviveGrowth) {
  std::u16string line = u"Setup.exe";
  for (int i = 0; i < 100; ++i) line += u" a" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
  ArgumentList args(line.c_str(), Text(u"p"));
  ASSERT_EQ(args.Count(), 100);
  EXPECT_EQ(ToU16(args.Argument(100)), u"a9");
}

struct SameTextCase {
  std::u16string a;
  std::u16string b;
  bool same;
};

class SameTextAsciiTest : public testing::TestWithParam<SameTextCase> {};

TEST_P(SameTextAsciiTest, FoldsOnlyAsciiLetters) {
  const SameTextCase& c = GetParam();
  EXPECT_EQ(SameTextAscii(FromU16(c.a), c.b.c_str()), c.same)
      << ToUtf8(c.a) << " vs " << ToUtf8(c.b);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, SameTextAsciiTest,
    testing::Values(SameTextCase{u"/TEMP", u"/temp", true}, SameTextCase{u"/Temp", u"/temp", true},
                    SameTextCase{u"", u"", true}, SameTextCase{u"/tem", u"/temp", false},
                    SameTextCase{u"/temps", u"/temp", false},
                    // Dotted capital I is not folded to i.
                    SameTextCase{u"/s\u0130lent", u"/silent", false},
                    SameTextCase{u"/S", u"/s", true},
                    // Only a-z fold: '@' (0x40) and '`' (0x60) stay apart.
                    SameTextCase{u"@", u"`", false}, SameTextCase{u"[", u"{", false}));

}  // namespace
}  // namespace stub
