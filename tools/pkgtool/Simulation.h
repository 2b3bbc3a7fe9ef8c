// What the launcher does with a package on a stated computer, found by
// running the launcher's own main sequence on the in-memory platform.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "package/StubTypes.h"
#include "platform/memory/MemoryPlatform.h"
#include "tools/pkgtool/LauncherChecks.h"

namespace pkgtool {

// The facts one Windows installation reports to the launcher.
struct WindowsScenario {
  std::string key;    // "11 24H2", "2000 sp3", "xp"
  std::string label;  // "Windows 11 24H2 (10.0 build 26100)"
  stub::VersionFacts version;
  stub::ServicePackFacts servicePack{true, 0};
  bool hasRegistry = false;  // the current-version key exists (Windows 10 and 11)
  std::string currentBuild, displayVersion, releaseId;  // empty: value absent
  bool has64BitEdition = true;
  uint32_t build = 0;  // Windows 10 and 11; 0 for the others
};

// The processor of the computer: an Arm64 one runs the launcher (x86 code)
// emulated, as Windows 10 and 11 on Arm do.
enum class Arch { kX86, kX64, kArm64 };
const char* ArchName(Arch arch);  // "x86", "x64", "arm64"
// Windows on Arm began with Windows 10 1709; only Windows 11 runs x64
// programs there.
bool HasArm64Edition(const WindowsScenario& windows);
bool RunsX64OnArm64(const WindowsScenario& windows);

// "95", "98", "me", "nt4", "2000 [sp0..sp4]", "xp", "vista", "7", "8",
// "8.1", "10 [RELEASE|BUILD]", "11 [RELEASE|BUILD [DISPLAYVERSION]]".
// "10" and "11" alone mean their latest release. ToolError when unknown.
WindowsScenario ParseWindowsScenario(const std::string& text);

// Every version and release the launcher tells apart, oldest first.
std::vector<WindowsScenario> KnownScenarios();

// --language: "de-DE", or the display language and its fallbacks, best
// first: "ca-ES,es-ES". ToolError for a tag that is no language, an empty
// one, or more languages than the launcher reads.
std::vector<uint16_t> ParseLanguageList(const std::string& text);

struct SimulationInput {
  std::vector<uint8_t> package;
  WindowsScenario windows;
  Arch arch = Arch::kX64;
  stub::LocalDate today{2026, 6, 1};
  bool administrator = false;
  std::u16string packagePath = u"C:\\Downloads\\Setup.exe";
  std::u16string tempPath = u"C:\\Users\\User\\AppData\\Local\\Temp\\";
  std::vector<std::u16string> arguments;
  // The user's display language, then the fallbacks set in Windows
  // (LANGIDs, best first).
  std::vector<uint16_t> languages{0x0409};
  // The launcher's checks of `package`, when already made: saves unpacking
  // the programs again to tell which one the launcher wrote.
  std::shared_ptr<const PackageCheck> check;
};

enum class Ending { kStarted, kRefused, kEndedWithoutStart };

struct SimulationResult {
  Ending ending = Ending::kEndedWithoutStart;
  // Refusals and failures.
  std::u16string box;
  std::u16string caption;
  std::string refusal;       // from the launcher's recorded end: "expired", "wrong width", ...
  std::u16string windowsName;  // the name an unsupported-Windows refusal fills in
  bool boxShown = true;        // false: deployment mode ended a silent run without its box
  // The exit code the launcher ends with; in deployment mode, after a start,
  // whatever the setup program returns (exitCodeFromSetup).
  uint32_t exitCode = 0;
  bool deploymentMode = false;
  bool exitCodeFromSetup = false;
  // Starts.
  std::string program;  // "x86", "x64", "x86 = x64" (identical programs), "unknown"
  std::u16string copyPath;
  uint64_t copySize = 0;
  // An administrator's launcher: the new folder that holds the copy (its
  // name is drawn at random at every real run) and the rights it is born
  // with, as a security descriptor string. Both empty otherwise.
  std::u16string privateFolder;
  std::u16string privateFolderAccess;
  std::string image;     // what the copy is: "a PE32+ image for AMD64"
  bool fitsSlot = true;  // the kind of program its slot takes

  // The launcher first raised itself (one prompt, showing the package): the
  // rest is what its elevated self did.
  bool relaunchedElevated = false;
  stub::RecordedStart start;
  std::u16string appended;  // what the launcher added to the arguments (" /noadmin")
  bool waited = false;
  bool copyDeleted = false;
  std::u16string commandLine;  // what the launcher was started with
  std::vector<std::string> calls;
};

SimulationResult Simulate(const SimulationInput& input);

// The launcher's command line for `path` and `arguments`: the quoted path,
// then each argument, quoted when it holds a character the launcher splits
// at (codes 1 to 32).
std::u16string LauncherCommandLine(const std::u16string& path,
                                   const std::vector<std::u16string>& arguments);

// "x64, shell open /noadmin", "x86, direct", "refused: expired", ...
std::string ShortOutcome(const SimulationResult& result);
// "0", "1620 (deployment mode)", "the setup program's own (deployment mode)".
std::string ExitCodeText(const SimulationResult& result);

}  // namespace pkgtool
