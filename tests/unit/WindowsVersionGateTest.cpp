#include "gates/WindowsVersionGate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "platform/memory/MemoryPlatform.h"

namespace stub {
namespace {

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

// ---------------------------------------------------------------------------
// The dispatch table: version facts against the allowed set.

struct DispatchCase {
  const char* label;
  uint32_t major, minor, platformId;
  unsigned element;      // the element that decides, or kNone
  std::u16string name;   // named when refused
};
constexpr unsigned kNone = 999;

class DispatchTest : public testing::TestWithParam<DispatchCase> {};

TEST_P(DispatchTest, ElementDecidesAndRefusalNamesTheVersion) {
  const DispatchCase& c = GetParam();
  MemoryPlatform platform;
  platform.version = {true, c.major, c.minor, c.platformId};
  platform.servicePack = {true, 4};
  PackageHeader header;

  // Without its element (or with nothing at all), the version is refused by name.
  header.allowedWindows = c.element == kNone ? WindowsVersionSet{} : Everything();
  if (c.element != kNone) header.allowedWindows.bytes[c.element / 8] &= ~(1u << (c.element % 8));
  WindowsVerdict refused = JudgeWindowsVersion(platform, header);
  EXPECT_FALSE(refused.pass);
  EXPECT_EQ(ToU16(refused.name), c.name);
  EXPECT_EQ(refused.majorVersion, c.major);

  // With only its element, it passes; version 6.4 and later minors never do.
  header.allowedWindows = c.element == kNone ? Everything() : SetOf({c.element});
  const WindowsVerdict allowed = JudgeWindowsVersion(platform, header);
  EXPECT_EQ(allowed.pass, c.element != kNone) << c.label;
  EXPECT_FALSE(platform.CallMade("OpenKey"));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, DispatchTest,
    testing::Values(
        DispatchCase{"NT4", 4, 0, 2, kWinNt4, u"Windows NT 4"},
        DispatchCase{"NT4AnyMinor", 4, 90, 2, kWinNt4, u"Windows NT 4"},
        DispatchCase{"Win95", 4, 0, 1, kWin95, u"Windows 95"},
        DispatchCase{"Win95Minor3", 4, 3, 1, kWin95, u"Windows 95"},
        DispatchCase{"Win98", 4, 10, 1, kWin98, u"Windows 98"},
        DispatchCase{"WinME", 4, 90, 1, kWinMe, u"Windows ME"},
        DispatchCase{"WinMEOddMinor", 4, 4, 0, kWinMe, u"Windows ME"},
        DispatchCase{"XP", 5, 1, 2, kWinXp, u"Windows XP"},
        DispatchCase{"XP64AndServer2003", 5, 2, 2, kWinXp, u"Windows XP"},
        DispatchCase{"Vista", 6, 0, 2, kWinVista, u"Windows Vista"},
        DispatchCase{"Win7", 6, 1, 2, kWin7, u"Windows 7"},
        DispatchCase{"Win8", 6, 2, 2, kWin8, u"Windows 8"},
        DispatchCase{"Win81", 6, 3, 2, kWin81, u"Windows 8.1"},
        DispatchCase{"Six4AlwaysRefused", 6, 4, 2, kNone, u"Windows 6.4"},
        DispatchCase{"Six10AlwaysRefused", 6, 10, 2, kNone, u"Windows 6.:"},
        DispatchCase{"Ten1", 10, 1, 2, kWinOther, u"Windows 10.1"},
        DispatchCase{"Eleven3", 11, 3, 2, kWinOther, u"Windows 10.3"},
        DispatchCase{"Twelve", 12, 0, 2, kWinOther, u"Windows 12.0"},
        DispatchCase{"Three5", 3, 5, 2, kWinOther, u"Windows 03.5"},
        DispatchCase{"Three51", 3, 51, 2, kWinOther, u"Windows 03.c"},
        DispatchCase{"Zero", 0, 0, 0, kWinOther, u"Windows 00.0"},
        DispatchCase{"Seven", 7, 2, 2, kWinOther, u"Windows 07.2"}),
    [](const testing::TestParamInfo<DispatchCase>& info) { return info.param.label; });

TEST(WindowsVersionGateTest, FailedVersionQueryPassesWithMajorZero) {
  MemoryPlatform platform;
  platform.version = {false, 6, 1, 2};
  PackageHeader header;  // allows nothing
  const WindowsVerdict v = JudgeWindowsVersion(platform, header);
  EXPECT_TRUE(v.pass);
  EXPECT_EQ(v.majorVersion, 0u);
  EXPECT_EQ(platform.calls, std::vector<std::string>{"GetVersion"});
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
  if (!c.pass) EXPECT_EQ(ToU16(v.name), c.name);
  EXPECT_EQ(platform.CallMade("GetServicePack"), c.asksServicePack);
}

INSTANTIATE_TEST_SUITE_P(
    ServicePacks, Windows2000Test,
    testing::Values(
        Win2000Case{"SP3Refused", SetOf({kWin2000, kWinXp}), {true, 3}, false,
                    u"Windows 2000 Service Pack 3", true},
        Win2000Case{"SP1Refused", SetOf({kWin2000}), {true, 1}, false,
                    u"Windows 2000 Service Pack 1", true},
        Win2000Case{"SP0Refused", SetOf({kWin2000}), {true, 0}, false,
                    u"Windows 2000 (no Service Pack)", true},
        Win2000Case{"SP4Passes", SetOf({kWin2000}), {true, 4}, true, u"", true},
        Win2000Case{"SP9Passes", SetOf({kWin2000}), {true, 9}, true, u"", true},
        Win2000Case{"ExtendedQueryFails", SetOf({kWin2000}), {false, 0}, true, u"", true},
        Win2000Case{"Win98AllowedSkipsServicePack", SetOf({kWin2000, kWinXp, kWin98}), {true, 3},
                    true, u"", false},
        Win2000Case{"Win95AllowedSkipsServicePack", SetOf({kWin2000, kWin95}), {true, 0}, true,
                    u"", false},
        Win2000Case{"NotAllowedNeverAsks", SetOf({kWinXp}), {true, 4}, false, u"Windows 2000",
                    false}),
    [](const testing::TestParamInfo<Win2000Case>& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Windows 10 and 11 through the registry.

struct RegistryCase {
  const char* label;
  uint32_t major = 10;
  const char16_t* currentBuild = nullptr;  // null: value missing
  const char16_t* displayVersion = nullptr;
  const char16_t* releaseId = nullptr;
  WindowsVersionSet allowed = SetOf({kWin10, kWin11});
  uint16_t win10Min = 0, win10Max = 9999, win11Min = 0, win11Max = 9999;
  bool pass = true;
  std::u16string name;
  std::vector<std::string> reads;  // registry values read, in order
};

RegistryCase Case(const char* label) {
  RegistryCase c;
  c.label = label;
  return c;
}

class RegistryTest : public testing::TestWithParam<RegistryCase> {};

TEST_P(RegistryTest, JudgesBuildAndRelease) {
  const RegistryCase& c = GetParam();
  MemoryPlatform platform;
  platform.version = {true, c.major, 0, 2};
  if (c.currentBuild) platform.SetRegistryText(u"CurrentBuild", c.currentBuild);
  if (c.displayVersion) platform.SetRegistryText(u"DisplayVersion", c.displayVersion);
  if (c.releaseId) platform.SetRegistryText(u"ReleaseId", c.releaseId);
  PackageHeader header;
  header.allowedWindows = c.allowed;
  header.win10MinRelease = c.win10Min;
  header.win10MaxRelease = c.win10Max;
  header.win11MinRelease = c.win11Min;
  header.win11MaxRelease = c.win11Max;

  const WindowsVerdict v = JudgeWindowsVersion(platform, header);
  EXPECT_EQ(v.pass, c.pass);
  EXPECT_EQ(v.majorVersion, c.major);
  if (!c.pass) EXPECT_EQ(ToU16(v.name), c.name);

  std::vector<std::string> reads;
  for (const auto& call : platform.calls) {
    if (call.rfind("QueryValue ", 0) == 0) reads.push_back(call.substr(11));
  }
  EXPECT_EQ(reads, c.reads);
  EXPECT_FALSE(platform.CallMade("QueryValue size not reset"));
  // Every pass closes the key it opened.
  if (c.pass) EXPECT_FALSE(platform.keyOpen);
}

std::vector<RegistryCase> RegistryCases() {
  std::vector<RegistryCase> cases;
  auto add = [&](RegistryCase c) { cases.push_back(c); };
  const std::vector<std::string> b11 = {"CurrentBuild", "DisplayVersion"};
  const std::vector<std::string> b10old = {"CurrentBuild", "ReleaseId"};

  {
    auto c = Case("Win11_23H2_AboveMaxRefused");
    c.currentBuild = u"22631"; c.displayVersion = u"23H2"; c.win11Min = 2110; c.win11Max = 2209;
    c.pass = false; c.name = u"Windows 11 23H2 (2023 Update)"; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win11_23H2_WithinPasses");
    c.currentBuild = u"22631"; c.displayVersion = u"23H2"; c.win11Min = 2110; c.win11Max = 2310;
    c.reads = b11; add(c);
  }
  {
    auto c = Case("Win11_Build22000Is21H2WhateverTheText");
    c.currentBuild = u"22000"; c.displayVersion = u"22H2"; c.win11Min = 2209;
    c.pass = false; c.name = u"Windows 11 21H2 (Original Release)"; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win11_Text21H2OnLaterBuildIsRow1");
    c.currentBuild = u"26100"; c.displayVersion = u"21H2"; c.win11Min = 2209;
    c.pass = false; c.name = u"Windows 11 21H2 (Original Release)"; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win11_24H2BelowMinRefused");
    c.currentBuild = u"26100"; c.displayVersion = u"24H2"; c.win11Min = 2510;
    c.pass = false; c.name = u"Windows 11 24H2 (2024 Update)"; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win11_25H2ByBuild");
    c.currentBuild = u"26200"; c.win11Max = 2410;
    c.pass = false; c.name = u"Windows 11 25H2 (2025 Update)"; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win11_UnknownLaterReleasePassesWith9999");
    c.currentBuild = u"27000"; c.displayVersion = u"26H2"; c.win11Min = 3000;
    c.reads = b11; add(c);
  }
  {
    auto c = Case("Win11_UnknownLaterReleaseRefusedBelow9999");
    c.currentBuild = u"27000"; c.displayVersion = u"26H2"; c.win11Max = 2510;
    c.pass = false; c.name = u"Windows 11 26H2"; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win11_UnknownWithoutDisplayVersion");
    c.currentBuild = u"27000"; c.win11Max = 2510;
    c.pass = false; c.name = u"Windows 11 "; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win11_ElementAbsentRefusedBeforeReadingMore");
    c.currentBuild = u"22631"; c.displayVersion = u"23H2"; c.allowed = SetOf({kWin10});
    c.pass = false; c.name = u"Windows 11"; c.reads = {"CurrentBuild"}; add(c);
  }
  {
    auto c = Case("Win11_Major11LikeMajor10");
    c.major = 11; c.currentBuild = u"22631"; c.displayVersion = u"23H2"; c.win11Max = 2209;
    c.pass = false; c.name = u"Windows 11 23H2 (2023 Update)"; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win10_22H2AboveMaxRefused");
    c.currentBuild = u"19045"; c.displayVersion = u"22H2"; c.win10Min = 1507; c.win10Max = 2111;
    c.pass = false; c.name = u"Windows 10 22H2 (2022 Update)"; c.reads = b11; add(c);
  }
  const std::pair<const char16_t*, const char16_t*> builds[] = {
      {u"19042", u"Windows 10 20H2 (October 2020 Update)"},
      {u"19043", u"Windows 10 21H1 (May 2021 Update)"},
      {u"19044", u"Windows 10 21H2 (November 2021 Update)"}};
  const char* labels[] = {"Win10_20H2", "Win10_21H1", "Win10_21H2"};
  for (int i = 0; i < 3; ++i) {
    auto c = Case(labels[i]);
    c.currentBuild = builds[i].first; c.win10Min = 2210;
    c.pass = false; c.name = builds[i].second; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win10_UnknownBuildPassesWith9999");
    c.currentBuild = u"19999"; c.displayVersion = u"23H2"; c.win10Min = 3000; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win10_UnknownBuildRefusedBelow9999");
    c.currentBuild = u"19999"; c.displayVersion = u"23H2"; c.win10Max = 2210;
    c.pass = false; c.name = u"Windows 10 23H2"; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win10_ReleaseIdNamedRefusal");
    c.currentBuild = u"17763"; c.releaseId = u"1809"; c.win10Min = 1903;
    c.pass = false; c.name = u"Windows 10 1809 (October 2018 Update)"; c.reads = b10old; add(c);
  }
  {
    auto c = Case("Win10_ReleaseIdUnlistedUsesText");
    c.currentBuild = u"17000"; c.releaseId = u"1810"; c.win10Min = 1903;
    c.pass = false; c.name = u"Windows 10 1810"; c.reads = b10old; add(c);
  }
  {
    auto c = Case("Win10_ReleaseIdWithinPasses");
    c.currentBuild = u"18363"; c.releaseId = u"1909"; c.win10Min = 1903; c.win10Max = 1909;
    c.reads = b10old; add(c);
  }
  {
    auto c = Case("Win10_ReleaseIdMissingPasses");
    c.currentBuild = u"17763"; c.win10Min = 3000; c.reads = b10old; add(c);
  }
  {
    auto c = Case("Win10_ElementAbsentRefusedBeforeDisplayVersion");
    c.currentBuild = u"19045"; c.allowed = SetOf({kWin11});
    c.pass = false; c.name = u"Windows 10"; c.reads = {"CurrentBuild"}; add(c);
  }
  {
    auto c = Case("Win10_BuildWithPointParsesLeadingDigits");
    c.currentBuild = u"19045.3803"; c.win10Max = 2111;
    c.pass = false; c.name = u"Windows 10 22H2 (2022 Update)"; c.reads = b11; add(c);
  }
  {
    auto c = Case("Win10_LetterBuildIsZeroAndUsesReleaseId");
    c.currentBuild = u"x19045"; c.releaseId = u"1507"; c.win10Min = 1511;
    c.pass = false; c.name = u"Windows 10 1507 (Original Release)"; c.reads = b10old; add(c);
  }
  {
    auto c = Case("CurrentBuildMissingPasses");
    c.allowed = WindowsVersionSet{}; c.reads = {"CurrentBuild"}; add(c);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Releases, RegistryTest, testing::ValuesIn(RegistryCases()),
                         [](const testing::TestParamInfo<RegistryCase>& info) {
                           return info.param.label;
                         });

TEST(WindowsVersionGateTest, KeyThatCannotBeOpenedPassesEvenWithoutWin10And11) {
  MemoryPlatform platform;
  platform.keyOpens = false;
  PackageHeader header;  // allows nothing
  const WindowsVerdict v = JudgeWindowsVersion(platform, header);
  EXPECT_TRUE(v.pass);
  EXPECT_EQ(v.majorVersion, 10u);
  EXPECT_FALSE(platform.CallMade("QueryValue CurrentBuild"));
}

TEST(WindowsVersionGateTest, CurrentBuildLongerThan128BytesPasses) {
  MemoryPlatform platform;
  platform.SetRegistryText(u"CurrentBuild", std::u16string(64, u'9'));  // 130 bytes with NUL
  PackageHeader header;
  EXPECT_TRUE(JudgeWindowsVersion(platform, header).pass);
  EXPECT_FALSE(platform.keyOpen);
}

TEST(WindowsVersionGateTest, DisplayVersionOf64UnitsWithoutTerminatorIsUsedWhole) {
  MemoryPlatform platform;
  platform.SetRegistryText(u"CurrentBuild", u"27000");
  std::vector<uint8_t> raw;
  for (int i = 0; i < 64; ++i) { raw.push_back('A'); raw.push_back(0); }
  platform.registry[u"DisplayVersion"] = raw;
  PackageHeader header;
  header.allowedWindows = SetOf({kWin11});
  header.win11MaxRelease = 2510;
  const WindowsVerdict v = JudgeWindowsVersion(platform, header);
  EXPECT_EQ(ToU16(v.name), u"Windows 11 " + std::u16string(64, u'A'));
}

// ---------------------------------------------------------------------------

struct DigitsCase {
  std::vector<uint8_t> bytes;
  uint32_t byteCount;
  int32_t value;
};

std::vector<uint8_t> Utf16(const std::u16string& s) {
  std::vector<uint8_t> b;
  for (char16_t c : s) { b.push_back(static_cast<uint8_t>(c)); b.push_back(static_cast<uint8_t>(c >> 8)); }
  return b;
}

class ParseLeadingDigitsTest : public testing::TestWithParam<DigitsCase> {};

TEST_P(ParseLeadingDigitsTest, ReadsTheLeadingDecimalDigits) {
  const DigitsCase& c = GetParam();
  EXPECT_EQ(ParseLeadingDigits(c.bytes.data(), c.byteCount), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Data, ParseLeadingDigitsTest,
    testing::Values(DigitsCase{Utf16(u"19045"), 10, 19045},
                    DigitsCase{Utf16(u"19045.1234"), 20, 19045},
                    DigitsCase{Utf16(u"A19045"), 12, 0},
                    DigitsCase{{}, 0, 0},
                    DigitsCase{Utf16(u"1809"), 7, 180},  // odd count drops the last byte
                    DigitsCase{Utf16(u"2147483647"), 20, INT32_MAX},
                    DigitsCase{Utf16(u"2147483648"), 20, INT32_MAX},
                    DigitsCase{Utf16(u"99999999999999999999"), 40, INT32_MAX},
                    DigitsCase{Utf16(u"0000019045"), 20, 19045},
                    DigitsCase{Utf16(std::u16string(u"12") + u'\0' + u"34"), 10, 12}));

}  // namespace
}  // namespace stub
