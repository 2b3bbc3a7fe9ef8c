#include "tools/pkgtool/Simulation.h"

#include <cstring>

#include "gates/ExpiryGate.h"
#include "gates/PayloadSelection.h"
#include "gates/WindowsVersionGate.h"
#include "launcher/FatalMessages.h"
#include "launch/LaunchPlan.h"
#include "launcher/Stub32.h"
#include "platform/Memory.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/LauncherChecks.h"
#include "package/writer/PackageWriter.h"

namespace pkgtool {

namespace {

constexpr uint32_t kWin32Windows = 1;  // VER_PLATFORM_WIN32_WINDOWS
constexpr uint32_t kWin32Nt = 2;       // VER_PLATFORM_WIN32_NT

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
  s.currentBuild = std::to_string(build);
  s.displayVersion = displayVersion;
  s.releaseId = releaseId;
  return s;
}

// Registry values as the releases carry them: up to 2004 only "ReleaseId";
// from 20H2 on "ReleaseId" stays at 2009 and "DisplayVersion" names the
// release.
WindowsScenario FromRelease(Family family, const Release& r) {
  if (family == Family::kWin10 && r.build < 19042) {
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

// Forwards every operation to the memory platform, keeping the bytes of each
// copy written: the memory platform forgets a copy once the launcher deletes it.
class CopyKeepingPlatform final : public stub::Platform {
 public:
  explicit CopyKeepingPlatform(stub::MemoryPlatform& inner) : inner_(inner) {}
  std::vector<std::pair<std::u16string, std::vector<uint8_t>>> copies;

  stub::Text CommandLine() override { return inner_.CommandLine(); }
  stub::Text ModulePath() override { return inner_.ModulePath(); }
  [[noreturn]] void ShowErrorAndExit(const stub::Text& text, const stub::Text& caption) override {
    inner_.ShowErrorAndExit(text, caption);
  }
  bool OpenPackageFile(const stub::Text& path) override { return inner_.OpenPackageFile(path); }
  uint32_t ReadPackageFile(uint32_t offset, void* buffer, uint32_t count) override {
    return inner_.ReadPackageFile(offset, buffer, count);
  }
  uint64_t PackageFileSize() override { return inner_.PackageFileSize(); }
  void ClosePackageFile() override { inner_.ClosePackageFile(); }
  stub::LocalDate LocalToday() override { return inner_.LocalToday(); }
  bool IsWow64() override { return inner_.IsWow64(); }
  stub::VersionFacts GetVersion() override { return inner_.GetVersion(); }
  stub::ServicePackFacts GetServicePack() override { return inner_.GetServicePack(); }
  bool OpenCurrentVersionKey() override { return inner_.OpenCurrentVersionKey(); }
  bool QueryCurrentVersionValue(const char16_t* name,
                                uint8_t (&buffer)[stub::kRegistryBufferSize],
                                uint32_t& size) override {
    return inner_.QueryCurrentVersionValue(name, buffer, size);
  }
  void CloseCurrentVersionKey() override { inner_.CloseCurrentVersionKey(); }
  stub::Text TempPath() override { return inner_.TempPath(); }
  bool FileExists(const stub::Text& path) override { return inner_.FileExists(path); }
  stub::CreateCopyResult CreateCopy(const stub::Text& path) override {
    const auto result = inner_.CreateCopy(path);
    if (result == stub::CreateCopyResult::kCreated) copies.emplace_back(stub::ToU16(path), std::vector<uint8_t>());
    return result;
  }
  uint32_t WriteCopy(const void* bytes, uint32_t size) override {
    const uint32_t written = inner_.WriteCopy(bytes, size);
    if (!copies.empty()) {
      const auto* b = static_cast<const uint8_t*>(bytes);
      copies.back().second.insert(copies.back().second.end(), b, b + written);
    }
    return written;
  }
  void CloseCopy() override { inner_.CloseCopy(); }
  uint32_t TickCount() override { return inner_.TickCount(); }
  void ShowProgress(const stub::Text& caption, uint32_t done, uint32_t total) override {
    inner_.ShowProgress(caption, done, total);
  }
  void CloseProgress() override { inner_.CloseProgress(); }
  void HoldCopy(const stub::Text& path) override { inner_.HoldCopy(path); }
  void ReleaseCopy() override { inner_.ReleaseCopy(); }
  void RemoveFile(const stub::Text& path) override { inner_.RemoveFile(path); }
  bool UniversalName(const stub::Text& path, stub::Text& universal) override {
    return inner_.UniversalName(path, universal);
  }
  bool IsAdministrator() override { return inner_.IsAdministrator(); }
  bool StartDirect(const stub::Text& commandLine, const stub::Text& currentDirectory,
                   stub::ProcessHandle& process) override {
    return inner_.StartDirect(commandLine, currentDirectory, process);
  }
  bool StartShell(const stub::Text& verb, const stub::Text& file, const stub::Text& parameters,
                  stub::ProcessHandle& process) override {
    return inner_.StartShell(verb, file, parameters, process);
  }
  void WaitAndClose(stub::ProcessHandle process) override { inner_.WaitAndClose(process); }

 private:
  stub::MemoryPlatform& inner_;
};

void Script(stub::MemoryPlatform& platform, const SimulationInput& input) {
  const WindowsScenario& w = input.windows;
  platform.modulePath = input.packagePath;
  platform.commandLine = LauncherCommandLine(input.packagePath, input.arguments);
  platform.today = input.today;
  platform.wow64 = input.x64;
  platform.version = w.version;
  // XP's 64-bit edition reports 5.2; the gate treats it as XP all the same.
  if (input.x64 && w.version.major == 5 && w.version.minor == 1) platform.version.minor = 2;
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
  // The package itself is a file in its folder: a copy placed beside it must
  // not take its name.
  platform.files[input.packagePath] = {};
}

bool HeaderOf(const std::vector<uint8_t>& bytes, stub::PackageHeader& header) {
  if (bytes.size() < stub::kLocatorOffset + stub::kLocatorSize) return false;
  uint8_t raw[stub::kLocatorSize];
  std::memcpy(raw, bytes.data() + stub::kLocatorOffset, sizeof raw);
  const uint64_t at = stub::DecodeLocator(raw).packageOffset;
  if (at + stub::kHeaderSize > bytes.size()) return false;
  uint8_t h[stub::kHeaderSize];
  std::memcpy(h, bytes.data() + at, sizeof h);
  header = stub::DecodeHeader(h);
  return true;
}

// Names a refusal by asking the launcher's own decisions which gate made it.
void ClassifyRefusal(const SimulationInput& input, SimulationResult& result) {
  const std::pair<stub::FatalMessage, const char*> fatal[] = {
      {stub::FatalMessage::kDamaged, "damaged"},
      {stub::FatalMessage::kTruncated, "truncated"},
      {stub::FatalMessage::kCannotCreateCopy, "cannot create copy"},
      {stub::FatalMessage::kCannotExecute, "cannot execute"}};
  for (const auto& [message, name] : fatal) {
    if (result.box == stub::FatalMessageText(message)) {
      result.refusal = name;
      return;
    }
  }
  if (result.box == stub::kMsgOutOfMemory) {
    result.refusal = "out of memory";
    return;
  }
  stub::PackageHeader header;
  if (!HeaderOf(input.package, header)) {
    result.refusal = "unknown";
    return;
  }
  if (stub::IsExpired(header, input.today)) {
    result.refusal = "expired";
    return;
  }
  stub::MemoryPlatform facts;
  Script(facts, input);
  const stub::ArgumentList arguments(facts.commandLine.c_str(), stub::FromU16(facts.modulePath));
  if (stub::ChoosePayload(header, arguments, facts) == stub::PayloadChoice::kRefused) {
    result.refusal = "wrong width";
    return;
  }
  result.refusal = "unsupported Windows";
  RunAsLauncher(facts, [&] {
    const stub::WindowsVerdict verdict = stub::JudgeWindowsVersion(facts, header);
    if (!verdict.pass) result.windowsName = stub::ToU16(verdict.name);
  });
}

std::string NameProgram(const SimulationInput& input, const std::vector<uint8_t>& copy) {
  stub::PackageHeader header;
  if (!HeaderOf(input.package, header)) return "unknown";
  auto matches = [&](const stub::PayloadDescriptor& d, bool present,
                     const std::optional<std::vector<uint8_t>>& known) {
    if (!present || d.unpackedSize != copy.size()) return false;
    if (known) return *known == copy;
    const uint64_t end = static_cast<uint64_t>(d.offset) + d.packedSize;
    if (end > input.package.size()) return false;
    return stub::writer::DecompressRawLzma1(input.package.data() + d.offset, d.packedSize,
                                            header.lzmaProperties, header.lzmaDictionarySize,
                                            d.unpackedSize) == copy;
  };
  const bool is32 = matches(header.payload32, HasX86(header), input.x86Program);
  const bool is64 = matches(header.payload64, HasX64(header), input.x64Program);
  if (is32 && is64) return "x86 = x64";
  if (is32) return "x86";
  if (is64) return "x64";
  return "unknown";
}

}  // namespace

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
  if ((family == Family::kWin11) != (build >= 22000)) {
    throw ToolError("--windows: build " + words[1] + " is not a Windows " + name +
                    " build (Windows 11 begins at 22000)");
  }
  const std::string display = words.size() == 3 ? Words(text)[2] : "";
  WindowsScenario s = Modern(family, words[1], build, display, build >= 19042 ? "2009" : "");
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

std::u16string LauncherCommandLine(const std::u16string& path,
                                   const std::vector<std::u16string>& arguments) {
  std::u16string line = u"\"" + path + u"\"";
  for (const std::u16string& a : arguments) {
    const bool quote = a.find_first_of(u" \t") != std::u16string::npos;
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

  CopyKeepingPlatform observer(platform);
  RunAsLauncher(platform, [&] { stub::RunLauncher(observer); });
  result.calls = platform.calls;

  if (!platform.boxes.empty()) {
    result.ending = Ending::kRefused;
    result.box = platform.boxes.back().text;
    result.caption = platform.boxes.back().caption;
    ClassifyRefusal(input, result);
    return result;
  }
  if (platform.starts.empty()) return result;
  result.ending = Ending::kStarted;
  result.start = platform.starts.back();
  if (!observer.copies.empty()) {
    result.copyPath = observer.copies.back().first;
    result.copySize = observer.copies.back().second.size();
    result.program = NameProgram(input, observer.copies.back().second);
    for (const auto& removed : platform.removed) {
      if (removed == result.copyPath) result.copyDeleted = true;
    }
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
      if (r.refusal == "unsupported Windows" && !r.windowsName.empty()) {
        return "refused: " + Utf16ToUtf8(r.windowsName);
      }
      return "refused: " + r.refusal;
    case Ending::kEndedWithoutStart:
      return "ended without starting anything";
    case Ending::kStarted:
      break;
  }
  std::string text = r.program + ", ";
  if (!r.start.shell) {
    text += "direct";
  } else {
    text += "shell " + Utf16ToUtf8(r.start.verb) + Utf16ToUtf8(r.appended);
  }
  if (!r.waited) text += ", detached";
  return text;
}

}  // namespace pkgtool
