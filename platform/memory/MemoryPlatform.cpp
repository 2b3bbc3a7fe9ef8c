#include "platform/memory/MemoryPlatform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "launcher/FatalMessages.h"
#include "launcher/Stub32.h"
#include "platform/Memory.h"

namespace stub {

namespace {

size_t g_allocationLimit = 0;
size_t g_resizes = 0;

bool Contains(const std::vector<std::u16string>& list, const std::u16string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

// Host allocator: the C heap, with an optional ceiling for tests.
void* AllocateBlock(size_t size) {
  if (g_allocationLimit && size > g_allocationLimit) return nullptr;
  return std::malloc(size ? size : 1);
}
void* ResizeBlock(void* block, size_t size) {
  if (g_allocationLimit && size > g_allocationLimit) return nullptr;
  if (block) ++g_resizes;
  return std::realloc(block, size ? size : 1);
}
void FreeBlock(void* block) { std::free(block); }

void SetAllocationLimitForTesting(size_t bytes) { g_allocationLimit = bytes; }

size_t ResizeCountForTesting() { return g_resizes; }

std::u16string ToU16(const Text& text) { return std::u16string(text.Data(), text.Length()); }
Text FromU16(const std::u16string& text) { return Text(text.data(), text.size()); }

void MemoryPlatform::SetRegistryText(const std::u16string& name, const std::u16string& text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  registry[name] = bytes;
}

bool MemoryPlatform::CallMade(const std::string& call) const {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

Text MemoryPlatform::CommandLine() { return FromU16(commandLine); }
Text MemoryPlatform::ModulePath() {
  // GetModuleFileNameW into 261 characters truncates longer paths.
  return FromU16(modulePath.substr(0, 260));
}

void MemoryPlatform::ShowErrorAndExit(const Text& text, const Text& caption, EndReason reason,
                                      Ending ending) {
  if (ending.showBox) boxes.push_back({ToU16(text), ToU16(caption), kMbIconError, reason});
  ends.push_back({ToU16(text), reason, ending});
  calls.push_back("ExitProcess " + std::to_string(ending.exitCode));
  throw ProcessEnded{ending.exitCode};
}

bool MemoryPlatform::SettingsResource(const uint8_t*& data, uint32_t& size) {
  calls.push_back("SettingsResource");
  if (settingsResource.empty()) return false;
  data = settingsResource.data();
  size = static_cast<uint32_t>(settingsResource.size());
  return true;
}

uint16_t MemoryPlatform::UserInterfaceLanguage() {
  calls.push_back("UserInterfaceLanguage");
  return uiLanguage;
}

uint32_t MemoryPlatform::UserPreferredLanguages(uint16_t* languages, uint32_t capacity) {
  calls.push_back("UserPreferredLanguages");
  uint32_t count = 0;
  for (uint16_t language : preferredLanguages) {
    if (count == capacity) break;
    languages[count++] = language;
  }
  return count;
}

bool MemoryPlatform::OpenPackageFile(const Text& path) {
  calls.push_back("OpenPackageFile " + ToUtf8(ToU16(path)));
  if (packageOpenFails) return false;
  packageOpen = true;
  return true;
}

uint32_t MemoryPlatform::ReadPackageFile(uint32_t offset, void* buffer, uint32_t count) {
  calls.push_back("ReadPackageFile " + std::to_string(offset) + " " + std::to_string(count));
  if (!packageOpen) return 0;
  // SetFilePointer takes a signed 32-bit distance from the start: offsets of
  // 2 GiB and more are negative and fail to position the file.
  if (offset >= 0x80000000u) return 0;
  if (offset >= packageBytes.size()) return 0;
  const size_t available = packageBytes.size() - offset;
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(available, count));
  if (n) std::memcpy(buffer, packageBytes.data() + offset, n);
  return n;
}

uint64_t MemoryPlatform::PackageFileSize() {
  return reportedFileSize ? *reportedFileSize : packageBytes.size();
}

void MemoryPlatform::ClosePackageFile() {
  calls.push_back("ClosePackageFile");
  packageOpen = false;
}

LocalDate MemoryPlatform::LocalToday() {
  calls.push_back("GetLocalTime");
  return today;
}

bool MemoryPlatform::IsWow64() {
  calls.push_back("IsWow64");
  return wow64;
}

VersionFacts MemoryPlatform::GetVersion() {
  calls.push_back("GetVersion");
  return version;
}

ServicePackFacts MemoryPlatform::GetServicePack() {
  calls.push_back("GetServicePack");
  return servicePack;
}

bool MemoryPlatform::OpenCurrentVersionKey() {
  calls.push_back("OpenKey");
  keyOpen = keyOpens;
  return keyOpens;
}

bool MemoryPlatform::QueryCurrentVersionValue(const char16_t* name,
                                              uint8_t (&buffer)[kRegistryBufferSize],
                                              uint32_t& size) {
  const std::u16string key(name);
  calls.push_back("QueryValue " + ToUtf8(key));
  if (size != kRegistryBufferSize) calls.push_back("QueryValue size not reset");
  auto it = registry.find(key);
  if (it == registry.end() || it->second.size() > kRegistryBufferSize) return false;
  if (!it->second.empty()) std::memcpy(buffer, it->second.data(), it->second.size());
  size = static_cast<uint32_t>(it->second.size());
  return true;
}

void MemoryPlatform::CloseCurrentVersionKey() {
  calls.push_back("CloseKey");
  keyOpen = false;
}

Text MemoryPlatform::TempPath() {
  calls.push_back("GetTempPath");
  // GetTempPathW(256, ...) writes nothing when the path and its NUL do not
  // fit; it never hands back a cut-off path.
  if (tempPath.size() >= 256) return Text();
  return FromU16(tempPath);
}

bool MemoryPlatform::FileExists(const Text& path) {
  const std::u16string p = ToU16(path);
  calls.push_back("FileExists " + ToUtf8(p));
  return files.count(p) != 0 || Contains(folders, p);
}

bool MemoryPlatform::RandomBytes(uint8_t* buffer, uint32_t count) {
  calls.push_back("RandomBytes " + std::to_string(count));
  if (randomFails) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (!random.empty()) {
      buffer[i] = random.front();
      random.erase(random.begin());
    } else {
      buffer[i] = static_cast<uint8_t>(randomCounter_++);
    }
  }
  return true;
}

CreateResult MemoryPlatform::CreateFolder(const Text& path, const char16_t* access) {
  const std::u16string p = ToU16(path);
  calls.push_back("CreateFolder " + ToUtf8(p));
  if (files.count(p) || Contains(folders, p)) return CreateResult::kNameTaken;
  if (Contains(uncreatable, p)) return CreateResult::kFailed;
  folders.push_back(p);
  folderAccess[p] = access ? access : u"";
  heldFolder = p;
  return CreateResult::kCreated;
}

void MemoryPlatform::ReleaseFolder() {
  calls.push_back("ReleaseFolder");
  heldFolder.clear();
}

CreateResult MemoryPlatform::CreateCopy(const Text& path, const char16_t* access) {
  const std::u16string p = ToU16(path);
  calls.push_back("CreateCopy " + ToUtf8(p));
  if (Contains(takenAtCreation, p)) {
    files[p] = {'o', 't', 'h', 'e', 'r'};  // someone else's file, which must survive
    return CreateResult::kNameTaken;
  }
  if (files.count(p) || Contains(folders, p)) return CreateResult::kNameTaken;
  if (Contains(uncreatable, p)) return CreateResult::kFailed;
  files[p].clear();
  copies.push_back({p, {}, access ? access : u""});
  copyOpen = p;
  return CreateResult::kCreated;
}

uint32_t MemoryPlatform::WriteCopy(const void* bytes, uint32_t size) {
  if (copyOpen.empty()) return 0;
  std::vector<uint8_t>& file = files[copyOpen];
  uint32_t n = size;
  if (shortWrite) {
    const uint32_t room = *shortWrite > file.size() ? *shortWrite - static_cast<uint32_t>(file.size()) : 0;
    n = std::min(n, room);
  }
  const auto* b = static_cast<const uint8_t*>(bytes);
  file.insert(file.end(), b, b + n);
  // copies.back() is the open copy: CreateCopy records each one as it opens it.
  std::vector<uint8_t>& record = copies.back().bytes;
  record.insert(record.end(), b, b + n);
  return n;
}

void MemoryPlatform::CloseCopy() {
  calls.push_back("CloseCopy");
  copyOpen.clear();
}

uint32_t MemoryPlatform::TickCount() {
  const uint32_t now = clock;
  clock += clockStep;
  return now;
}

void MemoryPlatform::ShowProgress(const Text& caption, uint32_t done, uint32_t total) {
  if (!progressOpen) calls.push_back("ShowProgress " + ToUtf8(ToU16(caption)) + " of " + std::to_string(total));
  progressOpen = true;
  progressShown.push_back(done);
}

void MemoryPlatform::CloseProgress() {
  calls.push_back("CloseProgress");
  progressOpen = false;
}

bool MemoryPlatform::HoldCopy(const Text& path) {
  calls.push_back("HoldCopy " + ToUtf8(ToU16(path)));
  copyHeld = !holdFails && files.count(ToU16(path)) != 0;
  heldPath = copyHeld ? ToU16(path) : u"";
  return copyHeld;
}

void MemoryPlatform::ReleaseCopy() {
  calls.push_back("ReleaseCopy");
  copyHeld = false;
  heldPath.clear();
}

bool MemoryPlatform::RemoveFile(const Text& path) {
  const std::u16string p = ToU16(path);
  calls.push_back("RemoveFile " + ToUtf8(p));
  // DeleteFileW fails on a file still open without delete sharing, as the
  // open copy and the held one are.
  if (p == copyOpen || p == heldPath || Contains(undeletable, p) || !files.count(p)) return false;
  removed.push_back(p);
  files.erase(p);
  return true;
}

bool MemoryPlatform::RemoveFolder(const Text& path) {
  const std::u16string p = ToU16(path);
  calls.push_back("RemoveFolder " + ToUtf8(p));
  const auto folder = std::find(folders.begin(), folders.end(), p);
  // Our own hold shares everything but deletion.
  if (folder == folders.end() || p == heldFolder || Contains(undeletable, p)) return false;
  // RemoveDirectoryW removes only an empty folder.
  const std::u16string inside = p + u"\\";
  for (const auto& file : files) {
    if (file.first.rfind(inside, 0) == 0) return false;
  }
  folders.erase(folder);
  removed.push_back(p);
  return true;
}

void MemoryPlatform::RemoveAtRestart(const Text& path) {
  calls.push_back("RemoveAtRestart " + ToUtf8(ToU16(path)));
  removedAtRestart.push_back(ToU16(path));
}

bool MemoryPlatform::UniversalName(const Text& path, Text& universal) {
  const std::u16string p = ToU16(path);
  calls.push_back("UniversalName " + ToUtf8(p));
  auto it = universalNames.find(p);
  if (it == universalNames.end()) return false;
  universal = FromU16(it->second);
  return true;
}

bool MemoryPlatform::IsAdministrator() {
  calls.push_back("IsAdministrator");
  return administrator;
}

bool MemoryPlatform::StartDirect(const Text& commandLine, const Text& currentDirectory,
                                 ProcessHandle& process) {
  calls.push_back("StartDirect");
  if (startFails) return false;
  RecordedStart s;
  s.commandLine = ToU16(commandLine);
  s.currentDirectory = ToU16(currentDirectory);
  s.progressShownDuringStart = progressOpen;
  s.copyHeldDuringStart = copyHeld;
  starts.push_back(s);
  process = starts.size();
  return true;
}

StartResult MemoryPlatform::StartShell(const Text& verb, const Text& file, const Text& parameters,
                                       ProcessHandle& process) {
  calls.push_back("StartShell");
  if (startCancelled) return StartResult::kCancelled;
  if (startFails) return StartResult::kFailed;
  RecordedStart s;
  s.shell = true;
  s.verb = ToU16(verb);
  s.file = ToU16(file);
  s.parameters = ToU16(parameters);
  s.progressShownDuringStart = progressOpen;
  s.copyHeldDuringStart = copyHeld;
  starts.push_back(s);
  process = starts.size();
  return StartResult::kStarted;
}

uint32_t MemoryPlatform::WaitAndClose(ProcessHandle process) {
  calls.push_back("WaitAndClose " + std::to_string(process));
  ++waits;
  return setupExitCode;
}

namespace {
MemoryPlatform* g_active = nullptr;
void ExhaustedOnMemoryPlatform() {
  g_active->ShowErrorAndExit(Text(OutOfMemoryText()), g_active->ModulePath(),
                             EndReason::kOutOfMemory, OutOfMemoryEnding());
}
}  // namespace

ActivePlatform::ActivePlatform(MemoryPlatform& platform)
    : previousPlatform_(g_active),
      previousHandler_(SetMemoryExhaustedHandler(&ExhaustedOnMemoryPlatform)) {
  g_active = &platform;
}

ActivePlatform::~ActivePlatform() {
  // The handler reaches the platform through g_active: left installed with
  // no platform active, a later exhaustion would follow a null pointer
  // instead of aborting.
  g_active = previousPlatform_;
  SetMemoryExhaustedHandler(previousHandler_);
  // What one run's settings made of the out-of-memory ending is not the
  // next run's.
  ResetOutOfMemoryEnding();
}

uint32_t RunOnMemoryPlatform(MemoryPlatform& platform) {
  ActivePlatform active(platform);
  try {
    return RunLauncher(platform);
  } catch (const ProcessEnded& ended) {
    return ended.exitCode;
  }
}

}  // namespace stub
