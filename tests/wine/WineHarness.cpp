#include "tests/wine/WineHarness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

extern char** environ;

namespace winetest {
namespace {

// Only these entry points are traced, which keeps +relay cheap. The kernel32
// import of CreateProcessW is forwarded, so Wine may name either module.
// The copy's private folder is traced too: its rights, its creation and its
// removal at the next restart. Calls that kernel32 and advapi32 forward are
// named in the DLL they land in as well. So are the machine's questions,
// which the launcher looks up at run time.
constexpr const char* kRelayInclude =
    "user32.MessageBoxW;kernel32.CreateProcessW;kernelbase.CreateProcessW;shell32.ShellExecuteExW;"
    "kernel32.IsWow64Process2;kernelbase.IsWow64Process2;kernel32.IsWow64Process;"
    "kernelbase.IsWow64Process;kernel32.GetMachineTypeAttributes;"
    "kernelbase.GetMachineTypeAttributes;"
    "ntdll.NtCreateFile;kernel32.MoveFileExW;kernel32.ExitProcess;"
    "kernelbase.MoveFileExW;advapi32.ConvertStringSecurityDescriptorToSecurityDescriptorW;"
    "sechost.ConvertStringSecurityDescriptorToSecurityDescriptorW";

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

std::vector<uint8_t> ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path& path) {
  const auto bytes = ReadWhole(path);
  return std::string(bytes.begin(), bytes.end());
}

bool IsExecutable(const fs::path& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

std::string FindOnPath(const std::string& name) {
  std::stringstream path(EnvOr("PATH", "/usr/bin:/bin"));
  std::string folder;
  while (std::getline(path, folder, ':')) {
    if (folder.empty()) continue;
    const fs::path candidate = fs::path(folder) / name;
    if (IsExecutable(candidate)) return candidate.string();
  }
  return {};
}

std::string FirstExecutable(const std::vector<std::string>& candidates) {
  for (const auto& c : candidates) {
    if (c.empty()) continue;
    if (c.find('/') == std::string::npos) {
      const auto found = FindOnPath(c);
      if (!found.empty()) return found;
    } else if (IsExecutable(c)) {
      return c;
    }
  }
  return {};
}

// Runs argv with exactly `env`, output to files, and waits at most
// `timeoutSeconds`. Returns false when it could not be started.
bool Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
           const fs::path& out, const fs::path& err, int timeoutSeconds, int* exitCode, bool* timedOut) {
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // A group of its own, so that a time-out can end everything it started.
    setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) _exit(126);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  *timedOut = false;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return false;
    if (std::chrono::steady_clock::now() > deadline) {
      *timedOut = true;
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

// Environment of the test process without anything that would steer Wine or
// the setup program, and without a display, so that message boxes return at
// once instead of waiting for a click.
std::map<std::string, std::string> CleanEnvironment() {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = entry.substr(0, eq);
    if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name.rfind("WINE", 0) == 0 ||
        name.rfind("SETUPPROG_", 0) == 0 || name.rfind("QEMU_", 0) == 0) {
      continue;
    }
    env[name] = entry.substr(eq + 1);
  }
  return env;
}

bool IsPe64(const std::vector<uint8_t>& image) {
  if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') return false;
  const uint32_t pe = image[60] | image[61] << 8 | image[62] << 16 | static_cast<uint32_t>(image[63]) << 24;
  if (pe + 6 > image.size()) return false;
  const uint16_t machine = static_cast<uint16_t>(image[pe + 4] | image[pe + 5] << 8);
  return machine == 0x8664;
}

// Hard links for the prefix's many large files, real copies for what Wine
// writes to (the registry files). The wine server's socket folder, which this
// Wine records in the prefix, is left out so each copy gets its own server.
bool ClonePrefix(const fs::path& from, const fs::path& to, std::string* error) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path relative = it->path().lexically_relative(from);
    const fs::path target = to / relative;
    const auto status = it->symlink_status(ec);
    if (fs::is_symlink(status)) {
      fs::copy_symlink(it->path(), target, ec);
    } else if (fs::is_directory(status)) {
      fs::create_directories(target, ec);
    } else if (relative == "wineserver") {
      continue;
    } else {
      const auto ext = relative.extension();
      if (relative.parent_path().empty() && (ext == ".reg" || relative == ".update-timestamp")) {
        fs::copy_file(it->path(), target, ec);
      } else {
        fs::create_hard_link(it->path(), target, ec);
      }
    }
    if (ec) {
      *error = "cannot copy " + it->path().string() + ": " + ec.message();
      return false;
    }
  }
  if (ec) *error = "cannot read " + from.string() + ": " + ec.message();
  return !ec;
}

