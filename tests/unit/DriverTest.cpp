// The whole main sequence on the in-memory platform: what a user of the
// package sees, from the first read of the file to the start of the setup
// program.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "authoring/LauncherResource.h"
#include "authoring/PackageWriter.h"
#include "launcher/FatalMessages.h"
#include "platform/Memory.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

using writer::BuildPackage;
using writer::PackageRecipe;

const std::u16string kPackagePath = u"C:\\Downloads\\Setup.exe";
const std::u16string kTemp = u"C:\\Users\\User\\AppData\\Local\\Temp\\";

std::vector<uint8_t> Program(char tag, size_t size = 5000) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(tag + (i % 13) * (i % 7));
  return bytes;
}

PackageRecipe SoundRecipe() {
  PackageRecipe recipe;
  recipe.stub = writer::MinimalStubImage();
  recipe.x86 = Program('a');
  recipe.x64 = Program('b');
  recipe.expiredMessage = u"This package has expired.";
  recipe.wrongWidthMessage = u"Not for this processor.";
  recipe.unsupportedWindowsMessage = u"Not for %USER%.";
  return recipe;
}

struct LauncherRun {
  MemoryPlatform platform;
  uint32_t exitCode = 0xFFFFFFFFu;

  explicit LauncherRun(const PackageRecipe& recipe, const std::u16string& arguments = u"") {
    platform.packageBytes = BuildPackage(recipe).bytes;
    platform.modulePath = kPackagePath;
    platform.commandLine = u"\"" + kPackagePath + u"\"" + (arguments.empty() ? u"" : u" " + arguments);
    platform.files[kPackagePath] = platform.packageBytes;
    platform.version = {true, 10, 0, 2};
    platform.SetRegistryText(u"CurrentBuild", u"26100");
    platform.SetRegistryText(u"DisplayVersion", u"24H2");
  }
  void Go() { exitCode = RunOnMemoryPlatform(platform); }
  size_t IndexOf(const std::string& prefix) const {
    for (size_t i = 0; i < platform.calls.size(); ++i) {
      if (platform.calls[i].rfind(prefix, 0) == 0) return i;
    }
    return SIZE_MAX;
  }
};

TEST(DriverTest, SoundPackageStartsTheSetupProgramWaitsAndDeletesTheCopy) {
  LauncherRun run(SoundRecipe(), u"/S \"D:\\My Folder\"");
  run.platform.wow64 = true;
  run.Go();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.platform.boxes.empty());
  ASSERT_EQ(run.platform.starts.size(), 1u);
  const RecordedStart& start = run.platform.starts[0];
  // Not elevated on Windows 11: a shell start; "/S" is a silent switch and
  // the elevation mode is 0, so "open" without " /noadmin".
  EXPECT_TRUE(start.shell);
  EXPECT_EQ(start.verb, u"open");
  EXPECT_EQ(start.file, kTemp + u"Setup.exe");
  EXPECT_EQ(start.parameters, u"\"" + kPackagePath + u"\" /S \"D:\\My Folder\"");
  EXPECT_EQ(run.platform.waits, 1);
  // The copy was the 64-bit program, and it is gone afterwards.
  EXPECT_EQ(run.platform.files.count(kTemp + u"Setup.exe"), 0u);
  EXPECT_TRUE(std::find(run.platform.removed.begin(), run.platform.removed.end(),
                        kTemp + u"Setup.exe") != run.platform.removed.end());
}

