#include "gates/WindowsVersionGate.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

using test::Utf16Bytes;

WindowsVersionSet SetOf(std::initializer_list<unsigned> elements) {
  WindowsVersionSet set;
  for (unsigned e : elements) set.Add(e);
  return set;
}

WindowsVersionSet Everything() {
  WindowsVersionSet set;
  for (unsigned e = 0; e < 64; ++e) set.Add(e);
  return set;
}

WindowsVersionSet AllBut(unsigned element) {
  WindowsVersionSet set = Everything();
  set.bytes[element / 8] &= static_cast<uint8_t>(~(1u << (element % 8)));
  return set;
}


// ---------------------------------------------------------------------------
// The dispatch table: version facts against the allowed set.

struct DispatchCase {
  const char* label;
  uint32_t major, minor, platformId;
  unsigned element;     // the element that decides, or kNone
  std::u16string name;  // named when refused
};
constexpr unsigned kNone = 999;

class DispatchTest : public testing::TestWithParam<DispatchCase> {};

TEST_P(DispatchTest, ElementDecidesAndRefusalNamesTheVersion) {
  const DispatchCase& c = GetParam();
  PackageHeader header;

  // Everything but its element (nothing at all when no element decides): refused by name.
  {
    MemoryPlatform platform;
    platform.version = {true, c.major, c.minor, c.platformId};
    platform.servicePack = {true, 4};
    header.allowedWindows = c.element == kNone ? WindowsVersionSet{} : AllBut(c.element);
    const WindowsVerdict refused = JudgeWindowsVersion(platform, header);
    EXPECT_FALSE(refused.pass);
    EXPECT_EQ(ToU16(refused.name), c.name);
    EXPECT_EQ(refused.majorVersion, c.major);
    EXPECT_EQ(platform.calls, std::vector<std::string>{"GetVersion"});
  }
  // Only its element: passes. Without a deciding element, even everything is refused.
  {
    MemoryPlatform platform;
    platform.version = {true, c.major, c.minor, c.platformId};
    platform.servicePack = {true, 4};
    header.allowedWindows = c.element == kNone ? Everything() : SetOf({c.element});
    const WindowsVerdict allowed = JudgeWindowsVersion(platform, header);
    EXPECT_EQ(allowed.pass, c.element != kNone);
    EXPECT_EQ(allowed.majorVersion, c.major);
    if (!allowed.pass) {
      EXPECT_EQ(ToU16(allowed.name), c.name);
    }
    EXPECT_EQ(platform.calls, std::vector<std::string>{"GetVersion"});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, DispatchTest,
    testing::Values(
        // Major 4: the NT platform id comes first, whatever the minor.
        DispatchCase{"NT4", 4, 0, 2, kWinNt4, u"Windows NT 4"},
        DispatchCase{"NT4Minor10", 4, 10, 2, kWinNt4, u"Windows NT 4"},
        DispatchCase{"NT4Minor90", 4, 90, 2, kWinNt4, u"Windows NT 4"},
        DispatchCase{"Win95", 4, 0, 1, kWin95, u"Windows 95"},
        DispatchCase{"Win95Minor3", 4, 3, 1, kWin95, u"Windows 95"},
        DispatchCase{"Win98", 4, 10, 1, kWin98, u"Windows 98"},
        DispatchCase{"Win98PlatformZero", 4, 10, 0, kWin98, u"Windows 98"},
        DispatchCase{"WinME", 4, 90, 1, kWinMe, u"Windows ME"},
        DispatchCase{"WinMEMinor4", 4, 4, 0, kWinMe, u"Windows ME"},
        DispatchCase{"WinMEMinor11", 4, 11, 1, kWinMe, u"Windows ME"},
        // Major 5 beyond Windows 2000.
        DispatchCase{"XP", 5, 1, 2, kWinXp, u"Windows XP"},
        DispatchCase{"XP64AndServer2003", 5, 2, 2, kWinXp, u"Windows XP"},
        DispatchCase{"XPAnyPlatform", 5, 7, 0, kWinXp, u"Windows XP"},
        // Major 6.
        DispatchCase{"Vista", 6, 0, 2, kWinVista, u"Windows Vista"},
        DispatchCase{"Win7", 6, 1, 2, kWin7, u"Windows 7"},
        DispatchCase{"Win8", 6, 2, 2, kWin8, u"Windows 8"},
        DispatchCase{"Win81", 6, 3, 2, kWin81, u"Windows 8.1"},
        DispatchCase{"Six4AlwaysRefused", 6, 4, 2, kNone, u"Windows 6.4"},
        DispatchCase{"Six9AlwaysRefused", 6, 9, 2, kNone, u"Windows 6.9"},
        DispatchCase{"Six10AlwaysRefused", 6, 10, 2, kNone, u"Windows 6.:"},
        // Major 10 and 11 with a minor: element 63, named as 10.x.
        DispatchCase{"Ten1", 10, 1, 2, kWinOther, u"Windows 10.1"},
        DispatchCase{"Eleven1", 11, 1, 2, kWinOther, u"Windows 10.1"},
        DispatchCase{"Eleven3", 11, 3, 2, kWinOther, u"Windows 10.3"},
        DispatchCase{"Ten12", 10, 12, 2, kWinOther, u"Windows 10.<"},
        // Every other major: element 63, two characters before the point.
        DispatchCase{"Twelve", 12, 0, 2, kWinOther, u"Windows 12.0"},
        DispatchCase{"Three5", 3, 5, 2, kWinOther, u"Windows 03.5"},
        DispatchCase{"Three51", 3, 51, 2, kWinOther, u"Windows 03.c"},
        DispatchCase{"Zero", 0, 0, 0, kWinOther, u"Windows 00.0"},
        DispatchCase{"Seven", 7, 2, 2, kWinOther, u"Windows 07.2"},
        DispatchCase{"Nine", 9, 0, 2, kWinOther, u"Windows 09.0"},
        DispatchCase{"TwentyOne", 21, 1, 2, kWinOther, u"Windows 21.1"},
        DispatchCase{"HundredTwenty", 120, 0, 2, kWinOther, u"Windows <0.0"}),
    [](const testing::TestParamInfo<DispatchCase>& info) { return info.param.label; });

TEST(WindowsVersionGateTest, FailedVersionQueryPassesWithMajorZeroAndNothingElseAsked) {
  for (const VersionFacts facts : {VersionFacts{false, 6, 4, 2}, VersionFacts{false, 10, 0, 2},
                                   VersionFacts{false, 5, 0, 2}}) {
    MemoryPlatform platform;
    platform.version = facts;
    PackageHeader header;  // allows nothing
    const WindowsVerdict v = JudgeWindowsVersion(platform, header);
    EXPECT_TRUE(v.pass) << facts.major << "." << facts.minor;
    EXPECT_EQ(v.majorVersion, 0u);
    EXPECT_EQ(platform.calls, std::vector<std::string>{"GetVersion"});
  }
}

// ---------------------------------------------------------------------------
// Windows 2000 and its service packs.

struct Win2000Case {
  const char* label;
  WindowsVersionSet allowed;
  ServicePackFacts servicePack;
  bool pass;
  std::u16string name;
  bool asksServicePack;
};

class Windows2000Test : public testing::TestWithParam<Win2000Case> {};

TEST_P(Windows2000Test, DemandsServicePack4UnlessA9xVersionIsAllowed) {
  const Win2000Case& c = GetParam();
  MemoryPlatform platform;
  platform.version = {true, 5, 0, 2};
  platform.servicePack = c.servicePack;
  PackageHeader header;
  header.allowedWindows = c.allowed;
  const WindowsVerdict v = JudgeWindowsVersion(platform, header);
  EXPECT_EQ(v.pass, c.pass);
  EXPECT_EQ(v.majorVersion, 5u);
  if (!c.pass) {
    EXPECT_EQ(ToU16(v.name), c.name);
  }
  std::vector<std::string> expectedCalls = {"GetVersion"};
  if (c.asksServicePack) expectedCalls.push_back("GetServicePack");
  EXPECT_EQ(platform.calls, expectedCalls);
}

INSTANTIATE_TEST_SUITE_P(
    ServicePacks, Windows2000Test,
    testing::Values(
        Win2000Case{"SP0Refused", SetOf({kWin2000}), {true, 0}, false,
                    u"Windows 2000 (no Service Pack)", true},
        Win2000Case{"SP1Refused", SetOf({kWin2000}), {true, 1}, false,
                    u"Windows 2000 Service Pack 1", true},
        Win2000Case{"SP2Refused", SetOf({kWin2000}), {true, 2}, false,
                    u"Windows 2000 Service Pack 2", true},
        Win2000Case{"SP3Refused", SetOf({kWin2000, kWinXp}), {true, 3}, false,
                    u"Windows 2000 Service Pack 3", true},
        Win2000Case{"SP4Passes", SetOf({kWin2000}), {true, 4}, true, u"", true},
        Win2000Case{"SP9Passes", SetOf({kWin2000}), {true, 9}, true, u"", true},
        Win2000Case{"ExtendedQueryFailsPasses", SetOf({kWin2000}), {false, 0}, true, u"", true},
        // Any of 95, 98 and ME in the set: the service pack is never asked for.
        Win2000Case{"Win95AllowedSkipsServicePack", SetOf({kWin2000, kWin95}), {true, 0}, true,
                    u"", false},
        Win2000Case{"Win98AllowedSkipsServicePack", SetOf({kWin2000, kWinXp, kWin98}), {true, 3},
                    true, u"", false},
        Win2000Case{"WinMEAllowedSkipsServicePack", SetOf({kWin2000, kWinMe}), {true, 1}, true,
                    u"", false},
        // Only those three count: NT 4, other versions and element 63 do not.
        Win2000Case{"NT4AllowedStillAsks", SetOf({kWin2000, kWinNt4}), {true, 3}, false,
                    u"Windows 2000 Service Pack 3", true},
        Win2000Case{"EverythingElseAllowedStillAsks",
                    SetOf({kWin2000, kWinNt4, kWinXp, kWinVista, kWin7, kWin8, kWin81, kWin10,
                           kWin11, 12, 40, kWinOther}),
                    {true, 0}, false, u"Windows 2000 (no Service Pack)", true},
        // Without its element it is refused before the service pack is asked for.
        Win2000Case{"NotAllowedNeverAsks", SetOf({kWinXp}), {true, 4}, false, u"Windows 2000",
                    false},
        Win2000Case{"NotAllowedEvenWith9x", SetOf({kWin95, kWin98, kWinMe}), {true, 4}, false,
                    u"Windows 2000", false}),
    [](const testing::TestParamInfo<Win2000Case>& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Windows 10 and 11 through the registry: whole runs with their read order.

struct RegistryCase {
  const char* label = "";
  uint32_t major = 10;
  // Raw value data; a value whose has-flag is false is missing from the key.
  bool hasCurrentBuild = false;
  std::vector<uint8_t> currentBuild;
  bool hasDisplayVersion = false;
  std::vector<uint8_t> displayVersion;
  bool hasReleaseId = false;
  std::vector<uint8_t> releaseId;
  WindowsVersionSet allowed = SetOf({kWin10, kWin11});
  uint16_t win10Min = 0, win10Max = 9999, win11Min = 0, win11Max = 9999;
  bool pass = true;
  std::u16string name;
  std::vector<std::string> reads;  // registry values read, in order
};

// Terminated text as RegSetValueEx stores a REG_SZ.
std::vector<uint8_t> Sz(const std::u16string& text) { return Utf16Bytes(text, true); }

struct CaseBuilder {
  RegistryCase c;
  explicit CaseBuilder(const char* label) { c.label = label; }
  CaseBuilder& Major(uint32_t m) { c.major = m; return *this; }
  CaseBuilder& Build(const std::u16string& t) { return BuildRaw(Sz(t)); }
  CaseBuilder& BuildRaw(std::vector<uint8_t> raw) {
    c.hasCurrentBuild = true; c.currentBuild = std::move(raw); return *this;
  }
  CaseBuilder& Display(const std::u16string& t) { return DisplayRaw(Sz(t)); }
  CaseBuilder& DisplayRaw(std::vector<uint8_t> raw) {
    c.hasDisplayVersion = true; c.displayVersion = std::move(raw); return *this;
  }
  CaseBuilder& Release(const std::u16string& t) { return ReleaseRaw(Sz(t)); }
  CaseBuilder& ReleaseRaw(std::vector<uint8_t> raw) {
    c.hasReleaseId = true; c.releaseId = std::move(raw); return *this;
  }
  CaseBuilder& Allowed(WindowsVersionSet s) { c.allowed = s; return *this; }
  CaseBuilder& Win10(uint16_t lo, uint16_t hi) { c.win10Min = lo; c.win10Max = hi; return *this; }
  CaseBuilder& Win11(uint16_t lo, uint16_t hi) { c.win11Min = lo; c.win11Max = hi; return *this; }
  CaseBuilder& Refused(const std::u16string& n) { c.pass = false; c.name = n; return *this; }
  CaseBuilder& Reads(std::vector<std::string> r) { c.reads = std::move(r); return *this; }
  operator RegistryCase() const { return c; }  // NOLINT: reads well in the table
};

void Script(MemoryPlatform& platform, const RegistryCase& c) {
  platform.version = {true, c.major, 0, 2};
  if (c.hasCurrentBuild) platform.registry[u"CurrentBuild"] = c.currentBuild;
  if (c.hasDisplayVersion) platform.registry[u"DisplayVersion"] = c.displayVersion;
  if (c.hasReleaseId) platform.registry[u"ReleaseId"] = c.releaseId;
}

PackageHeader HeaderFor(const RegistryCase& c) {
  PackageHeader header;
  header.allowedWindows = c.allowed;
  header.win10MinRelease = c.win10Min;
  header.win10MaxRelease = c.win10Max;
  header.win11MinRelease = c.win11Min;
  header.win11MaxRelease = c.win11Max;
  return header;
}

class RegistryTest : public testing::TestWithParam<RegistryCase> {};

TEST_P(RegistryTest, JudgesBuildAndReleaseReadingOnlyWhatThePathNeeds) {
  const RegistryCase& c = GetParam();
  MemoryPlatform platform;
  Script(platform, c);

  const WindowsVerdict v = JudgeWindowsVersion(platform, HeaderFor(c));
  EXPECT_EQ(v.pass, c.pass);
  EXPECT_EQ(v.majorVersion, c.major);
  if (!c.pass) {
    EXPECT_EQ(ToU16(v.name), c.name);
  }

  // The whole conversation with the system, in order: the key is closed once,
  // last, on a pass, and left to the process end on a refusal.
  std::vector<std::string> expected = {"GetVersion", "OpenKey"};
  for (const std::string& value : c.reads) expected.push_back("QueryValue " + value);
  if (c.pass) expected.push_back("CloseKey");
  EXPECT_EQ(platform.calls, expected);
  EXPECT_EQ(platform.keyOpen, !c.pass);
}

const std::vector<std::string> kBuildOnly = {"CurrentBuild"};
const std::vector<std::string> kWithDisplay = {"CurrentBuild", "DisplayVersion"};
const std::vector<std::string> kWithReleaseId = {"CurrentBuild", "ReleaseId"};

std::vector<RegistryCase> RegistryCases() {
  using B = CaseBuilder;
  std::vector<uint8_t> longBuild = Sz(std::u16string(64, u'9'));  // 130 bytes
  std::vector<uint8_t> fullBuild = Sz(std::u16string(63, u'2'));  // exactly 128 bytes
  // CurrentBuild padded with letters and no terminator, so that a later,
  // shorter read leaves stale units behind it in the shared buffer.
  std::vector<uint8_t> paddedBuild = Utf16Bytes(u"27000" + std::u16string(40, u'X'));
  std::vector<uint8_t> paddedOldBuild = Utf16Bytes(u"17763" + std::u16string(40, u'X'));
  std::vector<uint8_t> displayNoNul = Utf16Bytes(u"ZZ");
  std::vector<uint8_t> sixtyFourAs = Utf16Bytes(std::u16string(64, u'A'));
  std::vector<uint8_t> releaseNoNul = Utf16Bytes(u"18");
  std::vector<uint8_t> releaseWithTail = Sz(u"1810");
  for (char16_t ch : std::u16string(u"junk")) {
    releaseWithTail.push_back(static_cast<uint8_t>(ch));
    releaseWithTail.push_back(0);
  }

  return {
      // --- Windows 11: the edge cases named for the release table --------------
      B("Win11_23H2AboveMaxRefused").Build(u"22631").Display(u"23H2").Win11(2110, 2209)
          .Refused(u"Windows 11 23H2 (2023 Update)").Reads(kWithDisplay),
      B("Win11_23H2WithinMaxPasses").Build(u"22631").Display(u"23H2").Win11(2110, 2310)
          .Reads(kWithDisplay),
      B("Win11_Build22000With22H2TextIsRow1").Build(u"22000").Display(u"22H2").Win11(2209, 9999)
          .Refused(u"Windows 11 21H2 (Original Release)").Reads(kWithDisplay),
      B("Win11_Text21H2OnLaterBuildIsRow1").Build(u"26100").Display(u"21H2").Win11(2209, 9999)
          .Refused(u"Windows 11 21H2 (Original Release)").Reads(kWithDisplay),
      B("Win11_Text22H2OnBuild26100IsRow2").Build(u"26100").Display(u"22H2").Win11(2410, 2410)
          .Refused(u"Windows 11 22H2 (2022 Update)").Reads(kWithDisplay),
      B("Win11_UnknownTextPassesWith9999").Build(u"27000").Display(u"26H2").Win11(3000, 9999)
          .Reads(kWithDisplay),
      B("Win11_UnknownTextPassesAbove9999").Build(u"27000").Display(u"26H2").Win11(0, 65535)
          .Reads(kWithDisplay),
      B("Win11_UnknownTextRefusedWith9998").Build(u"27000").Display(u"26H2").Win11(0, 9998)
          .Refused(u"Windows 11 26H2").Reads(kWithDisplay),
      B("Win11_UnknownTextRefusedWith2510").Build(u"26201").Display(u"26H1").Win11(2110, 2510)
          .Refused(u"Windows 11 26H1").Reads(kWithDisplay),
      B("Win11_UnknownWithoutDisplayVersion").Build(u"27000").Win11(0, 2510)
          .Refused(u"Windows 11 ").Reads(kWithDisplay),
      B("Win11_UnknownDisplayVersionTooLong").Build(u"27000")
          .Display(std::u16string(64, u'Q')).Win11(0, 2510)
          .Refused(u"Windows 11 ").Reads(kWithDisplay),
      B("Win11_DisplayVersionCaseMatters").Build(u"27000").Display(u"25h2").Win11(0, 2510)
          .Refused(u"Windows 11 25h2").Reads(kWithDisplay),
      B("Win11_DisplayVersionMustMatchWhole").Build(u"27000").Display(u"25H2 ").Win11(0, 2510)
          .Refused(u"Windows 11 25H2 ").Reads(kWithDisplay),
      B("Win11_ElementAbsentRefusedBeforeReadingMore").Build(u"22631").Display(u"23H2")
          .Allowed(SetOf({kWin10})).Refused(u"Windows 11").Reads(kBuildOnly),
      B("Win11_ElementAbsentEvenWithEverythingElse").Build(u"26100")
          .Allowed(AllBut(kWin11)).Refused(u"Windows 11").Reads(kBuildOnly),
      B("Win11_Major11LikeMajor10").Major(11).Build(u"22631").Display(u"23H2").Win11(0, 2209)
          .Refused(u"Windows 11 23H2 (2023 Update)").Reads(kWithDisplay),
      B("Win11_Major11Passes").Major(11).Build(u"22631").Display(u"23H2").Reads(kWithDisplay),
      // Only the shared buffer's stored bytes count, not what an earlier read left.
      B("Win11_ShortDisplayVersionWithoutNul").BuildRaw(paddedBuild).DisplayRaw(displayNoNul)
          .Win11(0, 2510).Refused(u"Windows 11 ZZ").Reads(kWithDisplay),
      B("Win11_DisplayVersionOf64UnitsUsedWhole").Build(u"27000").DisplayRaw(sixtyFourAs)
          .Win11(0, 2510).Refused(u"Windows 11 " + std::u16string(64, u'A'))
          .Reads(kWithDisplay),
      B("Win11_CurrentBuildWithoutNul").BuildRaw(Utf16Bytes(u"22631")).Display(u"23H2")
          .Win11(0, 2209).Refused(u"Windows 11 23H2 (2023 Update)").Reads(kWithDisplay),
      // A CurrentBuild of exactly 128 bytes is read; its value saturates.
      B("Win11_CurrentBuildOf128BytesIsRead").BuildRaw(fullBuild).Display(u"30H1")
          .Win11(0, 2510).Refused(u"Windows 11 30H1").Reads(kWithDisplay),

      // --- Windows 10 from build 19042 --------------------------------------
      B("Win10_22H2AboveMaxRefused").Build(u"19045").Display(u"22H2").Win10(1507, 2111)
          .Refused(u"Windows 10 22H2 (2022 Update)").Reads(kWithDisplay),
      B("Win10_BuildDecidesNotText").Build(u"19042").Display(u"22H2").Win10(2210, 9999)
          .Refused(u"Windows 10 20H2 (October 2020 Update)").Reads(kWithDisplay),
      B("Win10_KnownBuildWithoutDisplayVersion").Build(u"19043").Win10(2105, 2105)
          .Reads(kWithDisplay),
      B("Win10_Unknown19046PassesWith9999").Build(u"19046").Display(u"23H2").Win10(3000, 9999)
          .Reads(kWithDisplay),
      B("Win10_Unknown21999PassesAbove9999").Build(u"21999").Display(u"23H2")
          .Win10(65535, 10000).Reads(kWithDisplay),
      B("Win10_UnknownRefusedWith9998").Build(u"19046").Display(u"22H2").Win10(0, 9998)
          .Refused(u"Windows 10 22H2").Reads(kWithDisplay),
      B("Win10_UnknownRefusedNamesDisplayVersion").Build(u"21999").Display(u"23H2")
          .Win10(1507, 2210).Refused(u"Windows 10 23H2").Reads(kWithDisplay),
      B("Win10_UnknownWithoutDisplayVersion").Build(u"20000").Win10(1507, 2210)
          .Refused(u"Windows 10 ").Reads(kWithDisplay),
      B("Win10_ElementAbsentRefusedBeforeDisplayVersion").Build(u"19045")
          .Allowed(SetOf({kWin11})).Refused(u"Windows 10").Reads(kBuildOnly),
      B("Win10_ElementAbsentRefusedBeforeReleaseId").Build(u"17763").Release(u"1809")
          .Allowed(AllBut(kWin10)).Refused(u"Windows 10").Reads(kBuildOnly),
      B("Win10_BuildWithPointParsesLeadingDigits").Build(u"19045.3803").Win10(0, 2111)
          .Refused(u"Windows 10 22H2 (2022 Update)").Reads(kWithDisplay),
      B("Win10_Major11Build19045").Major(11).Build(u"19045").Win10(0, 2111)
          .Refused(u"Windows 10 22H2 (2022 Update)").Reads(kWithDisplay),

      // --- Windows 10 below build 19042: ReleaseId ------------------------------
      B("Win10_ReleaseId1809BelowMinRefused").Build(u"17763").Release(u"1809").Win10(1903, 9999)
          .Refused(u"Windows 10 1809 (October 2018 Update)").Reads(kWithReleaseId),
      B("Win10_ReleaseIdUnlistedUsesText").Build(u"17000").Release(u"1810").Win10(1903, 9999)
          .Refused(u"Windows 10 1810").Reads(kWithReleaseId),
      B("Win10_ReleaseIdTextStopsAtNul").Build(u"17000").ReleaseRaw(releaseWithTail)
          .Win10(1903, 9999).Refused(u"Windows 10 1810").Reads(kWithReleaseId),
      B("Win10_ShortReleaseIdWithoutNul").BuildRaw(paddedOldBuild).ReleaseRaw(releaseNoNul)
          .Win10(1507, 9999).Refused(u"Windows 10 18").Reads(kWithReleaseId),
      B("Win10_ReleaseIdWithTrailingTextNamedByNumber").Build(u"17763").Release(u"1809b")
          .Win10(1903, 9999).Refused(u"Windows 10 1809 (October 2018 Update)")
          .Reads(kWithReleaseId),
      // Only the low 16 bits are compared with the bounds; the name needs the whole number.
      B("Win10_ReleaseIdLow16BitsWithinPass").Build(u"17763").Release(u"67043")
          .Win10(1507, 1507).Reads(kWithReleaseId),
      B("Win10_ReleaseIdLow16BitsOutsideNamesWhole").Build(u"17763").Release(u"67043")
          .Win10(1511, 9999).Refused(u"Windows 10 67043").Reads(kWithReleaseId),
      B("Win10_ReleaseId9999IsJustAHighMaximum").Build(u"17763").Release(u"12000")
          .Win10(1507, 9999).Refused(u"Windows 10 12000").Reads(kWithReleaseId),
      B("Win10_ReleaseIdMissingPasses").Build(u"17763").Win10(3000, 3000).Reads(kWithReleaseId),
      B("Win10_ReleaseIdTooLongPasses").Build(u"17763").Release(std::u16string(70, u'1'))
          .Win10(3000, 3000).Reads(kWithReleaseId),
      B("Win10_Build19041UsesReleaseId").Build(u"19041").Release(u"2004").Display(u"20H2")
          .Win10(2009, 9999).Refused(u"Windows 10 2004 (May 2020 Update)")
          .Reads(kWithReleaseId),
      B("Win10_LetterBuildIsZeroAndUsesReleaseId").Build(u"x19045").Release(u"1507")
          .Win10(1511, 9999).Refused(u"Windows 10 1507 (Original Release)")
          .Reads(kWithReleaseId),
      B("Win10_EmptyBuildIsZero").BuildRaw({}).Release(u"1607").Win10(1607, 1607)
          .Reads(kWithReleaseId),

      // --- Windows cannot tell: pass whatever the elements say -----------------
      B("CurrentBuildMissingPasses").Allowed(WindowsVersionSet{}).Reads(kBuildOnly),
      B("CurrentBuildMissingPassesMajor11").Major(11).Allowed(WindowsVersionSet{})
          .Reads(kBuildOnly),
      B("CurrentBuildLongerThan128BytesPasses").BuildRaw(longBuild)
          .Allowed(WindowsVersionSet{}).Reads(kBuildOnly),
  };
}

INSTANTIATE_TEST_SUITE_P(Releases, RegistryTest, testing::ValuesIn(RegistryCases()),
                         [](const testing::TestParamInfo<RegistryCase>& info) {
                           return info.param.label;
                         });

TEST(WindowsVersionGateTest, KeyThatCannotBeOpenedPassesEvenWithoutWin10And11) {
  for (const uint32_t major : {10u, 11u}) {
    MemoryPlatform platform;
    platform.version = {true, major, 0, 2};
    platform.keyOpens = false;
    platform.SetRegistryText(u"CurrentBuild", u"22631");
    PackageHeader header;  // allows nothing; bounds admit nothing
    header.win10MaxRelease = 0;
    header.win11MaxRelease = 0;
    const WindowsVerdict v = JudgeWindowsVersion(platform, header);
    EXPECT_TRUE(v.pass);
    EXPECT_EQ(v.majorVersion, major);
    // Nothing is read from, and nothing closed on, a key that never opened.
    EXPECT_EQ(platform.calls, (std::vector<std::string>{"GetVersion", "OpenKey"}));
  }
}

// ---------------------------------------------------------------------------
// The release tables, row by row: each row's code is compared inclusively
// with the bounds and each row refuses with its own name.

struct ReleaseRowCase {
  const char* label;
  bool windows11;
  std::u16string currentBuild;
  const char16_t* displayVersion;  // null: missing
  const char16_t* releaseId;       // null: missing
  uint16_t code;
  std::u16string name;
};

class ReleaseRowTest : public testing::TestWithParam<ReleaseRowCase> {};

TEST_P(ReleaseRowTest, CodeIsInclusiveWithinBoundsAndRefusalNamesTheRow) {
  const ReleaseRowCase& c = GetParam();
  struct Bounds {
    uint16_t min, max;
    bool pass;
  };
  const Bounds bounds[] = {
      {c.code, c.code, true},
      {0, c.code, true},
      {c.code, 9999, true},
      {static_cast<uint16_t>(c.code + 1), 9999, false},
      {static_cast<uint16_t>(c.code + 1), 65535, false},
      {0, static_cast<uint16_t>(c.code - 1), false},
  };
  for (const Bounds& b : bounds) {
    MemoryPlatform platform;
    platform.SetRegistryText(u"CurrentBuild", c.currentBuild);
    if (c.displayVersion) platform.SetRegistryText(u"DisplayVersion", c.displayVersion);
    if (c.releaseId) platform.SetRegistryText(u"ReleaseId", c.releaseId);
    PackageHeader header;
    header.allowedWindows = SetOf({c.windows11 ? kWin11 : kWin10});
    (c.windows11 ? header.win11MinRelease : header.win10MinRelease) = b.min;
    (c.windows11 ? header.win11MaxRelease : header.win10MaxRelease) = b.max;
    // The other version's bounds admit nothing, so they cannot be the ones consulted.
    (c.windows11 ? header.win10MinRelease : header.win11MinRelease) = 1;
    (c.windows11 ? header.win10MaxRelease : header.win11MaxRelease) = 0;

    const WindowsVerdict v = JudgeWindowsVersion(platform, header);
    EXPECT_EQ(v.pass, b.pass) << "bounds " << b.min << ".." << b.max;
    if (!b.pass) {
      EXPECT_EQ(ToU16(v.name), c.name) << "bounds " << b.min << ".." << b.max;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Windows11, ReleaseRowTest,
    testing::Values(
        ReleaseRowCase{"Row1ByText", true, u"22000", u"21H2", nullptr, 2110,
                       u"Windows 11 21H2 (Original Release)"},
        ReleaseRowCase{"Row1ByBuildLimit", true, u"22448", u"", nullptr, 2110,
                       u"Windows 11 21H2 (Original Release)"},
        ReleaseRowCase{"Row2ByBuildJustAbove", true, u"22449", nullptr, nullptr, 2209,
                       u"Windows 11 22H2 (2022 Update)"},
        ReleaseRowCase{"Row2ByText", true, u"22621", u"22H2", nullptr, 2209,
                       u"Windows 11 22H2 (2022 Update)"},
        ReleaseRowCase{"Row2BuildBeatsLaterText", true, u"22621", u"23H2", nullptr, 2209,
                       u"Windows 11 22H2 (2022 Update)"},
        ReleaseRowCase{"Row3ByBuildJustAbove", true, u"22622", nullptr, nullptr, 2310,
                       u"Windows 11 23H2 (2023 Update)"},
        ReleaseRowCase{"Row3ByText", true, u"22631", u"23H2", nullptr, 2310,
                       u"Windows 11 23H2 (2023 Update)"},
        ReleaseRowCase{"Row4ByBuildJustAbove", true, u"22632", nullptr, nullptr, 2410,
                       u"Windows 11 24H2 (2024 Update)"},
        ReleaseRowCase{"Row4ByText", true, u"26100", u"24H2", nullptr, 2410,
                       u"Windows 11 24H2 (2024 Update)"},
        ReleaseRowCase{"Row4TextOnLaterBuild", true, u"30000", u"24H2", nullptr, 2410,
                       u"Windows 11 24H2 (2024 Update)"},
        ReleaseRowCase{"Row5ByBuildJustAbove", true, u"26101", nullptr, nullptr, 2510,
                       u"Windows 11 25H2 (2025 Update)"},
        ReleaseRowCase{"Row5ByText", true, u"26200", u"25H2", nullptr, 2510,
                       u"Windows 11 25H2 (2025 Update)"},
        ReleaseRowCase{"Row5TextOnLaterBuild", true, u"26201", u"25H2", nullptr, 2510,
                       u"Windows 11 25H2 (2025 Update)"}),
    [](const testing::TestParamInfo<ReleaseRowCase>& info) { return info.param.label; });

INSTANTIATE_TEST_SUITE_P(
    Windows10Builds, ReleaseRowTest,
    testing::Values(
        ReleaseRowCase{"Build19042", false, u"19042", u"20H2", nullptr, 2009,
                       u"Windows 10 20H2 (October 2020 Update)"},
        ReleaseRowCase{"Build19043", false, u"19043", u"21H1", nullptr, 2105,
                       u"Windows 10 21H1 (May 2021 Update)"},
        ReleaseRowCase{"Build19044", false, u"19044", u"21H2", nullptr, 2111,
                       u"Windows 10 21H2 (November 2021 Update)"},
        ReleaseRowCase{"Build19045", false, u"19045", u"22H2", nullptr, 2210,
                       u"Windows 10 22H2 (2022 Update)"},
        ReleaseRowCase{"Build19045TextIgnored", false, u"19045", u"21H1", u"2004", 2210,
                       u"Windows 10 22H2 (2022 Update)"}),
    [](const testing::TestParamInfo<ReleaseRowCase>& info) { return info.param.label; });

INSTANTIATE_TEST_SUITE_P(
    Windows10ReleaseIds, ReleaseRowTest,
    testing::Values(
        ReleaseRowCase{"Id1507", false, u"10240", nullptr, u"1507", 1507,
                       u"Windows 10 1507 (Original Release)"},
        ReleaseRowCase{"Id1511", false, u"10586", nullptr, u"1511", 1511,
                       u"Windows 10 1511 (November Update)"},
        ReleaseRowCase{"Id1607", false, u"14393", nullptr, u"1607", 1607,
                       u"Windows 10 1607 (Anniversary Update)"},
        ReleaseRowCase{"Id1703", false, u"15063", nullptr, u"1703", 1703,
                       u"Windows 10 1703 (Creators Update)"},
        ReleaseRowCase{"Id1709", false, u"16299", nullptr, u"1709", 1709,
                       u"Windows 10 1709 (Fall Creators Update)"},
        ReleaseRowCase{"Id1803", false, u"17134", nullptr, u"1803", 1803,
                       u"Windows 10 1803 (April 2018 Update)"},
        ReleaseRowCase{"Id1809", false, u"17763", nullptr, u"1809", 1809,
                       u"Windows 10 1809 (October 2018 Update)"},
        ReleaseRowCase{"Id1903", false, u"18362", nullptr, u"1903", 1903,
                       u"Windows 10 1903 (May 2019 Update)"},
        ReleaseRowCase{"Id1909", false, u"18363", u"19H2", u"1909", 1909,
                       u"Windows 10 1909 (November 2019 Update)"},
        ReleaseRowCase{"Id2004", false, u"19041", nullptr, u"2004", 2004,
                       u"Windows 10 2004 (May 2020 Update)"},
        // Not in the list: the name is the value's own text.
        ReleaseRowCase{"Id2009NotListed", false, u"19041", nullptr, u"2009", 2009,
                       u"Windows 10 2009"},
        ReleaseRowCase{"Id1500NotListed", false, u"10000", nullptr, u"1500", 1500,
                       u"Windows 10 1500"},
        ReleaseRowCase{"IdLeadingZerosNamedByNumber", false, u"17763", nullptr, u"01809", 1809,
                       u"Windows 10 1809 (October 2018 Update)"}),
    [](const testing::TestParamInfo<ReleaseRowCase>& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// The gate as the launcher runs it: the name goes into the package's text.

constexpr uint32_t kMessageOffset = 32;
const std::u16string kUnsupportedText = u"Not for %USER%; ask for %user% support.";

struct CheckCase {
  const char* label;
  VersionFacts version;
  const char16_t* currentBuild;  // null: missing
  WindowsVersionSet allowed;
  uint32_t majorVersion;
  std::u16string box;  // empty: no refusal
};

class CheckWindowsVersionTest : public testing::TestWithParam<CheckCase> {};

TEST_P(CheckWindowsVersionTest, ReturnsTheMajorVersionOrShowsTheTextWithTheName) {
  const CheckCase& c = GetParam();
  std::vector<uint8_t> file(kMessageOffset, 0);
  const std::vector<uint8_t> text = Utf16Bytes(kUnsupportedText);
  file.insert(file.end(), text.begin(), text.end());
  test::LauncherScene scene(file);
  MemoryPlatform& platform = scene.platform;
  platform.version = c.version;
  if (c.currentBuild) platform.SetRegistryText(u"CurrentBuild", c.currentBuild);
  const StubContext& context = scene.Context();
  PackageHeader header;
  header.allowedWindows = c.allowed;
  header.win10MaxRelease = kOpenEndedRelease;
  header.win11MaxRelease = kOpenEndedRelease;
  header.unsupportedWindowsMessage = {kMessageOffset,
                                      static_cast<uint16_t>(kUnsupportedText.size())};

  if (c.box.empty()) {
    EXPECT_EQ(CheckWindowsVersion(context, header), c.majorVersion);
    EXPECT_TRUE(platform.boxes.empty());
    return;
  }
  EXPECT_THROW(CheckWindowsVersion(context, header), ProcessEnded);
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].text, c.box);
  EXPECT_EQ(platform.boxes[0].caption, platform.modulePath);
  EXPECT_EQ(platform.boxes[0].reason, EndReason::kUnsupportedWindows);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CheckWindowsVersionTest,
    testing::Values(
        CheckCase{"VistaAllowed", {true, 6, 0, 2}, nullptr, SetOf({kWinVista}), 6, u""},
        CheckCase{"Win11Allowed", {true, 10, 0, 2}, u"26100", SetOf({kWin11}), 10, u""},
        CheckCase{"Major11Allowed", {true, 11, 0, 2}, u"26100", SetOf({kWin11}), 11, u""},
        CheckCase{"QueryFailsReturnsZero", {false, 6, 0, 2}, nullptr, WindowsVersionSet{}, 0,
                  u""},
        CheckCase{"VistaRefused", {true, 6, 0, 2}, nullptr, SetOf({kWin7}), 6,
                  u"Not for Windows Vista; ask for Windows Vista support."},
        CheckCase{"Win11Refused", {true, 10, 0, 2}, u"22631", SetOf({kWin10}), 10,
                  u"Not for Windows 11; ask for Windows 11 support."},
        CheckCase{"ComposedNameRefused", {true, 3, 51, 2}, nullptr, SetOf({kWin10}), 3,
                  u"Not for Windows 03.c; ask for Windows 03.c support."}),
    [](const testing::TestParamInfo<CheckCase>& info) { return info.param.label; });

// ---------------------------------------------------------------------------

struct DigitsCase {
  const char* label;
  std::vector<uint8_t> bytes;
  uint32_t byteCount;
  int32_t value;
};

class ParseLeadingDigitsTest : public testing::TestWithParam<DigitsCase> {};

TEST_P(ParseLeadingDigitsTest, ReadsTheLeadingDecimalDigits) {
  const DigitsCase& c = GetParam();
  ASSERT_LE(c.byteCount, c.bytes.size());
  EXPECT_EQ(ParseLeadingDigits(c.bytes.data(), c.byteCount), c.value);
}

std::vector<uint8_t> WithUnit(std::u16string s, char16_t unit, std::u16string tail) {
  s.push_back(unit);
  return Utf16Bytes(s + tail);
}

INSTANTIATE_TEST_SUITE_P(
    Data, ParseLeadingDigitsTest,
    testing::Values(
        DigitsCase{"Build", Utf16Bytes(u"19045"), 10, 19045},
        DigitsCase{"BuildWithNul", Sz(u"19045"), 12, 19045},
        DigitsCase{"StopsAtPoint", Utf16Bytes(u"19045.1234"), 20, 19045},
        DigitsCase{"LeadingLetter", Utf16Bytes(u"A19045"), 12, 0},
        DigitsCase{"LeadingBlank", Utf16Bytes(u" 19045"), 12, 0},
        DigitsCase{"Empty", {}, 0, 0},
        DigitsCase{"OneByteOnly", Utf16Bytes(u"7"), 1, 0},
        DigitsCase{"OddCountDropsLastByte", Utf16Bytes(u"1809"), 7, 180},
        DigitsCase{"CountLimitsTheUnits", Utf16Bytes(u"19045"), 4, 19},
        DigitsCase{"LeadingZeros", Utf16Bytes(u"0000019045"), 20, 19045},
        DigitsCase{"StopsAtNul", Utf16Bytes(std::u16string(u"12") + u'\0' + u"34"), 10, 12},
        // Units are whole 16-bit values: a digit's low byte with a high byte set is no digit.
        DigitsCase{"HighByteMakesNoDigit", WithUnit(u"1", u'\u0131', u"2"), 6, 1},
        DigitsCase{"FullwidthDigitIsNoDigit", WithUnit(u"", u'\uFF11', u"2"), 4, 0},
        DigitsCase{"ColonIsNoDigit", Utf16Bytes(u"12:3"), 8, 12},
        DigitsCase{"SlashIsNoDigit", Utf16Bytes(u"12/3"), 8, 12},
        // Beyond the signed 32-bit range the value saturates.
        DigitsCase{"Int32Max", Utf16Bytes(u"2147483647"), 20, INT32_MAX},
        DigitsCase{"Int32MaxPlusOne", Utf16Bytes(u"2147483648"), 20, INT32_MAX},
        DigitsCase{"WrapsUnsigned32", Utf16Bytes(u"4294967296"), 20, INT32_MAX},
        DigitsCase{"ElevenNines", Utf16Bytes(u"99999999999"), 22, INT32_MAX},
        DigitsCase{"TwentyNines", Utf16Bytes(u"99999999999999999999"), 40, INT32_MAX},
        DigitsCase{"SixtyFourDigits", Utf16Bytes(std::u16string(64, u'9')), 128, INT32_MAX},
        DigitsCase{"NineDigits", Utf16Bytes(u"999999999"), 18, 999999999}),
    [](const testing::TestParamInfo<DigitsCase>& info) { return info.param.label; });

}  // namespace
}  // namespace stub
