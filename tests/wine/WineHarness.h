// Runs the real stub under Wine. One initialised prefix per Windows width is
// made per test run (wineboot is the slow part) and shared between test
// processes; every case runs in its own copy of it, with its own wine server,
// and watches the launcher through Wine's relay trace and the test setup
// program's report.
//
// Environment:
//   STUB32_EXE, STUB64_EXE   the stubs to test (defaults from CMake)
//   WINE32_TIER, WINE32_WHY, WINE64, WINE32, WINESERVER, WINE32_QEMU,
//   WINE32_CPUS, WINE32_CPUS_WHY
//                            the Wine to use, as tools/wine32-tier.sh prints
//                            it; without them the installed Wine is probed
//   WINE_TESTS_WORKDIR       where prefixes and case folders go
//   WINE_TESTS_KEEP=1        keep every case folder, not only failed ones
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/memory/Utf8.h"
#include "tests/wine/RelayLog.h"
#include "tests/wine/SetupReport.h"

namespace winetest {

namespace fs = std::filesystem;

// The processor width of the Windows a prefix imitates (WINEARCH).
enum class Width { k32, k64 };
const char* WidthName(Width width);

class Harness {
 public:
  static Harness& Get();

  // Why the stub cannot be run under Wine here; empty when it can.
  const std::string& Unavailable() const { return unavailable_; }

  const fs::path& StubPath() const { return stubPath_; }
  const std::vector<uint8_t>& Stub() const { return stub_; }
  bool StubIs64Bit() const { return stubIs64_; }
  // A 32-bit Windows program can run here (Wine's 32-bit loader works).
  bool Runs32BitPrograms() const { return !loader32_.empty(); }
  // 32-bit programs run under qemu's user-mode emulator, which can run them
  // on a 64-bit Windows (WoW64) but cannot make a 32-bit one.
  bool Emulated32() const { return emulated32_; }
  // The 32-bit Wine that runs the stub, as the report names it: "native
  // system", "native private", "emulated", or "installed" when no tier was
  // given and the installed Wine was probed.
  const std::string& TierName() const { return tierName_; }
  // The processor models the 32-bit stub can be run on, through qemu: the
  // first with PCLMULQDQ and SSE4.1 (what an emulated tier runs every case
  // on), the second without. Empty where no model can be chosen, for the
  // reason WhyNoCpuModels() gives.
  const std::vector<std::string>& CpuModels() const { return cpus_; }
  const std::string& WhyNoCpuModels() const { return cpusWhy_; }
  // The stub and how it runs, for the suite's report.
  std::string StubDescription(const std::string& cpu) const;
  // Prefixes of this width can be made and the stub runs in them.
  bool Supports(Width width) const;
  // Why Supports(width) is false.
  std::string WhyNot(Width width) const;

  const std::vector<uint8_t>& SetupProgram(Width width) const;

  // What makes and configures prefixes of this width (wineboot, winecfg, reg).
  const std::string& Loader(Width width) const;
  // What starts the stub: its own width's loader, so that the relay trace
  // shows only what the launcher does; for a chosen processor model
  // (CpuModels()), the 32-bit loader that runs under qemu.
  const std::string& StubLoader(const std::string& cpu = std::string()) const;
  const std::string& Server() const { return server_; }
  const fs::path& WorkDir() const { return workDir_; }

  // The initialised prefix of this width, made on first use (by whichever
  // test process gets there first). Empty with `error` set on failure.
  fs::path Template(Width width, std::string* error);
  // Makes every template this machine supports; for the test run's set-up.
  bool PrepareTemplates(std::string* error);
  void RemoveTemplates();

