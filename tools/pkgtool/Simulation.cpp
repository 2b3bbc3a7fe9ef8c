#include "tools/pkgtool/Simulation.h"

#include <algorithm>

#include "authoring/LauncherTranslations.h"
#include "authoring/PeResources.h"
#include "gates/WindowsVersionGate.h"
#include "launch/Elevation.h"
#include "launch/LaunchPlan.h"
#include "launcher/ArgumentList.h"
#include "launcher/Endings.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/LauncherOptions.h"
#include "tools/pkgtool/PeFacts.h"

namespace pkgtool {

namespace {

constexpr uint32_t kWin32Windows = 1;  // VER_PLATFORM_WIN32_WINDOWS
constexpr uint32_t kWin32Nt = 2;       // VER_PLATFORM_WIN32_NT
constexpr uint32_t kFirstBuildWithIsWow64Process2 = 10586;  // Windows 10 1511
constexpr uint32_t kFirstArm64Build = 16299;                // Windows 10 1709

WindowsScenario Classic(const std::string& key, const std::string& label, uint32_t major,
                        uint32_t minor, uint32_t platformId, bool has64BitEdition) {
  WindowsScenario s;
  s.key = key;
  s.label = label + " (" + std::to_string(major) + "." + std::to_string(minor) + ")";
  s.version = {true, major, minor, platformId};
  s.servicePack = {true, 0};
  s.has64BitEdition = has64BitEdition;
  return s;
}

WindowsScenario Windows2000(unsigned servicePack) {
  WindowsScenario s = Classic("2000 sp" + std::to_string(servicePack), "Windows 2000", 5, 0,
                              kWin32Nt, false);
  s.servicePack = {true, static_cast<uint16_t>(servicePack)};
  s.label = servicePack ? "Windows 2000 SP" + std::to_string(servicePack) + " (5.0)"
                        : "Windows 2000 without service pack (5.0)";
  return s;
}

WindowsScenario Modern(Family family, const std::string& name, uint32_t build,
                       const std::string& displayVersion, const std::string& releaseId) {
  WindowsScenario s;
  const std::string family10or11 = family == Family::kWin10 ? "10" : "11";
  s.key = family10or11 + " " + name;
  s.label = "Windows " + family10or11 + " " + name + " (10.0 build " + std::to_string(build) + ")";
  s.version = {true, 10, 0, kWin32Nt};
  s.servicePack = {true, 0};
  s.hasRegistry = true;
  s.build = build;
  s.currentBuild = std::to_string(build);
  s.displayVersion = displayVersion;
  s.releaseId = releaseId;
  return s;
}

// Registry values as the releases carry them: up to 2004 only "ReleaseId";
// from 20H2 on "ReleaseId" stays at 2009 and "DisplayVersion" names the
// release.
WindowsScenario FromRelease(Family family, const Release& r) {
  if (family == Family::kWin10 && r.build < stub::kFirstDisplayVersionBuild) {
    return Modern(family, r.name, r.build, "", std::to_string(r.code));
  }
  return Modern(family, r.name, r.build, r.name, "2009");
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t j = i;
    while (j < text.size() && text[j] != ' ' && text[j] != '\t') ++j;
    if (j > i) words.push_back(text.substr(i, j - i));
    i = j;
  }
  return words;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

ToolError UnknownWindows(const std::string& text) {
  return ToolError("--windows: unknown Windows '" + text +
                   "' (e.g. xp, 2000 sp3, 7, 8.1, 10 1809, 10 22H2, 11 24H2, 11 26300 26H1)");
}

void Script(stub::MemoryPlatform& platform, const SimulationInput& input) {
  const WindowsScenario& w = input.windows;
  platform.modulePath = input.packagePath;
  platform.commandLine = LauncherCommandLine(input.packagePath, input.arguments);
  platform.today = input.today;
  platform.wow64 = input.arch != Arch::kX86;
  // IsWow64Process2 names the machine from Windows 10 1511 on.
  if (w.build >= kFirstBuildWithIsWow64Process2) {
    platform.nativeMachine = input.arch == Arch::kX86   ? kMachineI386
                             : input.arch == Arch::kX64 ? kMachineAmd64
                                                        : stub::kMachineArm64;
  }
  platform.x64Runs = input.arch == Arch::kArm64 && RunsX64OnArm64(w);
  platform.version = w.version;
  // XP's 64-bit edition reports 5.2; the gate treats it as XP all the same.
  if (input.arch == Arch::kX64 && w.version.major == 5 && w.version.minor == 1) {
    platform.version.minor = 2;
  }
  platform.servicePack = w.servicePack;
  platform.keyOpens = w.hasRegistry;
  platform.registry.clear();
  if (!w.currentBuild.empty()) platform.SetRegistryText(u"CurrentBuild", Utf8ToUtf16(w.currentBuild, "build"));
  if (!w.displayVersion.empty()) {
    platform.SetRegistryText(u"DisplayVersion", Utf8ToUtf16(w.displayVersion, "display version"));
  }
  if (!w.releaseId.empty()) platform.SetRegistryText(u"ReleaseId", Utf8ToUtf16(w.releaseId, "release id"));
  platform.tempPath = input.tempPath;
  platform.administrator = input.administrator;
  platform.uiLanguage = input.languages.empty() ? 0 : input.languages[0];
  platform.preferredLanguages = input.languages;
  if (auto settings = LauncherSettingsBytes(input.package)) platform.settingsResource = std::move(*settings);
  // What the launcher reads from its copy when the package has no record
  // of what the program asks of Windows.
  platform.manifestOf = [](const std::vector<uint8_t>& program) -> std::optional<std::vector<uint8_t>> {
    try {
      for (const stub::pe::Resource& r : stub::pe::ReadResources(program)) {
        if (!r.type.IsName() && r.type.id == stub::pe::kRtManifest && !r.name.IsName() &&
            r.name.id == 1) {
          return r.data;
        }
      }
    } catch (const stub::pe::PeError&) {
    }
    return std::nullopt;
  };
  // The package itself is a file in its folder: a copy placed beside it must
  // not take its name.
  platform.files[input.packagePath] = {};
}

const char* RefusalName(stub::EndReason reason) {
  const auto i = static_cast<size_t>(reason);
  return i < std::size(stub::kEndings) ? stub::kEndings[i].name : "unknown";
}

// The name the Windows gate filled into its refusal: the gate's own decision
// on the same facts, from the header the launcher verified.
std::u16string RefusedWindowsName(const SimulationInput& input, const PackageCheck& check) {
  if (!check.headerRead) return u"";
  stub::MemoryPlatform facts;
  Script(facts, input);
  std::u16string name;
  stub::RunAsProcess(facts, [&] {
    const stub::WindowsVerdict verdict = stub::JudgeWindowsVersion(facts, check.header);
    if (!verdict.pass) name = stub::ToU16(verdict.name);
  });
  return name;
}

// Which of the package's programs the launcher wrote: compared with each as
// the launcher unpacks it.
std::string NameProgram(const SimulationInput& input, const PackageCheck& check,
                        const std::vector<uint8_t>& copy) {
  if (!check.headerRead) return "unknown";
  auto matches = [&](bool x64) {
    const std::optional<std::vector<uint8_t>>& known = x64 ? check.x64 : check.x86;
    if (known) return *known == copy;
    // An unsound package (say, an unreadable message) may still start.
    const auto program = UnpackProgram(input.package, check.header, x64);
    return program && *program == copy;
  };
  const bool is32 = matches(false);
  const bool is64 = matches(true);
  if (is32 && is64) return "x86 = x64";
  if (is32) return "x86";
  if (is64) return "x64";
  return "unknown";
}

}  // namespace

const char* ArchName(Arch arch) {
  return arch == Arch::kX86 ? "x86" : arch == Arch::kX64 ? "x64" : "arm64";
}

bool HasArm64Edition(const WindowsScenario& windows) { return windows.build >= kFirstArm64Build; }

bool RunsX64OnArm64(const WindowsScenario& windows) {
  return windows.build >= static_cast<uint32_t>(stub::kFirstWindows11Build);
}

WindowsScenario ParseWindowsScenario(const std::string& text) {
  const std::vector<std::string> words = Words(Lower(text));
  if (words.empty()) throw UnknownWindows(text);
  const std::string& name = words[0];
  if (words.size() == 1) {
    if (name == "95") return Classic("95", "Windows 95", 4, 0, kWin32Windows, false);
    if (name == "98") return Classic("98", "Windows 98", 4, 10, kWin32Windows, false);
    if (name == "me") return Classic("me", "Windows ME", 4, 90, kWin32Windows, false);
    if (name == "nt4") return Classic("nt4", "Windows NT 4", 4, 0, kWin32Nt, false);
    if (name == "2000") return Windows2000(4);
    if (name == "xp") {
      WindowsScenario xp = Classic("xp", "Windows XP", 5, 1, kWin32Nt, true);
      xp.label = "Windows XP (5.1; its 64-bit edition 5.2)";
      return xp;
    }
    if (name == "vista") return Classic("vista", "Windows Vista", 6, 0, kWin32Nt, true);
    if (name == "7") return Classic("7", "Windows 7", 6, 1, kWin32Nt, true);
    if (name == "8") return Classic("8", "Windows 8", 6, 2, kWin32Nt, true);
    if (name == "8.1") return Classic("8.1", "Windows 8.1", 6, 3, kWin32Nt, true);
    if (name == "10") return FromRelease(Family::kWin10, Releases(Family::kWin10).back());
    if (name == "11") return FromRelease(Family::kWin11, Releases(Family::kWin11).back());
    throw UnknownWindows(text);
  }
  if (name == "2000" && words.size() == 2 && words[1].size() == 3 && words[1].rfind("sp", 0) == 0 &&
      words[1][2] >= '0' && words[1][2] <= '4') {
    return Windows2000(static_cast<unsigned>(words[1][2] - '0'));
  }
  if (name != "10" && name != "11") throw UnknownWindows(text);
  const Family family = name == "10" ? Family::kWin10 : Family::kWin11;
  if (words.size() == 2) {
    for (const Release& r : Releases(family)) {
      if (words[1] == Lower(r.name) || (IsNumber(words[1]) && std::stoul(words[1]) == r.build)) {
        return FromRelease(family, r);
      }
    }
  }
  // Any other build, with the DisplayVersion it reports (if any).
  if (words.size() > 3 || !IsNumber(words[1])) throw UnknownWindows(text);
  const uint32_t build = static_cast<uint32_t>(std::stoul(words[1]));
  if ((family == Family::kWin11) != (build >= stub::kFirstWindows11Build)) {
    throw ToolError("--windows: build " + words[1] + " is not a Windows " + name +
                    " build (Windows 11 begins at " + std::to_string(stub::kFirstWindows11Build) +
                    ")");
  }
  const std::string display = words.size() == 3 ? Words(text)[2] : "";
  WindowsScenario s = Modern(family, words[1], build, display,
                             build >= stub::kFirstDisplayVersionBuild ? "2009" : "");
  s.label = "Windows " + name + " build " + words[1] +
            (display.empty() ? "" : " \"" + display + "\"") + " (10.0)";
  return s;
}

std::vector<WindowsScenario> KnownScenarios() {
  std::vector<WindowsScenario> all;
  for (const char* name : {"95", "98", "me", "nt4"}) all.push_back(ParseWindowsScenario(name));
  for (unsigned sp = 0; sp <= 4; ++sp) all.push_back(Windows2000(sp));
  for (const char* name : {"xp", "vista", "7", "8", "8.1"}) all.push_back(ParseWindowsScenario(name));
  for (const Family family : {Family::kWin10, Family::kWin11}) {
    for (const Release& r : Releases(family)) all.push_back(FromRelease(family, r));
  }
  return all;
}

std::vector<uint16_t> ParseLanguageList(const std::string& text) {
  std::vector<uint16_t> languages;
  size_t from = 0;
  for (;;) {
    const size_t comma = text.find(',', from);
    std::string tag = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    tag.erase(0, tag.find_first_not_of(' '));
    tag.erase(tag.find_last_not_of(' ') + 1);
    const std::optional<uint16_t> language = stub::writer::LanguageFromTag(tag);
    if (!language) {
      throw ToolError("--language: '" + tag + "' is not a language tag (e.g. en-US, de-DE, pt-BR, "
                      "zh-TW, ja, a number such as 0x0407, or a list such as ca-ES,es-ES)");
    }
    languages.push_back(*language);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (languages.size() > stub::kMaxUserLanguages) {
    throw ToolError("--language: " + std::to_string(languages.size()) + " languages; the launcher reads at most " +
                    std::to_string(stub::kMaxUserLanguages));
  }
  return languages;
}

std::u16string LauncherCommandLine(const std::u16string& path,
                                   const std::vector<std::u16string>& arguments) {
  std::u16string line = u"\"" + path + u"\"";
  for (const std::u16string& a : arguments) {
    const bool quote = std::any_of(a.begin(), a.end(), stub::IsArgumentSeparator);
    line += quote ? u" \"" + a + u"\"" : u" " + a;
  }
  return line;
}

SimulationResult Simulate(const SimulationInput& input) {
  SimulationResult result;
  stub::MemoryPlatform platform;
  platform.packageBytes = input.package;
  Script(platform, input);
  result.commandLine = platform.commandLine;
  result.exitCode = stub::RunOnMemoryPlatform(platform);
  result.calls = platform.calls;
  {
    stub::LauncherSettings settings;
    result.deploymentMode = !platform.settingsResource.empty() &&
                            stub::DecodeLauncherSettings(platform.settingsResource.data(),
                                                         static_cast<uint32_t>(platform.settingsResource.size()),
                                                         0, settings) &&
                            settings.passExitCode;
  }

  // The launcher's checks are made here only when the answer needs them.
  std::shared_ptr<const PackageCheck> check = input.check;
  auto checked = [&]() -> const PackageCheck& {
    if (!check) check = std::make_shared<const PackageCheck>(CheckPackage(input.package));
    return *check;
  };
  if (!platform.ends.empty()) {
    // Every refusal and failure, its box shown or (deployment mode, silent)
    // not.
    const stub::RecordedEnd& end = platform.ends.back();
    result.ending = Ending::kRefused;
    result.box = end.text;
    result.caption = platform.modulePath.substr(0, 260);
    result.boxShown = end.ending.showBox;
    result.refusal = RefusalName(end.reason);
    if (end.reason == stub::EndReason::kUnsupportedWindows) {
      result.windowsName = RefusedWindowsName(input, checked());
    }
    return result;
  }
  if (platform.starts.empty()) return result;
  // The launcher raised itself: what counts is what its elevated self does.
  const stub::RecordedStart& first = platform.starts.back();
  const std::u16string marker = stub::kRelaunchedSwitch;
  if (!input.administrator && first.shell && first.verb == u"runas" &&
      first.parameters.compare(0, marker.size(), marker) == 0) {
    SimulationInput elevated = input;
    elevated.administrator = true;
    elevated.arguments.insert(elevated.arguments.begin(), marker);
    elevated.check = check;
    SimulationResult again = Simulate(elevated);
    again.relaunchedElevated = true;
    again.commandLine = result.commandLine;
    return again;
  }
  result.ending = Ending::kStarted;
  result.exitCodeFromSetup = result.deploymentMode && platform.waits > 0;
  result.start = platform.starts.back();
  if (!platform.copies.empty()) {
    const stub::MemoryPlatform::CreatedCopy& copy = platform.copies.back();
    result.copyPath = copy.path;
    result.copySize = copy.bytes.size();
    result.program = NameProgram(input, checked(), copy.bytes);
    const ProgramImage image = DescribeImage(copy.bytes);
    result.image = image.description;
    if (result.program == "x86" || result.program == "x64") {
      result.fitsSlot = FitsSlot(image, result.program == "x64");
    }
    for (const auto& removed : platform.removed) {
      if (removed == result.copyPath) result.copyDeleted = true;
    }
  }
  if (!platform.folderAccess.empty()) {
    result.privateFolder = platform.folderAccess.begin()->first;
    result.privateFolderAccess = platform.folderAccess.begin()->second;
  }
  result.waited = platform.waits > 0;
  if (result.start.shell) {
    // Whatever the launcher added beyond the arguments text is its own.
    const stub::ArgumentList arguments(platform.commandLine.c_str(),
                                       stub::FromU16(platform.modulePath));
    const std::u16string argumentsText = stub::ToU16(stub::BuildArgumentsText(
        stub::FromU16(platform.modulePath), arguments));
    const auto& p = result.start.parameters;
    if (p.size() > argumentsText.size() && p.compare(0, argumentsText.size(), argumentsText) == 0) {
      result.appended = p.substr(argumentsText.size());
    }
  }
  return result;
}

std::string ShortOutcome(const SimulationResult& r) {
  switch (r.ending) {
    case Ending::kRefused:
      {
        // Deployment mode adds what a deployment tool sees.
        const std::string exit = !r.deploymentMode ? ""
                                 : " (exit " + std::to_string(r.exitCode) + (r.boxShown ? ")" : ", no box)");
        if (r.refusal == "unsupported Windows" && !r.windowsName.empty()) {
          return "refused: " + Utf16ToUtf8(r.windowsName) + exit;
        }
        return "refused: " + r.refusal + exit;
      }
    case Ending::kEndedWithoutStart:
      return "ended without starting anything";
    case Ending::kStarted:
      break;
  }
  std::string text = (r.relaunchedElevated ? "elevates itself, then " : "") + r.program + ", ";
  if (!r.start.shell) {
    text += "direct";
  } else {
    text += "shell " + Utf16ToUtf8(r.start.verb) + Utf16ToUtf8(r.appended);
  }
  if (!r.waited) text += ", detached";
  if (r.exitCodeFromSetup) text += " (exit: the setup program's)";
  return text;
}

std::string ExitCodeText(const SimulationResult& r) {
  if (r.exitCodeFromSetup) return "the setup program's own (deployment mode)";
  return std::to_string(r.exitCode) + (r.deploymentMode ? " (deployment mode)" : "");
}

}  // namespace pkgtool
