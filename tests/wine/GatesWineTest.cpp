// The real stub under Wine applying a package's requirements: expiry date,
// processor width, Windows version and Windows 10/11 release, as Wine
// imitates them (winecfg -v and the registry values Windows keeps its build
// and release in).
#include <set>

#include "tests/wine/WineTestSupport.h"

namespace winetest {
namespace {

using stub::WindowsElement;

// --- Expiry -----------------------------------------------------------------

struct ExpiryCase {
  const char* name;
  uint16_t year, month, day;
  std::string windowsVersion;  // the gates after expiry must not speak first
  bool refused;
};

class ExpiryWineTest : public WineTest, public ::testing::WithParamInterface<ExpiryCase> {};

TEST_P(ExpiryWineTest, RefusesAnExpiredPackageWithItsOwnText) {
  const ExpiryCase& c = GetParam();
  auto spec = RunnableSpec();
  spec.expiryYear = c.year;
  spec.expiryMonth = c.month;
  spec.expiryDay = c.day;
  // Windows 7 is not allowed, so a launcher that checked the version before
  // the date would show the version text instead.
  spec.allowedWindows = stub::writer::AllWindows();
  spec.allowedWindows.bytes[WindowsElement::kWin7 / 8] &= static_cast<uint8_t>(~(1u << (WindowsElement::kWin7 % 8)));
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(spec));
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
};

class WidthWineTest : public WineTest, public ::testing::WithParamInterface<WidthCase> {};

TEST_P(WidthWineTest, SelectsTheProgramForTheWindowsWidth) {
  const WidthCase& c = GetParam();
  WINE_REQUIRE_WIDTH(c.windows);
  if (Harness::Get().StubIs64Bit()) {
    // IsWow64Process says "no" to every 64-bit process, so that build of
    // the stub takes every Windows for 32-bit.
    GTEST_SKIP() << "the width choice needs the 32-bit stub; testing the 64-bit build here";
  }
  auto spec = RunnableSpec();
  const Harness& harness = Harness::Get();
  spec.x86.reset();
  spec.x64.reset();
  if (c.programs == Programs::kBoth || c.programs == Programs::kX64Only) {
    spec.x64 = harness.SetupProgram(Width::k64);
  }
  if (c.programs != Programs::kX64Only) spec.x86 = harness.SetupProgram(Width::k32);
  spec.barFrom64Bit = c.programs == Programs::kX86BarredFrom64;
  WineCase wine(c.windows, CaseName());
  wine.WriteFile(kPackagePath, Build(spec));
  RunOptions options;
  options.arguments = c.arguments;
  const RunResult run = wine.Run(kPackagePath, options);
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
    ::testing::Values(WidthCase{"BothOn64", Width::k64, Programs::kBoth, {}, "x64"},
                      WidthCase{"BothOn64With32Switch", Width::k64, Programs::kBoth, {"/a", "/32"}, "x86"},
                      WidthCase{"BothOn64WithLookalikeSwitch", Width::k64, Programs::kBoth, {"/32x"}, "x64"},
                      WidthCase{"BothOn32", Width::k32, Programs::kBoth, {}, "x86"},
                      WidthCase{"X64OnlyOn32", Width::k32, Programs::kX64Only, {}, ""},
                      WidthCase{"X64OnlyOn64", Width::k64, Programs::kX64Only, {}, "x64"},
                      WidthCase{"X86OnlyOn64", Width::k64, Programs::kX86Only, {}, "x86"},
                      WidthCase{"BarredOn64", Width::k64, Programs::kX86BarredFrom64, {"/32"}, ""},
                      WidthCase{"BarredOn32", Width::k32, Programs::kX86BarredFrom64, {}, "x86"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Windows version and release --------------------------------------------

struct VersionCase {
  const char* name;
  std::string windowsVersion;                 // winecfg -v
  std::vector<CurrentVersionValue> registry;  // build and release values
  std::set<unsigned> notAllowed;              // elements taken out of the set
  uint16_t win10Min = 0, win10Max = 9999, win11Min = 0, win11Max = 9999;
  std::u16string refusedAs;  // empty: the setup program starts
};

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
  auto spec = RunnableSpec();
  spec.allowedWindows = stub::writer::AllWindows();
  for (unsigned element : c.notAllowed) {
    spec.allowedWindows.bytes[element / 8] &= static_cast<uint8_t>(~(1u << (element % 8)));
  }
  spec.win10Min = c.win10Min;
  spec.win10Max = c.win10Max;
  spec.win11Min = c.win11Min;
  spec.win11Max = c.win11Max;
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(spec));
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

const std::set<unsigned> kAllBut7 = {WindowsElement::kWin7};

INSTANTIATE_TEST_SUITE_P(
    Versions, WindowsVersionWineTest,
    ::testing::Values(
        VersionCase{"XpRefused", "winxp64", {}, {WindowsElement::kWinXp}, 0, 9999, 0, 9999, u"Windows XP"},
        VersionCase{"VistaRefused", "vista", {}, {WindowsElement::kWinVista}, 0, 9999, 0, 9999, u"Windows Vista"},
        VersionCase{"Win7Refused", "win7", {}, kAllBut7, 0, 9999, 0, 9999, u"Windows 7"},
        VersionCase{"Win7AllowedAmongOthersRefused", "win7", {},
                    {WindowsElement::kWinXp, WindowsElement::kWinVista, WindowsElement::kWin8,
                     WindowsElement::kWin81, WindowsElement::kWin10, WindowsElement::kWin11}, 0, 9999, 0, 9999, u""},
        VersionCase{"Win8Refused", "win8", {}, {WindowsElement::kWin8}, 0, 9999, 0, 9999, u"Windows 8"},
        // Without the manifest's word, Windows 8.1 would say it is Windows 8.
        VersionCase{"Win81Refused", "win81", {}, {WindowsElement::kWin81}, 0, 9999, 0, 9999, u"Windows 8.1"},
        VersionCase{"Win81RunsWhereWin8IsRefused", "win81", {}, {WindowsElement::kWin8}, 0, 9999, 0, 9999, u""},
        VersionCase{"Win10Refused", "win10", Build10("19045", "22H2", "2009"), {WindowsElement::kWin10}, 0,
                    9999, 0, 9999, u"Windows 10"},
        VersionCase{"Win10ReleaseIdBelowBounds", "win10", Build10("17763", "", "1809"), {}, 1903, 9999, 0, 9999,
                    u"Windows 10 1809 (October 2018 Update)"},
        VersionCase{"Win10ReleaseIdWithinBounds", "win10", Build10("17763", "", "1809"), {}, 1809, 1809, 0, 9999,
                    u""},
        VersionCase{"Win10WithoutReleaseIdRuns", "win10", Build10("17763", "", ""), {}, 1903, 9999, 0, 9999, u""},
        VersionCase{"Win10BuildAboveBounds", "win10", Build10("19045", "22H2", "2009"), {}, 1507, 2111, 0, 9999,
                    u"Windows 10 22H2 (2022 Update)"},
        VersionCase{"Win10BuildWithinBounds", "win10", Build10("19045", "22H2", "2009"), {}, 2210, 2210, 0, 9999,
                    u""},
        VersionCase{"Win10UnlistedBuild", "win10", Build10("19046", "23H1", "2009"), {}, 0, 2210, 0, 9999,
                    u"Windows 10 23H1"},
        VersionCase{"Win11Refused", "win10", Build10("22631", "23H2", ""), {WindowsElement::kWin11}, 0, 9999, 0,
                    9999, u"Windows 11"},
        VersionCase{"Win11ReleaseAboveBounds", "win10", Build10("22631", "23H2", ""), {}, 0, 9999, 2110, 2209,
                    u"Windows 11 23H2 (2023 Update)"},
        VersionCase{"Win11ReleaseWithinBounds", "win10", Build10("26100", "24H2", ""), {WindowsElement::kWin10}, 0,
                    9999, 2110, 2410, u""},
        VersionCase{"Win11UnlistedRelease", "win10", Build10("26300", "26H1", ""), {}, 0, 9999, 0, 2510,
                    u"Windows 11 26H1"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace winetest
