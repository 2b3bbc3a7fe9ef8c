// The real stub under Wine writing the temporary copy, starting the setup
// program with the package's path and the user's arguments, waiting for it
// and cleaning up.
#include <chrono>
#include <ostream>
#include <thread>

#include "launch/TemporaryCopy.h"
#include "tests/wine/WineTestSupport.h"

namespace winetest {
namespace {

// --- Where the copy goes and what the setup program receives -----------------
//
// Wine runs every program as an administrator, so every copy here goes into
// a private folder inside the folder the usual rules choose, under the
// package's own name: names already taken there are left alone and never
// numbered around (the in-memory tests cover the numbering).

struct CopyCase {
  const char* name;
  std::vector<std::string> arguments;
  std::vector<std::string> folders;  // made before the run
  // Files (or, ending in a backslash, folders) already there. In these and in
  // `parent`, "%TEMP%" stands for the user's temporary folder and
  // "%MACHINETEMP%" for the machine's, where an administrator's copy goes.
  std::vector<std::string> taken;
  std::string parent;         // where the private folder goes
  std::string argumentsText;  // what follows the quoted copy path
};
void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }

std::string Expand(const std::string& pattern, const std::string& temp) {
  std::string out = pattern;
  size_t at = out.find("%TEMP%");
  if (at != std::string::npos) out.replace(at, 6, temp);
  at = out.find("%MACHINETEMP%");
  if (at != std::string::npos) out.replace(at, 13, WineMachineTempFolder());
  return out;
}

class CopyWineTest : public WineTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(CopyWineTest, WritesStartsAndDeletesTheCopy) {
  const CopyCase& c = GetParam();
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(RunnableRecipe()));
  for (const auto& folder : c.folders) wine.MakeFolder(folder);
  const std::vector<uint8_t> occupant = {'t', 'a', 'k', 'e', 'n'};
  const std::string temp = WineTempFolder();
  std::vector<std::string> taken;
  for (const auto& pattern : c.taken) {
    taken.push_back(Expand(pattern, temp));
    if (taken.back().back() == '\\') {
      wine.MakeFolder(taken.back());
    } else {
      wine.WriteFile(taken.back(), occupant);
    }
  }
  RunOptions options;
  options.arguments = c.arguments;
  const RunResult run = wine.Run(kPackagePath, options);
  ExpectOneFinishedStart(run);
  if (run.setupAtExit.empty()) return;
  const SetupStart& setup = run.setupAtExit[0];
  EXPECT_EQ(setup.tempPath, temp);
  const std::string folder = PrivateFolderOf(setup.module, Expand(c.parent, temp));
  EXPECT_EQ(setup.commandLine, "\"" + setup.module + "\" " + c.argumentsText);
  // The working folder is the package's, wherever the copy went.
  EXPECT_EQ(setup.currentDirectory, "C:\\Downloads");
  EXPECT_FALSE(wine.Exists(setup.module)) << "the copy was not deleted";
  EXPECT_FALSE(folder.empty() || wine.Exists(folder)) << "its folder was not deleted";
  for (const auto& path : taken) {
    if (path.back() != '\\') {
      EXPECT_EQ(wine.ReadFile(path), occupant) << path << " was touched";
    } else {
      EXPECT_TRUE(wine.Exists(path)) << path << " was removed";
    }
  }
  EXPECT_TRUE(wine.Exists(kPackagePath));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CopyWineTest,
    ::testing::Values(CopyCase{"NoArguments", {}, {}, {}, "%MACHINETEMP%", "\"C:\\Downloads\\Setup.exe\""},
                      CopyCase{"PlainArgumentsPassedOn",
                               {"/S", "/32", "name=value", "two words"},
                               {},
                               {},
                               "%MACHINETEMP%",
                               "\"C:\\Downloads\\Setup.exe\" /S /32 name=value \"two words\""},
                      CopyCase{"TempAloneUsesThePackageFolder",
                               {"/TEMP"},
                               {},
                               {},
                               "C:\\Downloads\\",
                               "\"C:\\Downloads\\Setup.exe\" /TEMP"},
                      CopyCase{"TempWithFolder",
                               {"/temp", "C:\\Work"},
                               {"C:\\Work"},
                               {},
                               "C:\\Work\\",
                               "\"C:\\Downloads\\Setup.exe\" /temp C:\\Work"},
                      CopyCase{"TempFolderEndingInBackslash",
                               {"/Temp", "C:\\Work\\"},
                               {"C:\\Work"},
                               {},
                               "C:\\Work\\",
                               "\"C:\\Downloads\\Setup.exe\" /Temp C:\\Work\\"},
                      CopyCase{"TempFolderWithSpaces",
                               {"/temp", "C:\\My Temp Files"},
                               {"C:\\My Temp Files"},
                               {},
                               "C:\\My Temp Files\\",
                               "\"C:\\Downloads\\Setup.exe\" /temp \"C:\\My Temp Files\""},
                      CopyCase{"LastTempWithFolderWins",
                               {"/temp", "C:\\A", "/temp", "C:\\B"},
                               {"C:\\A", "C:\\B"},
                               {},
                               "C:\\B\\",
                               "\"C:\\Downloads\\Setup.exe\" /temp C:\\A /temp C:\\B"},
                      CopyCase{"TempLastBeatsEarlierFolder",
                               {"/temp", "C:\\A", "/temp"},
                               {"C:\\A"},
                               {},
                               "C:\\Downloads\\",
                               "\"C:\\Downloads\\Setup.exe\" /temp C:\\A /temp"},
                      CopyCase{"TakenNamesAreLeftAlone",
                               {"/temp", "C:\\Work"},
                               {"C:\\Work"},
                               {"C:\\Work\\Setup.exe", "C:\\Work\\Setup2.exe", "C:\\Work\\Setup3.exe\\"},
                               "C:\\Work\\",
                               "\"C:\\Downloads\\Setup.exe\" /temp C:\\Work"},
                      CopyCase{"TakenNameInTheTemporaryFolder",
                               {},
                               {},
                               {"%TEMP%Setup.exe"},
                               "%MACHINETEMP%",
                               "\"C:\\Downloads\\Setup.exe\""}),
    [](const auto& info) { return std::string(info.param.name); });

