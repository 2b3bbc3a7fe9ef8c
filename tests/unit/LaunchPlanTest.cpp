#include "launch/LaunchPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launch/TemporaryCopy.h"
#include "launcher/FatalMessages.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

const std::u16string kPackage = u"C:\\Downloads\\Setup.exe";
const std::u16string kCopy = u"C:\\Temp\\Setup.exe";

// ---------------------------------------------------------------------------
struct ArgumentsTextCase {
  const char* name;
  std::u16string packagePath;
  std::u16string arguments;  // after the program name, as typed
  std::u16string expected;
};

class ArgumentsTextTest : public testing::TestWithParam<ArgumentsTextCase> {};

TEST_P(ArgumentsTextTest, QuotesThePackageAndOnlyArgumentsWithSeparators) {
  const ArgumentsTextCase& c = GetParam();
  const std::u16string commandLine = u"Setup.exe " + c.arguments;
  ArgumentList arguments(commandLine.c_str(), FromU16(kPackage));
  EXPECT_EQ(ToU16(BuildArgumentsText(FromU16(c.packagePath), arguments)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ArgumentsTextTest,
    testing::Values(
        ArgumentsTextCase{"NoArguments", kPackage, u"", u"\"C:\\Downloads\\Setup.exe\""},
        ArgumentsTextCase{"SwitchesAndQuotedFolder", kPackage, u"/s /temp \"D:\\My Temp\"",
                          u"\"C:\\Downloads\\Setup.exe\" /s /temp \"D:\\My Temp\""},
        ArgumentsTextCase{"TrailingBackslashAfterTheClosingQuote", kPackage,
                          u"/temp \"C:\\Deploy Temp\\\" /s",
                          u"\"C:\\Downloads\\Setup.exe\" /temp \"C:\\Deploy Temp\"\\ /s"},
        ArgumentsTextCase{"TrailingBackslashWithoutSpace", kPackage, u"D:\\A\\",
                          u"\"C:\\Downloads\\Setup.exe\" D:\\A\\"},
        ArgumentsTextCase{"TabIsQuoted", kPackage, u"\"a\tb\"",
                          u"\"C:\\Downloads\\Setup.exe\" \"a\tb\""},
        ArgumentsTextCase{"OrderAndCaseKept", kPackage, u"/32 /TEMP D:\\A /S /Silent",
                          u"\"C:\\Downloads\\Setup.exe\" /32 /TEMP D:\\A /S /Silent"},
        ArgumentsTextCase{"PackagePathWithSpaces", u"C:\\My Files\\Setup.exe", u"/s",
                          u"\"C:\\My Files\\Setup.exe\" /s"},
        ArgumentsTextCase{"NetworkPackagePath", u"\\\\srv\\share\\Setup.exe", u"x y",
                          u"\"\\\\srv\\share\\Setup.exe\" x y"}),
    [](const testing::TestParamInfo<ArgumentsTextCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// What the setup program gets back when it splits its command line, by the
// launcher's own rule and by CommandLineToArgvW's.

// CommandLineToArgvW's rule for the arguments after the program name: space
// and tab separate outside quotes; 2n backslashes and a quote give n
// backslashes and toggle quoting, 2n+1 give n and a literal quote.
std::vector<std::u16string> SplitAsCommandLineToArgvW(const std::u16string& line) {
  std::vector<std::u16string> out;
  size_t i = line.find(u'"', 1) + 1;  // past the quoted program name
  for (;;) {
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= line.size()) return out;
    std::u16string argument;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != u' ' && line[i] != u'\t'))) {
      size_t slashes = 0;
      while (i < line.size() && line[i] == u'\\') ++slashes, ++i;
      if (i < line.size() && line[i] == u'"') {
        argument.append(slashes / 2, u'\\');
        if (slashes % 2) argument += u'"'; else quoted = !quoted;
        ++i;
      } else {
        argument.append(slashes, u'\\');
        if (i < line.size() && (quoted || (line[i] != u' ' && line[i] != u'\t'))) argument += line[i++];
      }
    }
    out.push_back(argument);
  }
}