TEST(DriverTest, CopyHoldsTheSelectedProgramAndThePackageIsClosedBeforeTheStart) {
  PackageRecipe recipe = SoundRecipe();
  recipe.detached = true;  // keeps the copy so its bytes can be checked
  LauncherRun run(recipe, u"/32");
  run.platform.wow64 = true;
  run.platform.administrator = true;
  run.Go();
  ASSERT_EQ(run.platform.starts.size(), 1u);
  EXPECT_FALSE(run.platform.starts[0].shell);
  // An administrator's copy, in its private folder below the machine's own
  // temporary folder.
  EXPECT_EQ(run.platform.files.at(u"C:\\Windows\\SystemTemp\\" + test::kFirstPrivateName +
                                  u"\\Setup.exe"),
            Program('a'));
  EXPECT_EQ(run.platform.waits, 0);
  EXPECT_TRUE(run.platform.removed.empty());
  EXPECT_LT(run.IndexOf("ClosePackageFile"), run.IndexOf("StartDirect"));
  EXPECT_LT(run.IndexOf("CreateCopy"), run.IndexOf("ClosePackageFile"));
  EXPECT_TRUE(run.platform.starts[0].copyHeldDuringStart);
  EXPECT_FALSE(run.platform.copyHeld);
}

TEST(DriverTest, GatesRunInOrderAndTheFirstRefusalWins) {
  PackageRecipe recipe = SoundRecipe();
  recipe.expiryYear = 2020;
  recipe.expiryMonth = 1;
  recipe.expiryDay = 1;
  recipe.x64.reset();
  recipe.barFrom64Bit = true;  // would also be refused on 64-bit Windows
  recipe.allowedWindows = WindowsVersionSet{};
  LauncherRun run(recipe);
  run.platform.wow64 = true;
  run.Go();
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.platform.boxes.size(), 1u);
  EXPECT_EQ(run.platform.boxes[0].text, u"This package has expired.");
  EXPECT_EQ(run.platform.boxes[0].caption, kPackagePath);
  EXPECT_FALSE(run.platform.CallMade("Machine"));
  EXPECT_FALSE(run.platform.CallMade("GetVersion"));
}

TEST(DriverTest, UnsupportedWindowsNamesTheVersionFound) {
  PackageRecipe recipe = SoundRecipe();
  recipe.allowedWindows = WindowsVersionSet{};
  recipe.allowedWindows.Add(kWin10);
  LauncherRun run(recipe);
  run.Go();
  ASSERT_EQ(run.platform.boxes.size(), 1u);
  EXPECT_EQ(run.platform.boxes[0].text, u"Not for Windows 11.");
  EXPECT_TRUE(run.platform.starts.empty());
}

struct FatalCase {
  const char* name;
  void (*damage)(std::vector<uint8_t>& bytes);
  FatalMessage expected;
};

class DriverFatalTest : public testing::TestWithParam<FatalCase> {};

TEST_P(DriverFatalTest, ShowsOneBoxAndEndsWithCodeZero) {
  LauncherRun run(SoundRecipe());
  GetParam().damage(run.platform.packageBytes);
  run.Go();
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.platform.boxes.size(), 1u);
  EXPECT_EQ(run.platform.boxes[0].text, std::u16string(FatalMessageText(GetParam().expected)));
  EXPECT_EQ(run.platform.boxes[0].caption, kPackagePath);
  EXPECT_EQ(run.platform.boxes[0].style, MemoryPlatform::kMbIconError);
  EXPECT_TRUE(run.platform.starts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Packages, DriverFatalTest,
    testing::Values(
        FatalCase{"BareStub",
                  [](std::vector<uint8_t>& b) { b = writer::MinimalStubImage(); },
                  FatalMessage::kDamaged},
        FatalCase{"Truncated", [](std::vector<uint8_t>& b) { b.resize(b.size() - 3); },
                  FatalMessage::kTruncated},
        FatalCase{"FlippedPayloadByte",
                  [](std::vector<uint8_t>& b) { b[512 + 74 + 20] ^= 0x40; },
                  FatalMessage::kDamaged}),
    [](const testing::TestParamInfo<FatalCase>& info) { return info.param.name; });

TEST(DriverTest, UnopenablePackageIsDamaged) {
  LauncherRun run(SoundRecipe());
  run.platform.packageOpenFails = true;
  run.Go();
  ASSERT_EQ(run.platform.boxes.size(), 1u);
  EXPECT_EQ(run.platform.boxes[0].text, std::u16string(FatalMessageText(FatalMessage::kDamaged)));
}