 private:
  Harness();
  // The 32-bit loader answers --version.
  bool Starts(const std::string& loader) const;
  std::string unavailable_;
  fs::path stubPath_;
  std::vector<uint8_t> stub_;
  bool stubIs64_ = false;
  bool emulated32_ = false;
  std::string tierName_, tierWhy_;
  std::vector<std::string> cpus_;
  std::string cpusWhy_;
  std::string loader64_, loader32_, qemuLoader32_, server_;
  std::vector<uint8_t> setupX86_, setupX64_;
  fs::path workDir_;
};

// A value under HKLM\Software\Microsoft\Windows NT\CurrentVersion, written in
// both registry views. An empty optional deletes the value.
struct CurrentVersionValue {
  std::string name;
  std::optional<std::string> text;
};

struct RunOptions {
  std::vector<std::string> arguments;
  // What `winecfg -v` is given: "win10", "win81", "win7", "winxp64", ...
  std::string windowsVersion = "win10";
  std::vector<CurrentVersionValue> currentVersion;
  // Extra environment for the launcher and its setup program
  // (SETUPPROG_EXIT, SETUPPROG_SLEEP_MS).
  std::map<std::string, std::string> environment;
  // The processor model the 32-bit stub runs on (Harness::CpuModels()), under
  // qemu whatever the tier; empty for the tier's own way of running it.
  std::string cpu;
  int timeoutSeconds = 120;
};

struct RunResult {
  int exitCode = -1;  // as the launcher passed it to ExitProcess, else its process status
  bool timedOut = false;
  std::vector<MessageBoxCall> boxes;
  std::vector<StartCall> starts;
  // Every traced call the launcher made, in order.
  std::vector<RelayCall> calls;
  // The setup program's report at the moment the launcher had ended, and once
  // every program in the prefix had ended.
  std::vector<SetupStart> setupAtExit;
  std::vector<SetupStart> setupAfterAll;
  fs::path relayLog;
  std::string problem;  // the harness could not run the case
};

class WineCase {
 public:
  WineCase(Width width, const std::string& name);
  ~WineCase();
  WineCase(const WineCase&) = delete;
  WineCase& operator=(const WineCase&) = delete;

  // Empty when the case prefix is ready.
  const std::string& Problem() const { return problem_; }
  Width GetWidth() const { return width_; }

  // Where a Windows path (C:\... or Z:\...) lies on this machine. Existing
  // folders are matched without regard to case, as Wine does.
  fs::path HostPath(const std::string& windowsPath) const;
  void WriteFile(const std::string& windowsPath, const std::vector<uint8_t>& bytes) const;
  void MakeFolder(const std::string& windowsPath) const;
  bool Exists(const std::string& windowsPath) const;
  std::vector<uint8_t> ReadFile(const std::string& windowsPath) const;

  // Starts the program at `windowsPath` (the package) with the options and
  // waits for it.
  RunResult Run(const std::string& windowsPath, const RunOptions& options);

  // Keep the case folder even when the test passes.
  void Keep() { keep_ = true; }

 private:
  std::map<std::string, std::string> BaseEnvironment() const;
  bool RunWine(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env,
               const fs::path& out, const fs::path& err, int timeoutSeconds, int* exitCode,
               bool* timedOut) const;
  void StopServer() const;

  Width width_;
  fs::path folder_;
  fs::path prefix_;
  std::string problem_;
  bool keep_ = false;
  int runs_ = 0;
};

// What the last Run() of this process ran on (Harness::StubDescription),
// empty before the first; for the suite's report.
const std::string& LastRunDescription();

// The temporary folder Wine gives its user (C:\users\NAME\Temp\), NAME
// being the login name of whoever runs the tests.
std::string WineTempFolder();
// Where an administrator's private folder goes without "/temp": the Windows
// folder's Temp (Wine's prefixes have no SystemTemp).
std::string WineMachineTempFolder();

// Where the setup program writes its report inside every case prefix.
constexpr const char* kReportWindowsPath = "C:\\setupprog-report.txt";

using stub::ToUtf8;
inline std::u16string ToUtf16(const std::string& text) { return stub::FromUtf8(text); }

}  // namespace winetest