// The private folder is born with its rights and held from its creation
// (Wine neither stores nor enforces rights, nor sharing on folders, so what
// is seen here is what the launcher hands over; what it does is checked in
// memory), and it goes with the copy.
TEST_F(WineTest, AdministratorsCopyGoesIntoAFolderBornLocked) {
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(RunnableRecipe()));
  const RunResult run = wine.Run(kPackagePath, RunOptions{});
  ExpectOneFinishedStart(run);
  if (run.setupAtExit.empty()) return;
  const std::string folder = PrivateFolderOf(run.setupAtExit[0].module, WineMachineTempFolder());

  std::vector<const RelayCall*> descriptors, folders;
  for (const RelayCall& call : run.calls) {
    if (call.function == "ConvertStringSecurityDescriptorToSecurityDescriptorW") descriptors.push_back(&call);
    // NtCreateFile(handle, access, object, io, size, attributes, share,
    // disposition, options, ...): the folder is created and opened at once.
    constexpr uint64_t kFileCreate = 2, kFileDirectoryFile = 1;
    // (A failed one is the machine's SystemTemp, which Wine's prefixes lack.)
    if (call.function == "NtCreateFile" && call.arguments.size() >= 9 &&
        call.arguments[7].value == kFileCreate && (call.arguments[8].value & kFileDirectoryFile) &&
        call.result.value_or(1) == 0) {
      folders.push_back(&call);
    }
  }
  // For the folder (SystemTemp is tried first: Wine has none), and once for
  // the copy inside it; every one made.
  ASSERT_GE(descriptors.size(), 2u) << "trace in " << run.relayLog;
  for (const RelayCall* call : descriptors) {
    ASSERT_GE(call->arguments.size(), 2u);
    EXPECT_EQ(call->arguments[0].text, std::optional<std::u16string>(stub::kPrivateFolderAccess));
    EXPECT_EQ(call->arguments[1].value, 1u);  // SDDL_REVISION_1
    EXPECT_NE(call->result.value_or(0), 0u);
  }
  ASSERT_EQ(folders.size(), 1u) << "trace in " << run.relayLog;
  EXPECT_EQ(folders[0]->arguments[6].value, 3u) << "shares deletion (FILE_SHARE_READ | FILE_SHARE_WRITE only)";
  EXPECT_FALSE(wine.Exists(folder));
}

