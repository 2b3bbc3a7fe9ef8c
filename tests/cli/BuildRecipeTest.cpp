// pkgtool build's option rules, on the pure recipe function: no files.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "authoring/PeResources.h"
#include "tools/pkgtool/BuildCommand.h"
#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {
namespace {

// A setup program of the kind a slot takes, or with its machine or
// characteristics changed (the PE header of the test image is at 128).
std::vector<uint8_t> Program(bool x64, uint16_t machine = 0, uint16_t characteristics = 0) {
  std::vector<uint8_t> image = stub::pe::MinimalProgramImage(x64);
  if (machine != 0) {
    image[128 + 4] = static_cast<uint8_t>(machine);
    image[128 + 5] = static_cast<uint8_t>(machine >> 8);
  }
  if (characteristics != 0) {
    image[128 + 22] = static_cast<uint8_t>(characteristics);
    image[128 + 23] = static_cast<uint8_t>(characteristics >> 8);
  }
  return image;
}

struct RecipeCase {
  const char* name;
  std::function<void(BuildOptions&, BuildFiles&)> change;
  std::function<void(const stub::writer::PackageRecipe&)> expect;  // null: refused
  const char* refusal = "";                                        // part of the message
  int exitCode = kExitBadInput;                                    // of a refusal
};
void PrintTo(const RecipeCase& c, std::ostream* os) { *os << c.name; }

class BuildRecipeTest : public testing::TestWithParam<RecipeCase> {};

TEST_P(BuildRecipeTest, ChecksOptionsAndFillsDefaults) {
  const RecipeCase& c = GetParam();
  BuildOptions options;
  BuildFiles files;
  files.stub = stub::writer::MinimalStubImage();
  files.x86 = Program(false);
  options.today = {2026, 6, 1};
  c.change(options, files);
  if (!c.expect) {
    try {
      MakeRecipe(options, files);
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
      EXPECT_EQ(e.exitCode(), c.exitCode) << e.what();
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
                   [](BuildOptions&, BuildFiles& f) { f.x64 = Program(true); },
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
                     f.x64 = Program(true);
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
                     f.x64 = Program(true);
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
                   nullptr, "--expires"},
        RecipeCase{"VendorVersionGoesIntoTheStub",
                   [](BuildOptions&, BuildFiles& f) {
                     f.stub = stub::pe::MinimalPeImage("<assembly/>");
                     f.vendor.version = stub::version::MakeVersionInfo({{"ProductName", "Gizmo"}});
                   },
                   [](const Recipe& r) {
                     const auto s = stub::writer::SummarizeResources(r.stub);
                     ASSERT_TRUE(s.version);
                     EXPECT_TRUE(s.manifest);
                     const std::pair<std::string, std::string> product{"ProductName", "Gizmo"};
                     EXPECT_NE(std::find(s.version->strings.begin(), s.version->strings.end(), product),
                               s.version->strings.end());
                   }},
        RecipeCase{"VendorResourcesNeedAResourceSection",
                   [](BuildOptions&, BuildFiles& f) {
                     f.stubPath = "plain.exe";
                     f.vendor.version = stub::version::MakeVersionInfo({{"ProductName", "Gizmo"}});
                   },
                   nullptr, "plain.exe: cannot take the icon or version information"},
        // Setup programs Windows cannot start from their slot: refused (exit 1),
        // naming the file, the slot and what the file is.
        RecipeCase{"X64ProgramAsX86",
                   [](BuildOptions& o, BuildFiles& f) {
                     o.x86 = "setup64.exe";
                     f.x86 = Program(true);
                   },
                   nullptr,
                   "--x86: setup64.exe: a PE32+ image for AMD64 given as --x86; the x86 slot "
                   "takes a PE32 image for i386",
                   kExitRefused},
        RecipeCase{"X86ProgramAsX64",
                   [](BuildOptions& o, BuildFiles& f) {
                     o.x64 = "setup32.exe";
                     f.x64 = Program(false);
                   },
                   nullptr, "setup32.exe: a PE32 image for i386 given as --x64", kExitRefused},
        RecipeCase{"TextAsProgram",
                   [](BuildOptions& o, BuildFiles& f) {
                     o.x86 = "passwd";
                     f.x86 = std::vector<uint8_t>{'r', 'o', 'o', 't', ':', 'x', ':', '0'};
                   },
                   nullptr, "passwd: not a Windows program (it does not begin with MZ)",
                   kExitRefused},
        RecipeCase{"Arm64ProgramAsX64",
                   [](BuildOptions&, BuildFiles& f) { f.x64 = Program(true, 0xAA64); },
                   nullptr, "a PE32+ image for ARM64 given as --x64", kExitRefused},
        RecipeCase{"DllAsProgram",
                   [](BuildOptions&, BuildFiles& f) { f.x86 = Program(false, 0, 0x2102); },
                   nullptr, "a PE32 DLL for i386 given as --x86", kExitRefused},
        RecipeCase{"RecipeNamesTheFieldOfAMisfit",
                   [](BuildOptions& o, BuildFiles& f) {
                     o.x86 = "setup64.exe";
                     o.sources["--x86"] = "setup.json: x86";
                     f.x86 = Program(true);
                   },
                   nullptr, "setup.json: x86: setup64.exe: a PE32+ image for AMD64 given as x86;",
                   kExitRefused},
        RecipeCase{"AllowAnyProgram",
                   [](BuildOptions& o, BuildFiles& f) {
                     o.allowAnyProgram = true;
                     f.x86 = Program(true);
                     f.x64 = std::vector<uint8_t>(10, 2);
                   },
                   [](const Recipe& r) { EXPECT_EQ(r.x86, Program(true)); }},
        // An expiry date must lie after today (options.today is 2026-06-01).
        RecipeCase{"ExpiryPassed", [](BuildOptions& o, BuildFiles&) { o.expires = "2020-01-01"; },
                   nullptr, "--expires: 2020-01-01 has passed", kExitRefused},
        RecipeCase{"ExpiryToday", [](BuildOptions& o, BuildFiles&) { o.expires = "2026-06-01"; },
                   nullptr, "--expires: 2026-06-01 is today", kExitRefused},
        RecipeCase{"ExpiryTomorrow", [](BuildOptions& o, BuildFiles&) { o.expires = "2026-06-02"; },
                   [](const Recipe& r) { EXPECT_EQ(r.expiryDay, 2); }},
        RecipeCase{"AllowExpired",
                   [](BuildOptions& o, BuildFiles&) {
                     o.expires = "2020-01-01";
                     o.allowExpired = true;
                   },
                   [](const Recipe& r) { EXPECT_EQ(r.expiryYear, 2020); }},
        // Values from a recipe name its field, not the option.
        RecipeCase{"RecipeExpiry",
                   [](BuildOptions& o, BuildFiles&) {
                     o.expires = "2027-02-30";
                     o.sources["--expires"] = "setup.json: expires";
                   },
                   nullptr, "setup.json: expires: '2027-02-30' is not a day of the calendar"},
        RecipeCase{"RecipeWindows",
                   [](BuildOptions& o, BuildFiles&) {
                     o.windows = {"7", "win12"};
                     o.sources["--windows"] = "setup.json: windows";
                   },
                   nullptr, "setup.json: windows: unknown Windows name 'win12'"},
        RecipeCase{"RecipeRelease",
                   [](BuildOptions& o, BuildFiles&) {
                     o.win10 = "22H2..1809";
                     o.sources["--win10"] = "setup.json: win10";
                   },
                   nullptr, "setup.json: win10: the minimum 2210 is above the maximum 1809"},
        RecipeCase{"RecipeMessage",
                   [](BuildOptions& o, BuildFiles&) {
                     o.expired.textGiven = true;
                     o.expired.text = "bad \xC3\x28";
                     o.sources["--expired-message"] = "setup.json: messages.expired";
                   },
                   nullptr, "setup.json: messages.expired: not valid UTF-8"}),
    [](const testing::TestParamInfo<RecipeCase>& info) { return info.param.name; });

}  // namespace
}  // namespace pkgtool
