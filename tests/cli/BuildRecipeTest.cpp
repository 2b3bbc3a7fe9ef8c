// pkgtool build's option rules, on the pure recipe function: no files.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tools/pkgtool/BuildCommand.h"
#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {
namespace {

struct RecipeCase {
  const char* name;
  std::function<void(BuildOptions&, BuildFiles&)> change;
  std::function<void(const stub::writer::PackageRecipe&)> expect;  // null: refused
  const char* refusal = "";                                        // part of the message
};
void PrintTo(const RecipeCase& c, std::ostream* os) { *os << c.name; }

class BuildRecipeTest : public testing::TestWithParam<RecipeCase> {};

TEST_P(BuildRecipeTest, ChecksOptionsAndFillsDefaults) {
  const RecipeCase& c = GetParam();
  BuildOptions options;
  BuildFiles files;
  files.stub = stub::writer::MinimalStubImage();
  files.x86 = std::vector<uint8_t>(100, 1);
  c.change(options, files);
  if (!c.expect) {
    try {
      MakeRecipe(options, files);
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
    }
    return;
  }
  c.expect(MakeRecipe(options, files));
}

using Recipe = stub::writer::PackageRecipe;

INSTANTIATE_TEST_SUITE_P(
    Options, BuildRecipeTest,
    testing::Values(
        RecipeCase{"DefaultsForBothWidths",
                   [](BuildOptions&, BuildFiles& f) { f.x64 = std::vector<uint8_t>(10, 2); },
                   [](const Recipe& r) {
                     EXPECT_EQ(r.wrongWidthMessage,
                               u"This setup package does not contain a setup program for this "
                               u"version of Windows.");
                     EXPECT_EQ(r.unsupportedWindowsMessage, u"This program cannot be installed on %USER%.");
                     EXPECT_EQ(r.win10Max, kOpenEnded);
                     EXPECT_EQ(r.dictionarySize, 4u << 20);
                   }},
        RecipeCase{"X64OnlyNamesTheWidthItNeeds",
                   [](BuildOptions&, BuildFiles& f) {
                     f.x86.reset();
                     f.x64 = std::vector<uint8_t>(10, 2);
                   },
                   [](const Recipe& r) {
                     EXPECT_EQ(r.wrongWidthMessage, u"This program requires a 64-bit version of Windows.");
                   }},
        RecipeCase{"BarredNamesTheBar", [](BuildOptions& o, BuildFiles&) { o.no64 = true; },
                   [](const Recipe& r) {
                     EXPECT_TRUE(r.barFrom64Bit);
                     EXPECT_EQ(r.wrongWidthMessage, u"This program cannot be installed on 64-bit Windows.");
                   }},
        RecipeCase{"MessageFileLosesBomAndLineBreaks",
                   [](BuildOptions& o, BuildFiles& f) {
                     o.expired.fileGiven = true;
                     o.expired.file = "late.txt";
                     f.expiredMessage = "\xEF\xBB\xBFToo late.\r\n";
                   },
                   [](const Recipe& r) { EXPECT_EQ(r.expiredMessage, u"Too late."); }},
        RecipeCase{"ExpiryDate", [](BuildOptions& o, BuildFiles&) { o.expires = "2027-03-01"; },
                   [](const Recipe& r) {
                     EXPECT_EQ(r.expiryYear, 2027);
                     EXPECT_EQ(r.expiryMonth, 3);
                     EXPECT_EQ(r.expiryDay, 1);
                   }},
        RecipeCase{"NoProgram", [](BuildOptions&, BuildFiles& f) { f.x86.reset(); }, nullptr,
                   "give --x86"},
        RecipeCase{"BarWithX64",
                   [](BuildOptions& o, BuildFiles& f) {
                     o.no64 = true;
                     f.x64 = std::vector<uint8_t>(10, 2);
                   },
                   nullptr, "cannot be combined with --x64"},
        RecipeCase{"DictionaryTooSmall", [](BuildOptions& o, BuildFiles&) { o.dictionary = "2K"; },
                   nullptr, "--dict"},
        RecipeCase{"LcPlusLpAboveFour",
                   [](BuildOptions& o, BuildFiles&) {
                     o.lc = 3;
                     o.lp = 2;
                   },
                   nullptr, "--lc plus --lp"},
        RecipeCase{"BadExpiry", [](BuildOptions& o, BuildFiles&) { o.expires = "2027-02-30"; },
                   nullptr, "--expires"}),
    [](const testing::TestParamInfo<RecipeCase>& info) { return info.param.name; });

}  // namespace
}  // namespace pkgtool