// An argument that holds a tab reaches the setup program as one argument,
// split by CommandLineToArgvW; backslashes as they were, a quoted one's
// trailing backslash after its closing quote, so that the switch after it
// is not swallowed.
TEST_F(WineTest, SetupProgramGetsEachArgumentWhole) {
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(RunnableRecipe()));
  RunOptions options;
  options.arguments = {"a\t/s", "two words", "C:\\Path\\", "C:\\Deploy Temp\\", "/s"};
  const RunResult run = wine.Run(kPackagePath, options);
  ExpectOneFinishedStart(run);
  if (run.setupAtExit.empty()) return;
  const SetupStart& setup = run.setupAtExit[0];
  // Wine writes the launcher's own command line as CommandLineToArgvW would
  // read it, doubling the backslash before the quote: the launcher, which
  // gives backslashes no meaning, sees two, and passes both on.
  EXPECT_EQ(setup.commandLine, "\"" + setup.module +
                                   "\" \"C:\\Downloads\\Setup.exe\" \"a\t/s\" \"two words\" C:\\Path\\ "
                                   "\"C:\\Deploy Temp\"\\\\ /s");
  EXPECT_EQ(setup.arguments,
            (std::vector<std::string>{"C:\\Downloads\\Setup.exe", "a\t/s", "two words", "C:\\Path\\",
                                      "C:\\Deploy Temp\\\\", "/s"}));
}

// A setup program that goes on from a second instance of its copy keeps the
// copy in use past the wait: what cannot be deleted then is left to Windows
// to delete at the next restart, the copy before its folder.
TEST_F(WineTest, CopyStillInUseIsDeletedAtTheNextRestart) {
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(RunnableRecipe()));
  RunOptions options;
  options.environment["SETUPPROG_RELAUNCH_MS"] = "3000";
  const RunResult run = wine.Run(kPackagePath, options);
  ASSERT_TRUE(run.problem.empty()) << run.problem;
  EXPECT_TRUE(run.boxes.empty());
  // The second instance reports once it runs, which may be after the first
  // has ended and the launcher with it.
  std::vector<SetupStart> report = run.setupAfterAll;
  for (int tries = 0; tries < 200 && (report.size() < 2 || !report[1].finished); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<uint8_t> bytes = wine.ReadFile(kReportWindowsPath);
    report = ParseSetupReport(std::string(bytes.begin(), bytes.end()));
  }
  ASSERT_EQ(report.size(), 2u) << "the setup program and its second instance";
  const std::string copy = report[0].module;
  EXPECT_EQ(report[1].module, copy);
  const std::string folder = PrivateFolderOf(copy, WineMachineTempFolder());

  std::vector<std::u16string> scheduled;
  for (const RelayCall& call : run.calls) {
    if (call.function != "MoveFileExW" || call.arguments.size() < 3) continue;
    EXPECT_EQ(call.arguments[1].value, 0u) << "a target given";
    EXPECT_EQ(call.arguments[2].value, 4u) << "not MOVEFILE_DELAY_UNTIL_REBOOT";
    scheduled.push_back(call.arguments[0].text.value_or(u"?"));
  }
  EXPECT_EQ(scheduled, (std::vector<std::u16string>{ToUtf16(copy), ToUtf16(folder)}))
      << "trace in " << run.relayLog;
}

// --- Failures to copy or to start ------------------------------------------