struct RoundTripCase {
  const char* name;
  std::vector<std::u16string> arguments;
};
void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class ArgumentsRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(ArgumentsRoundTripTest, SetupProgramGetsTheLaunchersArgumentsBack) {
  const RoundTripCase& c = GetParam();
  // The launcher's own command line, each argument typed in quotes.
  std::u16string typed = u"Setup.exe";
  for (const auto& argument : c.arguments) typed += u" \"" + argument + u"\"";
  ArgumentList launcher(typed.c_str(), FromU16(kPackage));
  ASSERT_EQ(launcher.Count(), static_cast<int>(c.arguments.size()));

  const std::u16string line =
      u"\"" + kCopy + u"\" " + ToU16(BuildArgumentsText(FromU16(kPackage), launcher));
  std::vector<std::u16string> expected = {kPackage};
  expected.insert(expected.end(), c.arguments.begin(), c.arguments.end());

  ArgumentList setup(line.c_str(), FromU16(kCopy));
  std::vector<std::u16string> split;
  for (int i = 1; i <= setup.Count(); ++i) split.push_back(ToU16(setup.Argument(i)));
  EXPECT_EQ(split, expected) << "split by the launcher's rule";
  EXPECT_EQ(SplitAsCommandLineToArgvW(line), expected) << "split by CommandLineToArgvW's rule";
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ArgumentsRoundTripTest,
    testing::Values(
        RoundTripCase{"Plain", {u"/s", u"name=value", u"/32"}},
        RoundTripCase{"Space", {u"D:\\My Temp", u"x"}},
        RoundTripCase{"TabHidingASwitch", {u"a\t/s"}},
        RoundTripCase{"TabAlone", {u"\t", u"/silent"}},
        RoundTripCase{"LineBreakAndControlCharacters", {u"one\ntwo", u"a\x01" u"b", u"c\x1f" u"d"}},
        RoundTripCase{"BackslashesWithoutSeparators", {u"D:\\A\\", u"\\\\srv\\x"}},
        RoundTripCase{"SpaceAndTrailingBackslash", {u"/temp", u"C:\\Deploy Temp\\", u"/s"}},
        RoundTripCase{"TabAndTrailingBackslashes", {u"D:\\Tab\there\\\\\\"}},
        RoundTripCase{"SeparatorThenBackslash", {u"a \\", u" \\\\"}},
        RoundTripCase{"InnerBackslashesBeforeSpace", {u"a\\\\ b"}}),
    [](const testing::TestParamInfo<RoundTripCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
struct UniversalCase {
  const char* name;
  std::u16string path;
  std::u16string mappedTo;  // empty: the drive is not mapped
  bool asked;
  std::u16string expected;
};

class UniversalPathTest : public testing::TestWithParam<UniversalCase> {};

TEST_P(UniversalPathTest, AsksOnlyForDriveLetterPaths) {
  const UniversalCase& c = GetParam();
  MemoryPlatform platform;
  if (!c.mappedTo.empty()) platform.universalNames[c.path] = c.mappedTo;
  EXPECT_EQ(ToU16(ResolveUniversalPath(platform, FromU16(c.path))), c.expected);
  const bool asked = std::any_of(platform.calls.begin(), platform.calls.end(), [](const auto& s) {
    return s.rfind("UniversalName", 0) == 0;
  });
  EXPECT_EQ(asked, c.asked);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UniversalPathTest,
    testing::Values(
        UniversalCase{"MappedDrive", u"Z:\\Pkg\\Setup.exe", u"\\\\srv\\share\\Pkg\\Setup.exe",
                      true, u"\\\\srv\\share\\Pkg\\Setup.exe"},
        UniversalCase{"LocalDrive", kPackage, u"", true, kPackage},
        UniversalCase{"NetworkPath", u"\\\\srv\\share\\Setup.exe", u"\\\\other\\x", false,
                      u"\\\\srv\\share\\Setup.exe"},
        UniversalCase{"ColonElsewhere", u"ab:c", u"\\\\srv\\x", false, u"ab:c"},
        UniversalCase{"OneCharacter", u"Z", u"", false, u"Z"},
        UniversalCase{"Empty", u"", u"", false, u""}),
    [](const testing::TestParamInfo<UniversalCase>& info) { return info.param.name; });

TEST(UniversalPathTest, EmptyNetworkFormKeepsThePath) {
  MemoryPlatform platform;
  platform.universalNames[kPackage] = u"";
  EXPECT_EQ(ToU16(ResolveUniversalPath(platform, FromU16(kPackage))), kPackage);
}

// ---------------------------------------------------------------------------
enum class Expect { kDirect, kOpenNoAdmin, kOpen, kRunas };

struct PlanCase {
  const char* name;
  uint32_t majorVersion;
  bool administrator;
  std::u16string arguments;
  ElevationMode elevationMode;
  Expect expected;
};

class LaunchPlanTest : public testing::TestWithParam<PlanCase> {};

TEST_P(LaunchPlanTest, ChoosesStartModeVerbAndNoAdmin) {
  const PlanCase& c = GetParam();
  MemoryPlatform platform;
  platform.administrator = c.administrator;
  const std::u16string commandLine = u"Setup.exe " + c.arguments;
  ArgumentList arguments(commandLine.c_str(), FromU16(kPackage));
  const Text argumentsText(u"\"pkg\" args");

  // The token decides, whatever version Windows reports.
  const bool administrator = LaunchesAsAdministrator(platform);
  EXPECT_EQ(administrator, c.administrator);
  const LaunchPlan plan = ChooseLaunchPlan(c.majorVersion, administrator, arguments,
                                           c.elevationMode, FromU16(kCopy), argumentsText,
                                           Text(u"C:\\Pkg\\"));

  if (c.expected == Expect::kDirect) {
    ASSERT_EQ(plan.mode, StartMode::kDirectStart);
    EXPECT_EQ(ToU16(plan.commandLine), u"\"" + kCopy + u"\" \"pkg\" args");
    EXPECT_EQ(ToU16(plan.currentDirectory), u"C:\\Pkg\\");
    return;
  }
  ASSERT_EQ(plan.mode, StartMode::kShellStart);
  EXPECT_EQ(ToU16(plan.file), kCopy);
  EXPECT_EQ(ToU16(plan.verb), c.expected == Expect::kRunas ? u"runas" : u"open");
  EXPECT_EQ(ToU16(plan.parameters),
            c.expected == Expect::kOpenNoAdmin ? u"\"pkg\" args /noadmin" : u"\"pkg\" args");
}

INSTANTIATE_TEST_SUITE_P(
    Plans, LaunchPlanTest,
    testing::Values(
        PlanCase{"VersionQueryFailed", 0, false, u"", 1, Expect::kDirect},
        PlanCase{"XpSilentElevating", 5, false, u"/s", 1, Expect::kDirect},
        PlanCase{"XpAdministrator", 5, true, u"", 2, Expect::kDirect},
        PlanCase{"VistaAdministrator", 6, true, u"/s", 1, Expect::kDirect},
        PlanCase{"VistaUser", 6, false, u"", 0, Expect::kOpenNoAdmin},
        PlanCase{"Win10Administrator", 10, true, u"", 0, Expect::kDirect},
        PlanCase{"HugeVersionIsNotBelowSix", 0x80000000u, false, u"", 0, Expect::kOpenNoAdmin},
        PlanCase{"Mode0NotSilent", 10, false, u"", 0, Expect::kOpenNoAdmin},
        PlanCase{"Mode1NotSilent", 10, false, u"/temp D:\\A", 1, Expect::kOpenNoAdmin},
        PlanCase{"Mode2NotSilent", 10, false, u"", 2, Expect::kOpenNoAdmin},
        PlanCase{"Mode7NotSilent", 10, false, u"", 7, Expect::kOpenNoAdmin},
        PlanCase{"Mode0Silent", 10, false, u"/silent", 0, Expect::kOpen},
        PlanCase{"Mode1UpperS", 10, false, u"/S", 1, Expect::kRunas},
        PlanCase{"Mode1SilentMixedCase", 10, false, u"/SiLeNt /32", 1, Expect::kRunas},
        PlanCase{"Mode2Silent", 10, false, u"/s", 2, Expect::kOpenNoAdmin},
        PlanCase{"Mode7Silent", 10, false, u"/silent", 7, Expect::kOpen},
        PlanCase{"SilentAsTempFolder", 10, false, u"/temp /silent", 1, Expect::kRunas},
        PlanCase{"SilentFirstOfSeveral", 10, false, u"/s /temp D:\\A", 1, Expect::kRunas},
        PlanCase{"LookalikeSwitches", 10, false, u"/silently /sx s -s", 1, Expect::kOpenNoAdmin},
        PlanCase{"DottedCapitalIIsNotSilent", 10, false, u"/S\u0130LENT", 1,
                 Expect::kOpenNoAdmin}),
    [](const testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

TEST(LaunchPlanScanTest, PackagePathIsNotScannedForSwitches) {
  ArgumentList arguments(u"Setup.exe", Text(u"/s"));
  const LaunchPlan plan =
      ChooseLaunchPlan(10, false, arguments, 1, FromU16(kCopy), Text(u"t"), Text(u""));
  EXPECT_EQ(ToU16(plan.verb), u"open");
  EXPECT_EQ(ToU16(plan.parameters), u"t /noadmin");
}

// ---------------------------------------------------------------------------
// The whole launch step on the in-memory platform.
struct RunCase {
  const char* name;
  std::u16string package;
  std::u16string arguments;
  uint32_t majorVersion;
  bool detached;
  bool startFails;
  // Expected start: commandLine/currentDirectory for a direct start,
  // parameters for a shell start.
  bool shell;
  std::u16string commandOrParameters;
  std::u16string currentDirectory;
  bool universalAsked;
};

class RunSetupProgramTest : public testing::TestWithParam<RunCase> {};

TEST_P(RunSetupProgramTest, StartsHoldsWaitsAndCleansUp) {
  const RunCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.startFails = c.startFails;
  platform.universalNames[u"Z:\\Pkg\\Setup.exe"] = u"\\\\srv\\share\\Pkg\\Setup.exe";
  platform.files[kCopy] = {'M', 'Z'};
  platform.HoldCopy(FromU16(kCopy), false);
  platform.commandLine = u"Setup.exe " + c.arguments;
  platform.modulePath = c.package;

  bool ended = false;
  try {
    RunSetupProgram(scene.Context(), TemporaryCopy{FromU16(kCopy), Text()}, c.majorVersion, false,
                    0, c.detached);
  } catch (const ProcessEnded&) {
    ended = true;
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].reason, EndReason::kCannotExecute);
  }

  EXPECT_EQ(ended, c.startFails);
  EXPECT_FALSE(platform.copyHeld);
  EXPECT_TRUE(platform.CallMade("ReleaseCopy"));
  const bool universalAsked = std::any_of(platform.calls.begin(), platform.calls.end(),
                                          [](const auto& s) { return s.rfind("UniversalName", 0) == 0; });
  EXPECT_EQ(universalAsked, c.universalAsked);

  if (c.startFails) {
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, std::u16string(FatalMessageText(FatalMessage::kCannotExecute)));
    EXPECT_EQ(platform.boxes[0].caption, c.package);
    EXPECT_TRUE(platform.starts.empty());
  } else {
    EXPECT_TRUE(platform.boxes.empty());
    ASSERT_EQ(platform.starts.size(), 1u);
    const RecordedStart& s = platform.starts[0];
    EXPECT_TRUE(s.copyHeldDuringStart);
    EXPECT_EQ(s.shell, c.shell);
    if (c.shell) {
      EXPECT_EQ(s.file, kCopy);
      EXPECT_EQ(s.verb, u"open");
      EXPECT_EQ(s.parameters, c.commandOrParameters);
    } else {
      EXPECT_EQ(s.commandLine, c.commandOrParameters);
      EXPECT_EQ(s.currentDirectory, c.currentDirectory);
    }
  }

  const bool cleanedUp = !c.startFails && !c.detached;
  EXPECT_EQ(platform.waits, cleanedUp ? 1 : 0);
  EXPECT_EQ(platform.CallMade("WaitAndClose 1"), cleanedUp);
  EXPECT_EQ(platform.files.count(kCopy), cleanedUp ? 0u : 1u);
  EXPECT_EQ(platform.removed.size(), cleanedUp ? 1u : 0u);
  if (cleanedUp) {
    // The hold is gone before the wait, and the delete comes after it.
    const auto at = [&](const std::string& call) {
      return std::find(platform.calls.begin(), platform.calls.end(), call) - platform.calls.begin();
    };
    EXPECT_LT(at("ReleaseCopy"), at("WaitAndClose 1"));
    EXPECT_LT(at("WaitAndClose 1"), at("RemoveFile " + ToUtf8(kCopy)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunSetupProgramTest,
    testing::Values(
        RunCase{"DirectStart", kPackage, u"/s \"D:\\My Temp\"", 5, false, false, false,
                u"\"C:\\Temp\\Setup.exe\" \"C:\\Downloads\\Setup.exe\" /s \"D:\\My Temp\"",
                u"C:\\Downloads\\", true},
        RunCase{"ShellStart", kPackage, u"", 10, false, false, true,
                u"\"C:\\Downloads\\Setup.exe\" /noadmin", u"", true},
        RunCase{"MappedDriveKeepsDriveForFolder", u"Z:\\Pkg\\Setup.exe", u"/32", 0, false, false,
                false, u"\"C:\\Temp\\Setup.exe\" \"\\\\srv\\share\\Pkg\\Setup.exe\" /32",
                u"Z:\\Pkg\\", true},
        RunCase{"NetworkPackageNotResolved", u"\\\\srv\\share\\Setup.exe", u"", 10, false, false,
                true, u"\"\\\\srv\\share\\Setup.exe\" /noadmin", u"", false},
        RunCase{"DetachedNeitherWaitsNorDeletes", kPackage, u"", 10, true, false, true,
                u"\"C:\\Downloads\\Setup.exe\" /noadmin", u"", true},
        RunCase{"FailedStartLeavesTheCopy", kPackage, u"", 10, false, true, true, u"", u"", true},
        RunCase{"FailedDirectStartLeavesTheCopy", kPackage, u"", 5, true, true, false, u"", u"",
                true}),
    [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

TEST(RunSetupProgramTest, CopyMadeByTheCopyStepIsHeldUntilTheStartReturns) {
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.commandLine = u"Setup.exe";
  platform.modulePath = kPackage;
  const StubContext& context = scene.Context();
  test::ProgramPieces program({'M', 'Z', 1, 2});

  const TemporaryCopy copy = CreateTemporaryCopy(context, program, false);
  EXPECT_TRUE(platform.copyHeld);
  RunSetupProgram(context, copy, 10, false, 0, false);

  ASSERT_EQ(platform.starts.size(), 1u);
  EXPECT_TRUE(platform.starts[0].copyHeldDuringStart);
  EXPECT_FALSE(platform.copyHeld);
  EXPECT_EQ(platform.files.count(ToU16(copy.path)), 0u);
}

// ---------------------------------------------------------------------------
// After the wait. What an administrator's launcher cannot delete goes at the
// next restart, the copy before its folder; anyone else's copy stays.
struct CleanUpCase {
  const char* name;
  bool administrator;
  std::vector<std::u16string> undeletable;
  uint32_t copyBusyMs;  // a scanner holds the copy this long after the run
  std::vector<std::u16string> removed;
  std::vector<std::u16string> atRestart;
};
void PrintTo(const CleanUpCase& c, std::ostream* os) { *os << c.name; }

const std::u16string kPrivateFolder = u"C:\\Temp\\" + test::kFirstPrivateName;
const std::u16string kPrivateCopy = kPrivateFolder + u"\\Setup.exe";

class CleanUpTest : public testing::TestWithParam<CleanUpCase> {};

TEST_P(CleanUpTest, DeletesOrLeavesItToTheRestart) {
  const CleanUpCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.commandLine = u"Setup.exe";
  platform.modulePath = kPackage;
  platform.undeletable = c.undeletable;
  const TemporaryCopy copy{FromU16(c.administrator ? kPrivateCopy : kCopy),
                           c.administrator ? FromU16(kPrivateFolder + u"\\") : Text(),
                           c.administrator ? Text(u"Setup.exe") : Text()};
  if (c.copyBusyMs) platform.busyForMs[ToU16(copy.path)] = c.copyBusyMs;
  if (c.administrator) {
    platform.folders.push_back(kPrivateFolder);
    platform.heldFolder = kPrivateFolder;  // as the copy step leaves it
  }
  platform.files[ToU16(copy.path)] = {'M', 'Z'};
  platform.HoldCopy(copy.path, c.administrator);

  RunSetupProgram(scene.Context(), copy, 10, c.administrator, 0, false);

  EXPECT_EQ(platform.waits, 1);
  EXPECT_EQ(platform.removed, c.removed);
  EXPECT_EQ(platform.removedAtRestart, c.atRestart);
  EXPECT_TRUE(platform.boxes.empty());
  // Retried only while the copy is there, and for about two seconds at most.
  EXPECT_LE(platform.pausedMs, kRemoveRetryMs);
  if (c.copyBusyMs && c.copyBusyMs <= kRemoveRetryMs) {
    EXPECT_EQ(platform.pausedMs, c.copyBusyMs);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AfterTheWait, CleanUpTest,
    testing::Values(
        CleanUpCase{"UsersCopyDeleted", false, {}, 0, {kCopy}, {}},
        CleanUpCase{"UsersCopyInUseStays", false, {kCopy}, 0, {}, {}},
        CleanUpCase{"UsersCopyHeldByAScannerForAMoment", false, {}, 700, {kCopy}, {}},
        CleanUpCase{"UsersCopyHeldLongerStays", false, {}, 5000, {}, {}},
        CleanUpCase{"AdministratorsCopyAndFolderDeleted", true, {}, 0, {kPrivateCopy, kPrivateFolder}, {}},
        CleanUpCase{"AdministratorsCopyHeldByAScannerForAMoment", true, {}, 300,
                    {kPrivateCopy, kPrivateFolder}, {}},
        CleanUpCase{"AdministratorsCopyInUseGoesAtRestartBeforeItsFolder", true, {kPrivateCopy}, 0, {},
                    {kPrivateCopy, kPrivateFolder}},
        CleanUpCase{"AdministratorsFolderInUseGoesAtRestart", true, {kPrivateFolder}, 0, {kPrivateCopy},
                    {kPrivateFolder}}),
    [](const testing::TestParamInfo<CleanUpCase>& info) { return info.param.name; });

}  // namespace
}  // namespace stub
