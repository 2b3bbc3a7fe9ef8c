// The real stub under Wine applying a package's requirements: expiry date,
// processor width, Windows version and Windows 10/11 release, as Wine
// imitates them (winecfg -v and the registry values Windows keeps its build
// and release in).
#include <ostream>

#include "tests/wine/WineTestSupport.h"

namespace winetest {
namespace {

// --- Expiry -----------------------------------------------------------------

struct ExpiryCase {
  const char* name;
  uint16_t year, month, day;
  std::string windowsVersion;  // the gates after expiry must not speak first
  bool refused;
};
void PrintTo(const ExpiryCase& c, std::ostream* os) { *os << c.name; }

class ExpiryWineTest : public WineTest, public ::testing::WithParamInterface<ExpiryCase> {};

TEST_P(ExpiryWineTest, RefusesAnExpiredPackageWithItsOwnText) {
  const ExpiryCase& c = GetParam();
  auto recipe = RunnableRecipe();
  recipe.expiryYear = c.year;
  recipe.expiryMonth = c.month;
  recipe.expiryDay = c.day;
  // Windows 7 is not allowed, so a launcher that checked the version before
  // the date would show the version text instead.
  recipe.allowedWindows = AllWindowsBut({stub::kWin7});
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(recipe));
  RunOptions options;
  options.windowsVersion = c.windowsVersion;
  const RunResult run = wine.Run(kPackagePath, options);
  if (c.refused) {
    ExpectOneErrorBox(run, kExpiredText);
  } else {
    ExpectOneFinishedStart(run);
  }
}

INSTANTIATE_TEST_SUITE_P(Dates, ExpiryWineTest,
                         ::testing::Values(ExpiryCase{"PastYear", 2001, 6, 30, "win10", true},
                                           ExpiryCase{"PastYearOnRefusedWindows", 2001, 6, 30, "win7", true},
                                           ExpiryCase{"FarFuture", 2999, 1, 1, "win10", false},
                                           ExpiryCase{"NeverExpires", 0, 1, 1, "win10", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Processor width ------------------------------------------------------------

enum class Programs { kBoth, kX64Only, kX86Only, kX86BarredFrom64 };

struct WidthCase {
  const char* name;
  Width windows;
  Programs programs;
  std::vector<std::string> arguments;
  std::string startedArch;  // empty: refused with the width text
  bool asksMachine;         // the package and switches leave the choice to the machine
};
void PrintTo(const WidthCase& c, std::ostream* os) { *os << c.name; }

class WidthWineTest : public WineTest, public ::testing::WithParamInterface<WidthCase> {};

TEST_P(WidthWineTest, SelectsTheProgramForTheWindowsWidth) {
  const WidthCase& c = GetParam();
  const Harness& harness = Harness::Get();
  Width prefix = c.windows;
  if (harness.StubIs64Bit()) {
    // IsWow64Process answers "no" for every 64-bit process, so the 64-bit
    // test build of the launcher takes any Windows for 32-bit Windows.
    if (c.windows == Width::k64) {
      GTEST_SKIP() << "telling 64-bit Windows needs the 32-bit stub; testing the 64-bit build here";
    }
    prefix = Width::k64;
  }
  WINE_REQUIRE_WIDTH(prefix);
  if (c.startedArch == "x86" && !harness.Runs32BitPrograms()) {
    GTEST_SKIP() << "the x86 setup program cannot run here";
  }
  auto recipe = RunnableRecipe();
  recipe.x86.reset();
  recipe.x64.reset();
  if (c.programs == Programs::kBoth || c.programs == Programs::kX64Only) {
    recipe.x64 = harness.SetupProgram(Width::k64);
  }
  if (c.programs != Programs::kX64Only) recipe.x86 = harness.SetupProgram(Width::k32);
  recipe.barFrom64Bit = c.programs == Programs::kX86BarredFrom64;
  WineCase wine(prefix, CaseName());
  wine.WriteFile(kPackagePath, Build(recipe));
  RunOptions options;
  options.arguments = c.arguments;
  const RunResult run = wine.Run(kPackagePath, options);
  // Wine 8 has IsWow64Process2 and no Arm64 machine: the launcher asks it
  // alone, and only where the answer matters.
  std::vector<std::string> asked;
  for (const RelayCall& call : run.calls) {
    if (call.function.rfind("IsWow64Process", 0) == 0 || call.function == "GetMachineTypeAttributes") {
      asked.push_back(call.function + (call.result == 1u ? " succeeded" : " failed"));
    }
  }
  EXPECT_EQ(asked, c.asksMachine ? std::vector<std::string>{"IsWow64Process2 succeeded"}
                                 : std::vector<std::string>{});
  if (c.startedArch.empty()) {
    ExpectOneErrorBox(run, kWrongWidthText);
    return;
  }
  ExpectOneFinishedStart(run);
  if (!run.setupAtExit.empty()) {
    EXPECT_EQ(run.setupAtExit[0].arch, c.startedArch);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Widths, WidthWineTest,
    ::testing::Values(WidthCase{"BothOn64", Width::k64, Programs::kBoth, {}, "x64", true},
                      WidthCase{"BothOn64With32Switch", Width::k64, Programs::kBoth, {"/a", "/32"}, "x86", false},
                      WidthCase{"BothOn64WithLookalikeSwitch", Width::k64, Programs::kBoth, {"/32x"}, "x64", true},
                      WidthCase{"BothOn32", Width::k32, Programs::kBoth, {}, "x86", true},
                      WidthCase{"X64OnlyOn32", Width::k32, Programs::kX64Only, {}, "", true},
                      WidthCase{"X64OnlyOn64", Width::k64, Programs::kX64Only, {}, "x64", true},
                      WidthCase{"X86OnlyOn64", Width::k64, Programs::kX86Only, {}, "x86", false},
                      WidthCase{"BarredOn64", Width::k64, Programs::kX86BarredFrom64, {"/32"}, "", true},
                      WidthCase{"BarredOn32", Width::k32, Programs::kX86BarredFrom64, {}, "x86", true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Windows version and release --------------------------------------------

// The package's release bounds: Windows 10 minimum and maximum, then
// Windows 11's.
struct Releases {
  uint16_t win10Min, win10Max, win11Min, win11Max;
};
constexpr Releases kAnyRelease = {0, 9999, 0, 9999};

struct VersionCase {
  const char* name;
  Width width;
  std::string windowsVersion;                 // winecfg -v
  std::vector<CurrentVersionValue> registry;  // build and release values
  std::vector<unsigned> notAllowed;           // elements taken out of the set
  Releases releases;
  std::u16string refusedAs;  // empty: the setup program starts
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

// The registry of a Windows 10 or 11 of this build; an empty release text
// leaves that value out.
std::vector<CurrentVersionValue> Build10(const std::string& build, const std::string& displayVersion,
                                         const std::string& releaseId) {
  std::vector<CurrentVersionValue> values = {{"CurrentBuild", build}, {"CurrentBuildNumber", build}};
  values.push_back({"DisplayVersion", displayVersion.empty() ? std::nullopt : std::optional(displayVersion)});
  values.push_back({"ReleaseId", releaseId.empty() ? std::nullopt : std::optional(releaseId)});
  return values;
}

class WindowsVersionWineTest : public WineTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(WindowsVersionWineTest, RefusesWhatThePackageDoesNotAllow) {
  const VersionCase& c = GetParam();
  WINE_REQUIRE_WIDTH(c.width);
  auto recipe = RunnableRecipe();
  recipe.allowedWindows = AllWindowsBut(c.notAllowed);
  recipe.win10Min = c.releases.win10Min;
  recipe.win10Max = c.releases.win10Max;
  recipe.win11Min = c.releases.win11Min;
  recipe.win11Max = c.releases.win11Max;
  WineCase wine(c.width, CaseName());
  wine.WriteFile(kPackagePath, Build(recipe));
  RunOptions options;
  options.windowsVersion = c.windowsVersion;
  options.currentVersion = c.registry;
  const RunResult run = wine.Run(kPackagePath, options);
  if (c.refusedAs.empty()) {
    ExpectOneFinishedStart(run);
  } else {
    ExpectOneErrorBox(run, UnsupportedTextFor(c.refusedAs));
  }
}

constexpr Width k32 = Width::k32;
constexpr Width k64 = Width::k64;
using stub::kWin10;
using stub::kWin11;
using stub::kWin7;
using stub::kWin8;
using stub::kWin81;
using stub::kWinVista;
using stub::kWinXp;

// Windows 10 and 11 as their registry tells them apart: build, display
// version, release id.
const auto k1809 = Build10("17763", "", "1809");
const auto k1809NoReleaseId = Build10("17763", "", "");
const auto k22H2 = Build10("19045", "22H2", "2009");
const auto kUnlisted10 = Build10("19046", "23H1", "2009");
const auto k11_23H2 = Build10("22631", "23H2", "");
const auto k11_24H2 = Build10("26100", "24H2", "");
const auto kUnlisted11 = Build10("26300", "26H1", "");

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Versions, WindowsVersionWineTest,
    ::testing::Values(
        VersionCase{"XpRefused", k64, "winxp64", {}, {kWinXp}, kAnyRelease, u"Windows XP"},
        VersionCase{"VistaRefused", k64, "vista", {}, {kWinVista}, kAnyRelease, u"Windows Vista"},
        VersionCase{"Win7Refused", k64, "win7", {}, {kWin7}, kAnyRelease, u"Windows 7"},
        VersionCase{"Win7AloneAllowed", k64, "win7", {},
                    {kWinXp, kWinVista, kWin8, kWin81, kWin10, kWin11}, kAnyRelease, u""},
        VersionCase{"Win8Refused", k64, "win8", {}, {kWin8}, kAnyRelease, u"Windows 8"},
        // Without the manifest's word, Windows 8.1 would say it is Windows 8.
        VersionCase{"Win81Refused", k64, "win81", {}, {kWin81}, kAnyRelease, u"Windows 8.1"},
        VersionCase{"Win81RunsWhereWin8IsRefused", k64, "win81", {}, {kWin8}, kAnyRelease, u""},
        VersionCase{"Win10Refused", k64, "win10", k22H2, {kWin10}, kAnyRelease, u"Windows 10"},
        VersionCase{"Win10ReleaseIdBelowBounds", k64, "win10", k1809, {}, {1903, 9999, 0, 9999},
                    u"Windows 10 1809 (October 2018 Update)"},
        VersionCase{"Win10ReleaseIdWithinBounds", k64, "win10", k1809, {}, {1809, 1809, 0, 9999}, u""},
        VersionCase{"Win10WithoutReleaseIdRuns", k64, "win10", k1809NoReleaseId, {}, {1903, 9999, 0, 9999}, u""},
        VersionCase{"Win10BuildAboveBounds", k64, "win10", k22H2, {}, {1507, 2111, 0, 9999},
                    u"Windows 10 22H2 (2022 Update)"},
        VersionCase{"Win10BuildWithinBounds", k64, "win10", k22H2, {}, {2210, 2210, 0, 9999}, u""},
        VersionCase{"Win10UnlistedBuild", k64, "win10", kUnlisted10, {}, {0, 2210, 0, 9999}, u"Windows 10 23H1"},
        VersionCase{"Win11Refused", k64, "win10", k11_23H2, {kWin11}, kAnyRelease, u"Windows 11"},
        VersionCase{"Win11ReleaseAboveBounds", k64, "win10", k11_23H2, {}, {0, 9999, 2110, 2209},
                    u"Windows 11 23H2 (2023 Update)"},
        VersionCase{"Win11ReleaseWithinBounds", k64, "win10", k11_24H2, {kWin10}, {0, 9999, 2110, 2410}, u""},
        VersionCase{"Win11UnlistedRelease", k64, "win10", kUnlisted11, {}, {0, 9999, 0, 2510}, u"Windows 11 26H1"},
        // The same on 32-bit Windows, whose registry has one view.
        VersionCase{"XpRefusedOn32Bit", k32, "winxp", {}, {kWinXp}, kAnyRelease, u"Windows XP"},
        VersionCase{"Win81RefusedOn32Bit", k32, "win81", {}, {kWin81}, kAnyRelease, u"Windows 8.1"},
        VersionCase{"Win10BuildAboveBoundsOn32Bit", k32, "win10", k22H2, {}, {1507, 2111, 0, 9999},
                    u"Windows 10 22H2 (2022 Update)"},
        VersionCase{"Win11ReleaseAboveBoundsOn32Bit", k32, "win10", k11_23H2, {}, {0, 9999, 2110, 2209},
                    u"Windows 11 23H2 (2023 Update)"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace winetest