struct FailureCase {
  const char* name;
  bool payloadIsAProgram;
  std::vector<std::string> arguments;
  stub::FatalMessage message;
  std::string copyLeftIn;  // the folder whose private folder keeps the copy, if one stays
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class LaunchFailureWineTest : public WineTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LaunchFailureWineTest, ShowsTheMessageAndLeavesOnlyACompleteCopy) {
  const FailureCase& c = GetParam();
  auto recipe = RunnableRecipe();
  const std::string text = "This is a text file, not a program.\r\n";
  const std::vector<uint8_t> notAProgram(text.begin(), text.end());
  if (!c.payloadIsAProgram) {
    recipe.x86 = notAProgram;
    recipe.x64.reset();
  }
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(recipe));
  wine.MakeFolder("C:\\Work");
  RunOptions options;
  options.arguments = c.arguments;
  const RunResult run = wine.Run(kPackagePath, options);
  ExpectOneErrorBox(run, Fatal(c.message));
  // A copy that cannot be made is never started; one that cannot run was
  // tried once.
  EXPECT_EQ(run.starts.size(), c.copyLeftIn.empty() ? 0u : 1u);
  if (!c.copyLeftIn.empty()) {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(wine.HostPath(c.copyLeftIn))) {
      left.push_back(c.copyLeftIn + "\\" + entry.path().filename().string());
    }
    ASSERT_EQ(left.size(), 1u) << "one private folder stays";
    const std::string copy = left[0] + "\\" + kPackageName;
    EXPECT_FALSE(PrivateFolderOf(copy, c.copyLeftIn + "\\").empty());
    EXPECT_EQ(wine.ReadFile(copy), notAProgram) << "the copy that could not be run is gone or incomplete";
  }
  EXPECT_TRUE(wine.Exists(kPackagePath));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Failures, LaunchFailureWineTest,
    ::testing::Values(
        FailureCase{"MissingFolder", true, {"/temp", "C:\\Missing\\Deeper"},
                    stub::FatalMessage::kCannotCreateCopy, ""},
        FailureCase{"FolderIsAFile", true, {"/temp", "C:\\Downloads\\Setup.exe"},
                    stub::FatalMessage::kCannotCreateCopy, ""},
        FailureCase{"PayloadIsNotAProgram", false, {"/temp", "C:\\Work"},
                    stub::FatalMessage::kCannotExecute, "C:\\Work"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// --- Waiting and the setup program's exit code -----------------------------------

TEST_F(WineTest, SetupProgramsExitCodeIsNotPassedOn) {
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(RunnableRecipe()));
  RunOptions options;
  options.environment["SETUPPROG_EXIT"] = "3010";
  const RunResult run = wine.Run(kPackagePath, options);
  ExpectOneFinishedStart(run);
  EXPECT_EQ(run.exitCode, 0);
}

TEST_F(WineTest, DetachedPackageNeitherWaitsNorDeletes) {
  auto recipe = RunnableRecipe();
  recipe.detached = true;
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(recipe));
  RunOptions options;
  options.arguments = {"/temp", "C:\\Work"};
  options.environment["SETUPPROG_SLEEP_MS"] = "3000";
  wine.MakeFolder("C:\\Work");
  const RunResult run = wine.Run(kPackagePath, options);
  ASSERT_TRUE(run.problem.empty()) << run.problem;
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.exitCode, 0);
  for (const auto& start : run.setupAtExit) {
    EXPECT_FALSE(start.finished) << "the launcher waited for its setup program";
  }
  ASSERT_EQ(run.setupAfterAll.size(), 1u);
  EXPECT_TRUE(run.setupAfterAll[0].finished);
  const std::string copy = run.setupAfterAll[0].module;
  EXPECT_FALSE(PrivateFolderOf(copy, "C:\\Work\\").empty());
  EXPECT_TRUE(wine.Exists(copy)) << "a detached launcher deleted the copy";
}

// --- Direct or shell start -------------------------------------------------------

struct StartCase {
  const char* name;
  Width width;
  std::string windowsVersion;
  uint8_t elevationMode;
  std::vector<std::string> arguments;
};
void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class StartModeWineTest : public WineTest, public ::testing::WithParamInterface<StartCase> {};

// Windows before Vista always gets a direct start. Wine gives every program
// administrator rights, and an elevated launcher starts directly on every
// Windows too: whatever the package's elevation mode and the silent switch
// say, the copy is started by CreateProcessW, in the package's folder, and
// never with " /noadmin".
TEST_P(StartModeWineTest, StartsDirectlyWithoutNoAdmin) {
  const StartCase& c = GetParam();
  WINE_REQUIRE_WIDTH(c.width);
  auto recipe = RunnableRecipe();
  recipe.elevationMode = c.elevationMode;
  WineCase wine(c.width, CaseName());
  wine.WriteFile(kPackagePath, Build(recipe));
  RunOptions options;
  options.windowsVersion = c.windowsVersion;
  options.arguments = c.arguments;
  const RunResult run = wine.Run(kPackagePath, options);
  ExpectOneFinishedStart(run);
  ASSERT_EQ(run.starts.size(), 1u);
  EXPECT_EQ(run.starts[0].function, "CreateProcessW");
  EXPECT_TRUE(run.starts[0].succeeded);
  EXPECT_FALSE(run.starts[0].applicationName.has_value());
  EXPECT_EQ(run.starts[0].currentDirectory, u"C:\\Downloads\\");
  if (run.setupAtExit.empty()) return;
  const std::string& commandLine = run.setupAtExit[0].commandLine;
  EXPECT_EQ(ToUtf8(run.starts[0].commandLine), commandLine);
  EXPECT_EQ(commandLine.find("/noadmin"), std::string::npos) << commandLine;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Starts, StartModeWineTest,
    ::testing::Values(StartCase{"XpInteractive", Width::k64, "winxp64", 0, {}},
                      StartCase{"XpSilentRunas", Width::k64, "winxp64", 1, {"/s"}},
                      StartCase{"XpOn32BitSilentRunas", Width::k32, "winxp", 1, {"/silent"}},
                      StartCase{"Win10Interactive", Width::k64, "win10", 0, {}},
                      StartCase{"Win10SilentRunas", Width::k64, "win10", 1, {"/SILENT"}},
                      StartCase{"Win7AlwaysNoAdmin", Width::k64, "win7", 2, {"/s"}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace winetest
