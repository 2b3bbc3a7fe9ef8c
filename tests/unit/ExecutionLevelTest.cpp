#include "launch/ExecutionLevel.h"

#include "launch/Elevation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

std::vector<uint8_t> Utf16Le(const std::string& ascii, bool bigEndian = false) {
  std::vector<uint8_t> bytes = bigEndian ? std::vector<uint8_t>{0xFE, 0xFF}
                                         : std::vector<uint8_t>{0xFF, 0xFE};
  for (char c : ascii) {
    if (bigEndian) bytes.push_back(0);
    bytes.push_back(static_cast<uint8_t>(c));
    if (!bigEndian) bytes.push_back(0);
  }
  return bytes;
}

std::vector<uint8_t> Utf8(const std::string& text) { return {text.begin(), text.end()}; }

struct ManifestCase {
  const char* name;
  std::vector<uint8_t> manifest;
  RequestedLevel expected;
};

class ManifestLevelTest : public testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestLevelTest, ReadsTheRequestedLevel) {
  const ManifestCase& c = GetParam();
  EXPECT_EQ(LevelFromManifest(c.manifest.data(), static_cast<uint32_t>(c.manifest.size())),
            c.expected);
}

const std::string kTrust =
    "<?xml version=\"1.0\"?><assembly><trustInfo><security><requestedPrivileges>";

INSTANTIATE_TEST_SUITE_P(
    Manifests, ManifestLevelTest,
    testing::Values(
        ManifestCase{"RequireAdministrator",
                     Utf8(kTrust + "<requestedExecutionLevel level=\"requireAdministrator\" "
                                   "uiAccess=\"false\"/>"),
                     RequestedLevel::kRequireAdministrator},
        ManifestCase{"AttributesInAnyOrderSingleQuotes",
                     Utf8(kTrust + "<requestedExecutionLevel uiAccess='false'\n level = "
                                   "'highestAvailable'/>"),
                     RequestedLevel::kHighestAvailable},
        ManifestCase{"NamespacePrefix",
                     Utf8("<ms_asmv2:requestedExecutionLevel level=\"asInvoker\"/>"),
                     RequestedLevel::kAsInvoker},
        ManifestCase{"Utf16LittleEndian",
                     Utf16Le("<requestedExecutionLevel level=\"requireAdministrator\"/>"),
                     RequestedLevel::kRequireAdministrator},
        ManifestCase{"Utf16BigEndian",
                     Utf16Le("<requestedExecutionLevel level=\"requireAdministrator\"/>", true),
                     RequestedLevel::kRequireAdministrator},
        ManifestCase{"CommentedOut",
                     Utf8(kTrust + "<!-- <requestedExecutionLevel level=\"requireAdministrator\"/> "
                                   "--><requestedExecutionLevel level=\"asInvoker\"/>"),
                     RequestedLevel::kAsInvoker},
        ManifestCase{"NoLevelElement", Utf8(kTrust + "</requestedPrivileges>"),
                     RequestedLevel::kNotStated},
        ManifestCase{"UnknownValue", Utf8("<requestedExecutionLevel level=\"requireAdmin\"/>"),
                     RequestedLevel::kNotStated},
        ManifestCase{"ValueCutOffAtTheEnd",
                     Utf8("<requestedExecutionLevel level=\"requireAdministrator"),
                     RequestedLevel::kNotStated},
        ManifestCase{"OtherAttributeEndingInLevel",
                     Utf8("<requestedExecutionLevel xlevel=\"requireAdministrator\"/>"),
                     RequestedLevel::kNotStated},
        ManifestCase{"Empty", {}, RequestedLevel::kNotStated}),
    [](const testing::TestParamInfo<ManifestCase>& info) { return info.param.name; });

struct NameCase {
  const char16_t* name;
  bool installer;
};

class InstallerNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(InstallerNameTest, MatchesWindowsWords) {
  EXPECT_EQ(NameSuggestsInstaller(Text(GetParam().name)), GetParam().installer);
}

INSTANTIATE_TEST_SUITE_P(Names, InstallerNameTest,
                         testing::Values(NameCase{u"Setup.exe", true},
                                         NameCase{u"MyAppINSTALLER.exe", true},
                                         NameCase{u"update2.exe", true},
                                         NameCase{u"hotpatch.exe", true},
                                         NameCase{u"Tool.exe", false},
                                         NameCase{u"Set up.exe", false},
                                         NameCase{u"s\u00e9tup.exe", false}));