// This Wine keeps a prefix's server socket folder under /tmp and names it in
// the prefix; the folder outlives the server unless removed.
void RemoveServerFolder(const fs::path& prefix) {
  const std::string name = ReadText(prefix / "wineserver");
  if (name.rfind("wine-", 0) != 0 || name.find('/') != std::string::npos) return;
  std::error_code ec;
  fs::remove_all(fs::temp_directory_path(ec) / name, ec);
  fs::remove(prefix / "wineserver", ec);
}

class FileLock {
 public:
  explicit FileLock(const fs::path& path) : fd_(open(path.c_str(), O_RDWR | O_CREAT, 0644)) {
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~FileLock() {
    if (fd_ >= 0) close(fd_);
  }

 private:
  int fd_;
};

std::string RegEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::string WineTempFolder() {
  const passwd* user = getpwuid(getuid());
  const std::string name = user && user->pw_name ? user->pw_name : EnvOr("USER", "root");
  return "C:\\users\\" + name + "\\Temp\\";
}

std::string WineMachineTempFolder() { return "C:\\windows\\temp\\"; }

const char* WidthName(Width width) { return width == Width::k32 ? "win32" : "win64"; }


// --- Harness ---------------------------------------------------------------

Harness& Harness::Get() {
  static Harness harness;
  return harness;
}

Harness::Harness() {
  workDir_ = EnvOr("WINE_TESTS_WORKDIR", WINE_TESTS_WORKDIR);
  setupX86_ = ReadWhole(WINE_TESTS_SETUPPROG_X86);
  setupX64_ = ReadWhole(WINE_TESTS_SETUPPROG_X64);

  loader64_ = FirstExecutable({EnvOr("WINE64", ""), "wine64", "/usr/lib/wine/wine64",
                               "/usr/lib64/wine/wine64", "/opt/wine-stable/bin/wine64"});
  server_ = FirstExecutable(
      {EnvOr("WINESERVER", ""), "wineserver", "/usr/lib/wine/wineserver", "/opt/wine-stable/bin/wineserver"});
  // tools/wine32-tier.sh names its tiers native-system, native-private,
  // emulated and none.
  const std::string tier = EnvOr("WINE32_TIER", "");
  tierName_ = tier.empty() ? "installed" : tier;
  std::replace(tierName_.begin(), tierName_.end(), '-', ' ');
  tierWhy_ = EnvOr("WINE32_WHY", "");
  emulated32_ = tier == "emulated";
  // Wine's 32-bit loader is installed on many machines whose kernel cannot
  // run 32-bit code; only running it tells.
  const std::string loader32 =
      tier == "none" ? std::string()
                     : FirstExecutable({EnvOr("WINE32", ""), "/usr/lib/wine/wine", "/usr/lib32/wine/wine",
                                        "/opt/wine-stable/bin/wine"});
  if (Starts(loader32)) loader32_ = loader32;
  if (loader32_.empty()) emulated32_ = false;
  // The processor models come with a loader under qemu: the tier's own when
  // it is emulated, one beside it when it is native.
  qemuLoader32_ = emulated32_ ? loader32_ : EnvOr("WINE32_QEMU", "");
  cpusWhy_ = EnvOr("WINE32_CPUS_WHY", "");
  if (loader32_.empty()) {
    cpusWhy_ = "this machine runs no 32-bit Windows program under Wine";
  } else if (qemuLoader32_.empty()) {
    if (cpusWhy_.empty()) cpusWhy_ = "no 32-bit Wine under qemu was given (WINE32_QEMU; tools/wine32-tier.sh)";
  } else if (!emulated32_ && !Starts(qemuLoader32_)) {
    cpusWhy_ = "the 32-bit Wine under qemu " + qemuLoader32_ + " does not start (--version)";
  } else {
    std::stringstream models(EnvOr("WINE32_CPUS", ""));
    for (std::string model; models >> model;) cpus_.push_back(model);
    if (cpus_.empty()) cpus_.push_back("max");
    cpusWhy_.clear();
  }
  // A 32-bit Wine that was made for the run and does not start is a fault to
  // report, not a reason to test the 64-bit stub instead.
  const bool promised = !tier.empty() && tier != "none";

  const fs::path stub32 = EnvOr("STUB32_EXE", WINE_TESTS_STUB32);
  const fs::path stub64 = EnvOr("STUB64_EXE", WINE_TESTS_STUB64);
  std::string missing;
  if (loader64_.empty()) {
    unavailable_ = "Wine is not installed (no wine64 loader found); install wine and wine64";
  } else if (server_.empty()) {
    unavailable_ = "Wine is not installed completely (no wineserver found)";
  } else if (setupX64_.empty()) {
    unavailable_ = std::string("the test setup program is missing: ") + WINE_TESTS_SETUPPROG_X64;
  } else if (promised && !Runs32BitPrograms()) {
    unavailable_ = "the " + tierName_ + " 32-bit Wine " + EnvOr("WINE32", "") + " does not start (--version)";
  } else if (Runs32BitPrograms() && fs::exists(stub32)) {
    stubPath_ = stub32;
  } else if (fs::exists(stub64)) {
    stubPath_ = stub64;
  } else if (Runs32BitPrograms()) {
    unavailable_ = "no stub to test: " + stub32.string() + " is missing (run make dist, or set STUB32_EXE)";
  } else {
    unavailable_ =
        "this machine cannot run 32-bit Windows programs under Wine, and the test-only 64-bit stub " +
        stub64.string() + " is missing (run make stub64, or set STUB64_EXE)";
  }
  if (!stubPath_.empty()) {
    stub_ = ReadWhole(stubPath_);
    stubIs64_ = IsPe64(stub_);
    if (stub_.empty()) unavailable_ = "cannot read the stub " + stubPath_.string();
    if (!stubIs64_ && !Runs32BitPrograms()) {
      unavailable_ = "the stub " + stubPath_.string() + " is a 32-bit program, which Wine cannot run here";
    }
  }
}

bool Harness::Starts(const std::string& loader) const {
  if (loader.empty()) return false;
  std::error_code ec;
  fs::create_directories(workDir_, ec);
  int code = -1;
  bool timedOut = false;
  // Files of this process's own: the test processes start in parallel, and
  // one must not read what another is still writing.
  const std::string tag = std::to_string(getpid());
  const fs::path out = workDir_ / ("wine32-probe-" + tag + ".txt");
  const fs::path err = workDir_ / ("wine32-probe-" + tag + ".err");
  const bool started = Spawn({loader, "--version"}, CleanEnvironment(), out, err, 60, &code, &timedOut) &&
                       code == 0 && ReadText(out).rfind("wine-", 0) == 0;
  fs::remove(out, ec);
  fs::remove(err, ec);
  return started;
}

bool Harness::Supports(Width width) const {
  if (!unavailable_.empty()) return false;
  if (width == Width::k64) return true;
  // A 32-bit prefix needs Wine's 32-bit loader running natively, and a 64-bit
  // stub cannot run on 32-bit Windows.
  return Runs32BitPrograms() && !emulated32_ && !stubIs64_;
}

std::string Harness::WhyNot(Width width) const {
  if (!unavailable_.empty()) return unavailable_;
  if (Supports(width)) return {};
  if (!Runs32BitPrograms()) {
    return "this machine cannot run 32-bit Windows programs under Wine, so there is no 32-bit Windows to "
           "test on";
  }
  if (emulated32_) {
    return "the emulated 32-bit Wine makes no 32-bit Windows (a WINEARCH=win32 prefix): on a kernel that runs "
           "no 32-bit code wineboot crashed making one under qemu; emulated because " +
           (tierWhy_.empty() ? std::string("the tier says so") : tierWhy_) +
           "; the launcher's 32-bit code runs on 64-bit Windows (WoW64) instead";
  }
  return "the stub under test is the 64-bit test build, which 32-bit Windows cannot run";
}

const std::vector<uint8_t>& Harness::SetupProgram(Width width) const {
  return width == Width::k32 ? setupX86_ : setupX64_;
}

const std::string& Harness::Loader(Width width) const { return width == Width::k32 ? loader32_ : loader64_; }

const std::string& Harness::StubLoader(const std::string& cpu) const {
  if (stubIs64_) return loader64_;
  return cpu.empty() ? loader32_ : qemuLoader32_;
}

std::string Harness::StubDescription(const std::string& cpu) const {
  const std::string name = stubPath_.filename().string();
  if (stubIs64_) return name + " (64-bit test build)";
  if (emulated32_) return name + " (32-bit, emulated, qemu cpu " + (cpu.empty() ? cpus_.front() : cpu) + ")";
  if (!cpu.empty()) return name + " (32-bit, " + tierName_ + " tier, this case under qemu cpu " + cpu + ")";
  return name + " (32-bit, " + tierName_ + ")";
}

namespace {
std::string lastRunDescription;
}

const std::string& LastRunDescription() { return lastRunDescription; }

fs::path Harness::Template(Width width, std::string* error) {
  const fs::path dir = workDir_ / (std::string("template-") + WidthName(width));
  std::error_code ec;
  fs::create_directories(workDir_, ec);
  FileLock lock(workDir_ / "template.lock");
  if (fs::exists(dir / ".ready")) return dir;

  const fs::path building = workDir_ / (std::string("template-") + WidthName(width) + ".building");
  fs::remove_all(building, ec);
  fs::remove_all(dir, ec);
  fs::create_directories(building.parent_path(), ec);

  auto env = CleanEnvironment();
  env["WINEPREFIX"] = building.string();
  env["WINEARCH"] = WidthName(width);
  env["WINELOADER"] = Loader(width);
  env["WINEDEBUG"] = "-all";
  // No Mono or Gecko installers, and no desktop menu entries.
  env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d";
  const fs::path log = workDir_ / (std::string("template-") + WidthName(width) + ".log");
  int code = -1;
  bool timedOut = false;
  const std::vector<std::vector<std::string>> steps = {
      {Loader(width), "wineboot", "-i"},
      {Loader(width), "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/t", "REG_SZ", "/d",
       kRelayInclude, "/f"},
      {Loader(width), "reg", "add", "HKCU\\Software\\Wine\\DllOverrides", "/v", "winemenubuilder.exe", "/t",
       "REG_SZ", "/d", "", "/f"},
      {server_, "-w"},
  };
  for (const auto& step : steps) {
    if (!Spawn(step, env, log, workDir_ / (std::string("template-") + WidthName(width) + ".err"), 600, &code,
               &timedOut) ||
        timedOut || code != 0) {
      *error = "could not make the " + std::string(WidthName(width)) + " prefix (" + step[1] + " " +
               (timedOut ? "timed out" : "ended with " + std::to_string(code)) + "); see " +
               log.parent_path().string();
      Spawn({server_, "-k"}, env, log, workDir_ / "template-kill.err", 30, &code, &timedOut);
      return {};
    }
  }
  RemoveServerFolder(building);
  fs::rename(building, dir, ec);
  if (ec) {
    *error = "cannot move the prefix into place: " + ec.message();
    return {};
  }
  std::ofstream(dir / ".ready") << "ready\n";
  return dir;
}

bool Harness::PrepareTemplates(std::string* error) {
  if (!unavailable_.empty()) return true;  // the tests will say why they skip
  // A fresh prefix per test run: Wine or its configuration may have changed
  // since the last one.
  RemoveTemplates();
  for (Width width : {Width::k64, Width::k32}) {
    if (!Supports(width)) continue;
    if (Template(width, error).empty()) return false;
  }
  return true;
}

void Harness::RemoveTemplates() {
  std::error_code ec;
  FileLock lock(workDir_ / "template.lock");
  for (Width width : {Width::k64, Width::k32}) {
    fs::remove_all(workDir_ / (std::string("template-") + WidthName(width)), ec);
  }
}

// --- WineCase --------------------------------------------------------------

WineCase::WineCase(Width width, const std::string& name) : width_(width) {
  Harness& harness = Harness::Get();
  if (!harness.Supports(width)) {
    problem_ = harness.WhyNot(width);
    return;
  }
  const fs::path base = harness.Template(width, &problem_);
  if (base.empty()) return;
  std::error_code ec;
  fs::create_directories(harness.WorkDir() / "cases", ec);
  std::string safe;
  for (char c : name) safe.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  std::string pattern = (harness.WorkDir() / "cases" / (safe + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) {
    problem_ = "cannot make a case folder under " + (harness.WorkDir() / "cases").string();
    return;
  }
  folder_ = pattern;
  prefix_ = folder_ / "prefix";
  ClonePrefix(base, prefix_, &problem_);
}

WineCase::~WineCase() {
  if (folder_.empty()) return;
  StopServer();
  const bool failed = ::testing::Test::HasFailure();
  if (failed || keep_ || EnvOr("WINE_TESTS_KEEP", "") == "1") {
    std::cerr << "[wine] case kept in " << folder_.string() << "\n";
    return;
  }
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

std::map<std::string, std::string> WineCase::BaseEnvironment() const {
  auto env = CleanEnvironment();
  env["WINEPREFIX"] = prefix_.string();
  env["WINEARCH"] = WidthName(width_);
  env["WINELOADER"] = Harness::Get().Loader(width_);
  env["WINEDEBUG"] = "-all";
  return env;
}

bool WineCase::RunWine(const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& env, const fs::path& out,
                       const fs::path& err, int timeoutSeconds, int* exitCode, bool* timedOut) const {
  std::vector<std::string> argv = {Harness::Get().Loader(width_)};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Spawn(argv, env, out, err, timeoutSeconds, exitCode, timedOut);
}

void WineCase::StopServer() const {
  if (prefix_.empty() || !fs::exists(prefix_)) return;
  int code = 0;
  bool timedOut = false;
  Spawn({Harness::Get().Server(), "-k"}, BaseEnvironment(), folder_ / "kill.out", folder_ / "kill.err", 30,
        &code, &timedOut);
  RemoveServerFolder(prefix_);
}

fs::path WineCase::HostPath(const std::string& windowsPath) const {
  if (windowsPath.size() < 3 || windowsPath[1] != ':' || windowsPath[2] != '\\') return {};
  const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
  fs::path path = drive == 'z' ? fs::path("/") : drive == 'c' ? prefix_ / "drive_c" : fs::path();
  if (path.empty()) return {};
  std::stringstream parts(windowsPath.substr(3));
  std::string part;
  while (std::getline(parts, part, '\\')) {
    if (part.empty()) continue;
    fs::path next = path / part;
    std::error_code ec;
    if (!fs::exists(next, ec) && fs::is_directory(path, ec)) {
      for (const auto& entry : fs::directory_iterator(path, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == part.size() &&
            std::equal(name.begin(), name.end(), part.begin(), [](char a, char b) {
              return std::tolower(static_cast<unsigned char>(a)) ==
                     std::tolower(static_cast<unsigned char>(b));
            })) {
          next = entry.path();
          break;
        }
      }
    }
    path = next;
  }
  return path;
}

void WineCase::WriteFile(const std::string& windowsPath, const std::vector<uint8_t>& bytes) const {
  const fs::path path = HostPath(windowsPath);
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WineCase::MakeFolder(const std::string& windowsPath) const {
  std::error_code ec;
  fs::create_directories(HostPath(windowsPath), ec);
}

bool WineCase::Exists(const std::string& windowsPath) const {
  std::error_code ec;
  return fs::exists(HostPath(windowsPath), ec);
}

std::vector<uint8_t> WineCase::ReadFile(const std::string& windowsPath) const {
  return ReadWhole(HostPath(windowsPath));
}

RunResult WineCase::Run(const std::string& windowsPath, const RunOptions& options) {
  RunResult result;
  if (!problem_.empty()) {
    result.problem = problem_;
    return result;
  }
  const std::string tag = "run" + std::to_string(++runs_);
  const auto env = BaseEnvironment();
  int code = -1;
  bool timedOut = false;
  auto step = [&](const std::vector<std::string>& arguments, const std::string& what) {
    if (!RunWine(arguments, env, folder_ / (tag + "-" + what + ".out"), folder_ / (tag + "-" + what + ".err"),
                 120, &code, &timedOut) ||
        timedOut || code != 0) {
      result.problem = what + " failed in " + folder_.string();
      return false;
    }
    return true;
  };

  // A server that stays up keeps Wine's own services running between the
  // steps. The Windows version and registry come first and bring those
  // services up with the trace off, so that the first traced program is the
  // launcher.
  if (!Spawn({Harness::Get().Server(), "-p"}, env, folder_ / (tag + "-server.out"),
             folder_ / (tag + "-server.err"), 60, &code, &timedOut) ||
      timedOut || code != 0) {
    result.problem = "cannot start the wine server for " + prefix_.string();
    return result;
  }
  if (!step({"winecfg", "-v", options.windowsVersion}, "winecfg")) return result;
  if (!options.currentVersion.empty()) {
    std::ostringstream reg;
    reg << "REGEDIT4\n";
    const char* views[] = {
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion",
        "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion"};
    for (const char* key : views) {
      if (width_ == Width::k32 && std::strstr(key, "Wow6432Node")) continue;
      reg << "\n[" << key << "]\n";
      for (const auto& value : options.currentVersion) {
        reg << '"' << RegEscape(value.name) << "\"=";
        if (value.text) {
          reg << '"' << RegEscape(*value.text) << "\"\n";
        } else {
          reg << "-\n";
        }
      }
    }
    std::ofstream(prefix_ / "drive_c" / (tag + ".reg")) << reg.str();
    if (!step({"reg", "import", "C:\\" + tag + ".reg"}, "reg")) return result;
  }

  std::error_code ec;
  fs::remove(HostPath(kReportWindowsPath), ec);
  auto launchEnv = env;
  launchEnv["WINEDEBUG"] = "-all,+relay";
  launchEnv["SETUPPROG_REPORT"] = kReportWindowsPath;
  for (const auto& [k, v] : options.environment) launchEnv[k] = v;
  std::vector<std::string> arguments = {windowsPath};
  arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
  const Harness& harness = Harness::Get();
  if (!options.cpu.empty() &&
      std::find(harness.CpuModels().begin(), harness.CpuModels().end(), options.cpu) == harness.CpuModels().end()) {
    result.problem = "no processor model " + options.cpu + " here: " +
                     (harness.CpuModels().empty() ? harness.WhyNoCpuModels() : "not among the tier's models");
    return result;
  }
  if (!harness.StubIs64Bit() && (harness.Emulated32() || !options.cpu.empty())) {
    launchEnv["QEMU_CPU"] = options.cpu.empty() ? harness.CpuModels().front() : options.cpu;
  }
  lastRunDescription = harness.StubDescription(options.cpu);
  result.relayLog = folder_ / (tag + "-relay.log");
  const std::string& loader = harness.StubLoader(options.cpu);
  std::vector<std::string> launch = {loader};
  launch.insert(launch.end(), arguments.begin(), arguments.end());
  if (!Spawn(launch, launchEnv, folder_ / (tag + "-launcher.out"), result.relayLog, options.timeoutSeconds,
             &result.exitCode, &result.timedOut)) {
    result.problem = "cannot start " + loader;
    return result;
  }
  result.setupAtExit = ParseSetupReport(ReadText(HostPath(kReportWindowsPath)));

  const std::string log = ReadText(result.relayLog);
  const auto calls = ParseRelayLog(log);
  const auto launcher = FirstThread(log);
  result.boxes = MessageBoxes(calls, launcher);
  result.starts = Starts(calls, launcher);
  for (const RelayCall& call : calls) {
    if (!launcher || call.thread == *launcher) result.calls.push_back(call);
  }
  // A Unix exit status keeps only the low 8 bits of the Windows exit code;
  // the code handed to ExitProcess is the whole of it.
  for (const RelayCall& call : result.calls) {
    if (call.function == "ExitProcess" && !call.arguments.empty()) {
      result.exitCode = static_cast<int>(call.arguments[0].value);
    }
  }

  // A setup program that the launcher left running gets its time to finish.
  // A shell start creates its process inside the shell, which may or may not
  // show in the trace as a CreateProcessW of its own.
  size_t direct = 0, shell = 0;
  for (const auto& start : result.starts) {
    if (start.succeeded) ++(start.function == "CreateProcessW" ? direct : shell);
  }
  const size_t started = direct ? direct : shell;
  auto finished = [](const std::vector<SetupStart>& starts) {
    size_t n = 0;
    for (const auto& s : starts) n += s.finished ? 1 : 0;
    return n;
  };
  result.setupAfterAll = result.setupAtExit;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((finished(result.setupAfterAll) < started ||
          finished(result.setupAfterAll) < result.setupAfterAll.size()) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    result.setupAfterAll = ParseSetupReport(ReadText(HostPath(kReportWindowsPath)));
  }
  return result;
}

}  // namespace winetest