TEST(DriverTest, ExhaustedMemoryShowsOurOwnBox) {
  PackageRecipe recipe = SoundRecipe();
  recipe.x64 = Program('c', 3 << 20);
  LauncherRun run(recipe);
  run.platform.wow64 = true;
  SetAllocationLimitForTesting(1 << 20);
  run.Go();
  SetAllocationLimitForTesting(0);
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.platform.boxes.size(), 1u);
  EXPECT_EQ(run.platform.boxes[0].text, std::u16string(kMsgOutOfMemory));
  EXPECT_TRUE(run.platform.starts.empty());
}

// The boxes of the unpacking and the copy, which now happen together, keep
// their order: a damaged program is reported as damaged whatever befell the
// copy, and no box leaves a copy behind or anything started.
struct PrecedenceCase {
  const char* name;
  bool damaged;      // the program's stated size is one byte more than its stream holds
  bool uncreatable;  // the temporary folder refuses the copy
  std::optional<uint32_t> shortWrite;
  FatalMessage box;
};
void PrintTo(const PrecedenceCase& c, std::ostream* os) { *os << c.name; }

class DriverPrecedenceTest : public testing::TestWithParam<PrecedenceCase> {};

TEST_P(DriverPrecedenceTest, DamageIsSaidFirstAndNoCopyStays) {
  const PrecedenceCase& c = GetParam();
  PackageRecipe recipe = SoundRecipe();
  recipe.x86 = Program('a', 3 << 20);  // three pieces
  if (c.damaged) recipe.adjustHeader = [](PackageHeader& h) { ++h.payload32.unpackedSize; };
  LauncherRun run(recipe);
  if (c.uncreatable) run.platform.uncreatable = {kTemp + u"Setup.exe"};
  run.platform.shortWrite = c.shortWrite;
  run.platform.clockStep = 700;  // slow enough for the progress window
  run.Go();
  ASSERT_EQ(run.platform.boxes.size(), 1u);
  EXPECT_EQ(run.platform.boxes[0].text, std::u16string(FatalMessageText(c.box)));
  EXPECT_TRUE(run.platform.starts.empty());
  EXPECT_EQ(run.platform.files.count(kTemp + u"Setup.exe"), 0u);
  EXPECT_FALSE(run.platform.progressOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, DriverPrecedenceTest,
    testing::Values(
        PrecedenceCase{"DamagedAndUncreatable", true, true, std::nullopt, FatalMessage::kDamaged},
        PrecedenceCase{"Uncreatable", false, true, std::nullopt, FatalMessage::kCannotCreateCopy},
        PrecedenceCase{"Damaged", true, false, std::nullopt, FatalMessage::kDamaged},
        PrecedenceCase{"DamagedAndShortWrite", true, false, 1u << 20, FatalMessage::kDamaged},
        PrecedenceCase{"ShortWrite", false, false, 1u << 20, FatalMessage::kCannotCreateCopy}),
    [](const testing::TestParamInfo<PrecedenceCase>& info) { return info.param.name; });

TEST(DriverTest, ProgressWindowIsGoneBeforeTheStart) {
  PackageRecipe recipe = SoundRecipe();
  recipe.x86 = Program('a', 3 << 20);
  LauncherRun run(recipe);
  run.platform.clockStep = 700;
  run.Go();
  ASSERT_EQ(run.platform.starts.size(), 1u);
  EXPECT_FALSE(run.platform.progressShown.empty());
  EXPECT_FALSE(run.platform.starts[0].progressShownDuringStart);
}

// ---------------------------------------------------------------------------
// The vendor's settings: deployment mode ends with a code that says what
// happened, without a box when the run is silent; the texts come in the
// user's language. A package without settings ends as it always has.
struct SettingsCase {
  const char* name;
  std::optional<writer::LauncherSettingsChoice> settings;
  std::u16string arguments;
  void (*recipe)(PackageRecipe&);
  void (*platform)(MemoryPlatform&);
  bool boxShown;
  std::u16string text;  // of the ending, box shown or not
  uint32_t exitCode;
};
void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

const writer::LauncherSettingsChoice kDeployment{true, {}};
writer::LauncherLanguage German() {
  writer::LauncherLanguage l;
  l.language = 0x0407;
  l.texts[static_cast<int>(LauncherText::kDamaged)] = u"Beschädigt.";
  l.texts[static_cast<int>(LauncherText::kUnsupportedWindows)] = u"Nicht für %USER%.";
  l.texts[static_cast<int>(LauncherText::kOutOfMemory)] = u"Kein Speicher.";
  return l;
}
const writer::LauncherSettingsChoice kGerman{false, {German()}};

void NoChange(PackageRecipe&) {}
void Same(MemoryPlatform&) {}
void Damage(MemoryPlatform& p) { p.packageBytes[512 + 74 + 20] ^= 0x40; }
void Truncate(MemoryPlatform& p) { p.packageBytes.resize(p.packageBytes.size() - 3); }
void Expire(PackageRecipe& r) { r.expiryYear = 2020, r.expiryMonth = 1, r.expiryDay = 1; }
void OnlyWindows10(PackageRecipe& r) {
  r.allowedWindows = WindowsVersionSet{};
  r.allowedWindows.Add(kWin10);
}
void Only32Bit(PackageRecipe& r) { r.x64.reset(), r.barFrom64Bit = true; }
void Wow64(MemoryPlatform& p) { p.wow64 = true; }
void Uncreatable(MemoryPlatform& p) { p.uncreatable = {kTemp + u"Setup.exe"}; }
void StartFails(MemoryPlatform& p) { p.startFails = true; }
void Declined(MemoryPlatform& p) { p.startCancelled = true; }
void Exits3010(MemoryPlatform& p) { p.setupExitCode = 3010; }
void ElevateWhenSilent(PackageRecipe& r) { r.elevationMode = 1; }
void GermanUser(MemoryPlatform& p) { p.uiLanguage = 0x0407, Damage(p); }
void AustrianUser(MemoryPlatform& p) { p.uiLanguage = 0x0C07, Damage(p); }

const std::u16string kDamaged = FatalMessageText(FatalMessage::kDamaged);
const std::u16string kCannotCopy = FatalMessageText(FatalMessage::kCannotCreateCopy);
const std::u16string kCannotExecute = FatalMessageText(FatalMessage::kCannotExecute);

class DriverSettingsTest : public testing::TestWithParam<SettingsCase> {};

TEST_P(DriverSettingsTest, EndsAsTheVendorChose) {
  const SettingsCase& c = GetParam();
  PackageRecipe recipe = SoundRecipe();
  c.recipe(recipe);
  LauncherRun run(recipe, c.arguments);
  if (c.settings) run.platform.settingsResource = writer::EncodeLauncherSettings(*c.settings);
  c.platform(run.platform);
  run.Go();
  EXPECT_EQ(run.exitCode, c.exitCode);
  EXPECT_EQ(run.platform.boxes.size(), c.boxShown ? 1u : 0u);
  if (c.text.empty()) {
    EXPECT_TRUE(run.platform.ends.empty());
    return;
  }
  ASSERT_EQ(run.platform.ends.size(), 1u);
  EXPECT_EQ(run.platform.ends[0].text, c.text);
  EXPECT_TRUE(run.platform.starts.empty() || run.platform.ends[0].reason == EndReason::kCannotExecute ||
              run.platform.ends[0].reason == EndReason::kElevationDeclined);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, DriverSettingsTest,
    testing::Values(
        SettingsCase{"NoSettingsDamagedSilent", std::nullopt, u"/s", NoChange, Damage, true, kDamaged, 0},
        SettingsCase{"NoSettingsIgnoresTheSetupProgramsCode", std::nullopt, u"", NoChange, Exits3010,
                     false, u"", 0},
        SettingsCase{"DamagedWithBoxWhenNotSilent", kDeployment, u"", NoChange, Damage, true, kDamaged, 1620},
        SettingsCase{"DamagedSilent", kDeployment, u"/s", NoChange, Damage, false, kDamaged, 1620},
        SettingsCase{"TruncatedSilent", kDeployment, u"/SILENT", NoChange, Truncate, false,
                     FatalMessageText(FatalMessage::kTruncated), 1620},
        SettingsCase{"Expired", kDeployment, u"/s", Expire, Same, false, u"This package has expired.", 1931},
        SettingsCase{"UnsupportedWindows", kDeployment, u"/s", OnlyWindows10, Same, false,
                     u"Not for Windows 11.", 1633},
        SettingsCase{"WrongWidth", kDeployment, u"/s", Only32Bit, Wow64, false, u"Not for this processor.",
                     1633},
        SettingsCase{"CannotCreateCopy", kDeployment, u"/s", NoChange, Uncreatable, false, kCannotCopy, 1603},
        SettingsCase{"CannotExecute", kDeployment, u"/s", NoChange, StartFails, false, kCannotExecute, 1603},
        SettingsCase{"ElevationDeclined", kDeployment, u"/s", ElevateWhenSilent, Declined, false,
                     kCannotExecute, 1223},
        SettingsCase{"PassesTheSetupProgramsCode", kDeployment, u"/s", NoChange, Exits3010, false, u"", 3010},
        SettingsCase{"GermanUser", kGerman, u"", NoChange, GermanUser, true, u"Beschädigt.", 0},
        SettingsCase{"AustrianUserGetsTheGermanText", kGerman, u"", NoChange, AustrianUser, true,
                     u"Beschädigt.", 0},
        SettingsCase{"EnglishUserGetsTheDefault", kGerman, u"", NoChange, Damage, true, kDamaged, 0},
        // The display language has no entry; the next one the user set in
        // Windows does.
        SettingsCase{"UsersFallbackListIsFollowed", kGerman, u"", NoChange,
                     [](MemoryPlatform& p) { p.uiLanguage = 0x0403, p.preferredLanguages = {0x0403, 0x0407}, Damage(p); },
                     true, u"Beschädigt.", 0},
        SettingsCase{"TranslatedRefusalGetsItsPlaceholder", kGerman, u"", OnlyWindows10,
                     [](MemoryPlatform& p) { p.uiLanguage = 0x0407; }, true, u"Nicht für Windows 11.", 0},
        SettingsCase{"UntranslatedTextKeepsThePackagesOwn", kGerman, u"", Expire,
                     [](MemoryPlatform& p) { p.uiLanguage = 0x0407; }, true, u"This package has expired.", 0},
        // Settings that cannot be trusted say nothing about the ending either.
        SettingsCase{"UnsoundSettingsAreDamage", std::nullopt, u"/s", NoChange,
                     [](MemoryPlatform& p) { p.settingsResource = {'L', 'S', 'E', 'T', 1, 0, 1, 0}; }, true,
                     kDamaged, 0}),
    [](const testing::TestParamInfo<SettingsCase>& info) { return info.param.name; });

TEST(DriverSettingsTest, OutOfMemorySpeaksTheUsersLanguage) {
  PackageRecipe recipe = SoundRecipe();
  recipe.x64 = Program('c', 3 << 20);
  LauncherRun run(recipe);
  run.platform.wow64 = true;
  run.platform.uiLanguage = 0x0407;
  run.platform.settingsResource = writer::EncodeLauncherSettings(kGerman);
  {
    test::AllocationCeiling ceiling(1 << 20);
    run.Go();
  }
  ASSERT_EQ(run.platform.boxes.size(), 1u);
  EXPECT_EQ(run.platform.boxes[0].text, u"Kein Speicher.");
  EXPECT_EQ(run.platform.ends[0].reason, EndReason::kOutOfMemory);
}

TEST(DriverSettingsTest, OutOfMemoryInDeploymentModeEndsSilentlyWithItsCode) {
  PackageRecipe recipe = SoundRecipe();
  recipe.x64 = Program('c', 3 << 20);
  LauncherRun run(recipe, u"/s");
  run.platform.wow64 = true;
  run.platform.settingsResource = writer::EncodeLauncherSettings(kDeployment);
  {
    test::AllocationCeiling ceiling(1 << 20);
    run.Go();
  }
  EXPECT_EQ(run.exitCode, 8u);
  EXPECT_TRUE(run.platform.boxes.empty());
  ASSERT_EQ(run.platform.ends.size(), 1u);
  EXPECT_EQ(run.platform.ends[0].reason, EndReason::kOutOfMemory);
  // And the next run, without settings, has its box again.
  EXPECT_TRUE(OutOfMemoryEnding().showBox);
  EXPECT_EQ(OutOfMemoryEnding().exitCode, 0u);
}

}  // namespace
}  // namespace stub