TEST(StartRaisesRightsTest, FollowsWhatWindowsElevates) {
  struct Row {
    bool runas;
    RequestedLevel level;
    bool filtered;
    bool detection;
    bool raises;
  };
  const Row rows[] = {
      {true, RequestedLevel::kAsInvoker, false, false, true},
      {false, RequestedLevel::kRequireAdministrator, false, false, true},
      {false, RequestedLevel::kHighestAvailable, true, false, true},
      {false, RequestedLevel::kHighestAvailable, false, false, false},
      {false, RequestedLevel::kNotStated, false, true, true},
      {false, RequestedLevel::kAsInvoker, true, true, false},
      {false, RequestedLevel::kNotStated, true, false, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(StartRaisesRights(row.runas, row.level, row.filtered, row.detection), row.raises)
        << row.runas << static_cast<int>(row.level) << row.filtered << row.detection;
  }
}

// With pkgtool's record, the launcher knows before it writes anything.
struct RecordCase {
  const char* name;
  uint32_t majorVersion;
  bool administrator;
  bool filtered;
  std::u16string package;
  std::u16string arguments;
  ElevationMode elevationMode;
  ProgramFacts facts;
  bool raises;
};
void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class RecordedRightsTest : public testing::TestWithParam<RecordCase> {};

TEST_P(RecordedRightsTest, KnowsWhenTheStartWouldRaiseRights) {
  const RecordCase& c = GetParam();
  test::LauncherScene scene;
  scene.platform.filteredAdministrator = c.filtered;
  scene.platform.modulePath = c.package;
  scene.platform.commandLine = u"x " + c.arguments;
  EXPECT_EQ(StartWouldRaiseRights(scene.Context(), c.majorVersion, c.administrator,
                                  c.elevationMode, c.facts),
            c.raises);
}

using L = RequestedLevel;
const std::u16string kSetup = u"C:\\Downloads\\Setup.exe";
const std::u16string kTool = u"C:\\Downloads\\Tool.exe";

INSTANTIATE_TEST_SUITE_P(
    Records, RecordedRightsTest,
    testing::Values(
        RecordCase{"RequireAdministrator", 10, false, false, kTool, u"", 0, {L::kRequireAdministrator, false, false}, true},
        RecordCase{"AdministratorStartsDirectly", 10, true, false, kTool, u"", 0, {L::kRequireAdministrator, false, false}, false},
        RecordCase{"XpStartsDirectly", 5, false, false, kTool, u"", 0, {L::kRequireAdministrator, false, false}, false},
        RecordCase{"RunasForASilentRun", 10, false, false, kTool, u"/s", 1, {L::kAsInvoker, false, false}, true},
        RecordCase{"NoRunasWhenTheModeSaysNever", 10, false, false, kTool, u"/s", 2, {L::kAsInvoker, false, false}, false},
        RecordCase{"HighestAvailableForAFilteredAdministrator", 10, false, true, kTool, u"", 0, {L::kHighestAvailable, false, false}, true},
        RecordCase{"HighestAvailableForAStandardUser", 10, false, false, kTool, u"", 0, {L::kHighestAvailable, false, false}, false},
        RecordCase{"InstallerDetectionByName", 10, false, false, kSetup, u"", 0, {L::kNotStated, true, false}, true},
        RecordCase{"InstallerDetectionByVersionInformation", 10, false, false, kTool, u"", 0, {L::kNotStated, true, true}, true},
        RecordCase{"NoInstallerDetectionFor64BitPrograms", 10, false, false, kSetup, u"", 0, {L::kNotStated, false, true}, false},
        RecordCase{"NoDetectionWhenALevelIsStated", 10, false, false, kSetup, u"", 0, {L::kAsInvoker, true, true}, false},
        RecordCase{"NoRecordDecidesNothingYet", 10, false, false, kSetup, u"/s", 1, {L::kUnknown, true, true}, false}),
    [](const testing::TestParamInfo<RecordCase>& info) { return info.param.name; });

}  // namespace
}  // namespace stub