namespace stub {
namespace {

// ---------------------------------------------------------------------------
// Elevation before extraction: when a plain user's start would raise the
// setup program's rights, the launcher raises itself instead, once, and the
// elevated launcher makes the locked copy and starts it directly.
enum class Then { kStartsTheCopy, kRelaunches, kDeclined, kRelaunchFails };

struct ElevationCase {
  const char* name;
  std::u16string arguments;
  bool administrator;
  std::vector<uint8_t> manifest;  // of the setup program; empty: none
  Then then;
  std::u16string expected;  // relaunch: its parameters; copy start: shell parameters or command line
};
void PrintTo(const ElevationCase& c, std::ostream* os) { *os << c.name; }

class ElevationTest : public testing::TestWithParam<ElevationCase> {};

TEST_P(ElevationTest, RaisesItselfBeforeItWritesACopy) {
  const ElevationCase& c = GetParam();
  PackageRecipe recipe = SoundRecipe();
  recipe.x64.reset();  // the 32-bit program, which installer detection may elevate
  LauncherRun run(recipe, c.arguments);
  run.platform.administrator = c.administrator;
  if (!c.manifest.empty()) run.platform.programManifest = c.manifest;
  run.platform.startCancelled = c.then == Then::kDeclined;
  run.platform.startFails = c.then == Then::kRelaunchFails;
  run.platform.setupExitCode = 3010;
  run.Go();

  EXPECT_EQ(run.exitCode, 0u) << "outside deployment mode the launcher ends with 0";
  if (c.then == Then::kStartsTheCopy) {
    ASSERT_EQ(run.platform.starts.size(), 1u);
    const RecordedStart& start = run.platform.starts[0];
    EXPECT_EQ(start.shell ? start.parameters : start.commandLine, c.expected);
    EXPECT_TRUE(run.platform.boxes.empty());
    return;
  }
  // The copy written before the manifest was read is gone before the prompt.
  for (const auto& copy : run.platform.copies) EXPECT_EQ(run.platform.files.count(copy.path), 0u);
  EXPECT_LT(run.IndexOf("RemoveFile"), run.IndexOf("StartShell"));
  if (c.then == Then::kRelaunches) {
    ASSERT_EQ(run.platform.starts.size(), 1u);
    const RecordedStart& start = run.platform.starts[0];
    EXPECT_TRUE(start.shell);
    EXPECT_EQ(start.verb, u"runas");
    EXPECT_EQ(start.file, kPackagePath);
    EXPECT_EQ(start.parameters, c.expected);
    EXPECT_EQ(run.platform.waits, 1);
    EXPECT_TRUE(run.platform.boxes.empty()) << "the elevated launcher shows its own boxes";
    return;
  }
  ASSERT_EQ(run.platform.boxes.size(), 1u);
  EXPECT_EQ(run.platform.boxes[0].text, FatalMessageText(FatalMessage::kCannotExecute));
  EXPECT_EQ(run.platform.boxes[0].reason, c.then == Then::kDeclined ? EndReason::kElevationDeclined
                                                                    : EndReason::kCannotExecute);
}

const std::u16string kCopyLine = u"\"" + kTemp + u"Setup.exe\" \"" + kPackagePath + u"\"";
const std::u16string kElevatedCopy = u"\"C:\\Windows\\SystemTemp\\" + test::kFirstPrivateName +
                                     u"\\Setup.exe\" \"" + kPackagePath + u"\"";

INSTANTIATE_TEST_SUITE_P(
    Starts, ElevationTest,
    testing::Values(
        ElevationCase{"AsInvokerStartsAsBefore", u"", false, test::AsInvokerManifest(),
                      Then::kStartsTheCopy, u"\"" + kPackagePath + u"\" /noadmin"},
        ElevationCase{"RequireAdministratorRelaunches", u"/s /temp \"C:\\Deploy Temp\\\"", false,
                      test::RequireAdministratorManifest(), Then::kRelaunches,
                      u"/~elevated /s /temp \"C:\\Deploy Temp\"\\"},
        // Windows' installer detection: a 32-bit Setup.exe that asks for nothing.
        ElevationCase{"InstallerDetectionRelaunches", u"", false, {}, Then::kRelaunches,
                      u"/~elevated"},
        ElevationCase{"DeclinedPromptIsTheCannotExecuteBox", u"", false,
                      test::RequireAdministratorManifest(), Then::kDeclined, u""},
        ElevationCase{"FailedRelaunch", u"", false, test::RequireAdministratorManifest(),
                      Then::kRelaunchFails, u""},
        // Relaunched already: never again, also where "runas" raised nothing.
        ElevationCase{"RelaunchedButStillAUserStartsTheCopy", u"/~elevated /x", false,
                      test::RequireAdministratorManifest(), Then::kStartsTheCopy,
                      u"\"" + kPackagePath + u"\" /x /noadmin"},
        ElevationCase{"ElevatedLauncherStartsDirectlyWithoutTheMarker", u"/~elevated /s", true,
                      test::RequireAdministratorManifest(), Then::kStartsTheCopy,
                      kElevatedCopy + u" /s"},
        // Only in first place, as the launcher puts it there.
        ElevationCase{"MarkerElsewhereIsAnArgument", u"/s /~elevated", true, {},
                      Then::kStartsTheCopy, kElevatedCopy + u" /s /~elevated"},
        ElevationCase{"AdministratorNeverRelaunches", u"", true, test::RequireAdministratorManifest(),
                      Then::kStartsTheCopy, kElevatedCopy}),
    [](const testing::TestParamInfo<ElevationCase>& info) { return info.param.name; });

TEST(ElevationTest, MappedDrivePackageIsRelaunchedByItsNetworkPath) {
  PackageRecipe recipe = SoundRecipe();
  LauncherRun run(recipe, u"/s");
  run.platform.modulePath = u"Z:\\Pkg\\Setup.exe";
  run.platform.files[u"Z:\\Pkg\\Setup.exe"] = run.platform.packageBytes;
  run.platform.universalNames[u"Z:\\Pkg\\Setup.exe"] = u"\\\\srv\\share\\Pkg\\Setup.exe";
  run.platform.programManifest = test::RequireAdministratorManifest();
  run.Go();
  ASSERT_EQ(run.platform.starts.size(), 1u);
  EXPECT_EQ(run.platform.starts[0].file, u"\\\\srv\\share\\Pkg\\Setup.exe");
}

TEST(ElevationTest, DeploymentModePassesTheElevatedLaunchersCodeAndAsksTheShellForNoBoxes) {
  PackageRecipe recipe = SoundRecipe();
  LauncherRun run(recipe, u"/s");
  run.platform.settingsResource = writer::EncodeLauncherSettings(kDeployment);
  run.platform.programManifest = test::RequireAdministratorManifest();
  run.platform.setupExitCode = 3010;
  run.Go();
  EXPECT_EQ(run.exitCode, 3010u);
  ASSERT_EQ(run.platform.starts.size(), 1u);
  EXPECT_EQ(run.platform.starts[0].verb, u"runas");
  EXPECT_TRUE(run.platform.starts[0].noUi);
}

}  // namespace
}  // namespace stub
