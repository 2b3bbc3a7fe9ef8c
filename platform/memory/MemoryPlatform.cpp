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

bool MemoryPlatform::DigestBegin() {
  calls.push_back("DigestBegin");
  digested = 0;
  if (digestUnavailable) return false;
  digest_.emplace();
  return true;
}

void MemoryPlatform::DigestAdd(const void* bytes, uint32_t count) {
  if (!digest_) return;
  digest_->Add(bytes, count);
  digested += count;
}

bool MemoryPlatform::DigestEnd(uint8_t (&digest)[32]) {
  calls.push_back("DigestEnd");
  if (!digest_) return false;
  const Sha256Digest value = digest_->Finish();
  std::copy(value.begin(), value.end(), digest);
  digest_.reset();
  return true;
}

LocalDate MemoryPlatform::LocalToday() {
  calls.push_back("GetLocalTime");
  return today;
}

MachineFacts MemoryPlatform::Machine() {
  calls.push_back("Machine");
  return MachineFacts{wow64, nativeMachine, x64Runs};
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

bool MemoryPlatform::HoldCopy(const Text& path, bool identityRequired) {
  calls.push_back("HoldCopy " + ToUtf8(ToU16(path)));
  copyHeld = !holdFails && !(identityRequired && copyIdentityUnknown) &&
             files.count(ToU16(path)) != 0;
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
  return RemoveCopyFile(p, "RemoveFile " + ToUtf8(p));
}

bool MemoryPlatform::RemoveCopyFile(const std::u16string& p, const std::string& call) {
  calls.push_back(call);
  // DeleteFileW fails on a file still open without delete sharing, as the
  // open copy and the held one are.
  if (p == copyOpen || p == heldPath || Contains(undeletable, p) || !files.count(p)) return false;
  const auto busy = busyForMs.find(p);
  if (busy != busyForMs.end() && pausedMs < busy->second) return false;
  removed.push_back(p);
  files.erase(p);
  return true;
}

std::u16string MemoryPlatform::HeldFolderFinal() const {
  const auto it = finalPaths.find(heldFolder);
  return it == finalPaths.end() ? heldFolder : it->second;
}

bool MemoryPlatform::RemoveHeldFolder() {
  calls.push_back("RemoveHeldFolder");
  const std::u16string p = heldFolder;
  heldFolder.clear();
  const auto folder = std::find(folders.begin(), folders.end(), p);
  if (p.empty() || folder == folders.end() || Contains(undeletable, p)) return false;
  // Only an empty folder can go.
  for (const std::u16string& where : {p, finalPaths.count(p) ? finalPaths.at(p) : p}) {
    const std::u16string inside = where + u"\\";
    for (const auto& file : files) {
      if (file.first.rfind(inside, 0) == 0) return false;
    }
  }
  folders.erase(folder);
  removed.push_back(p);
  return true;
}

Text MemoryPlatform::WindowsFolder() {
  calls.push_back("WindowsFolder");
  return FromU16(windowsFolder);
}

HeldFolderFacts MemoryPlatform::FolderFacts() {
  calls.push_back("FolderFacts");
  HeldFolderFacts facts;
  if (heldFolder.empty()) return facts;
  facts.pathAsked = folderPathAsked;
  if (facts.pathAsked && !folderPathFails) facts.path = FromU16(HeldFolderFinal());
  facts.aclsAsked = folderAclsAsked;
  facts.keepsAcls = folderKeepsAcls;
  return facts;
}

CreateResult MemoryPlatform::CreateCopyInHeldFolder(const Text& name, const char16_t* access) {
  calls.push_back("CreateCopyInHeldFolder " + ToUtf8(ToU16(name)));
  // An empty name is the folder itself, which is no file to create.
  if (heldFolder.empty() || name.Empty()) return CreateResult::kFailed;
  const std::u16string p = HeldFolderFinal() + u"\\" + ToU16(name);
  if (files.count(p)) return CreateResult::kNameTaken;
  if (Contains(uncreatable, p)) return CreateResult::kFailed;
  files[p].clear();
  copies.push_back({p, {}, access ? access : u""});
  copyOpen = p;
  return CreateResult::kCreated;
}

bool MemoryPlatform::RemoveFromHeldFolder(const Text& name) {
  if (heldFolder.empty()) {
    calls.push_back("RemoveFromHeldFolder " + ToUtf8(ToU16(name)));
    return false;
  }
  return RemoveCopyFile(HeldFolderFinal() + u"\\" + ToU16(name),
                        "RemoveFromHeldFolder " + ToUtf8(ToU16(name)));
}

bool MemoryPlatform::ProgramManifest(const Text& path, const uint8_t*& data, uint32_t& size) {
  calls.push_back("ProgramManifest " + ToUtf8(ToU16(path)));
  const auto file = files.find(ToU16(path));
  if (file == files.end()) return false;
  std::optional<std::vector<uint8_t>> found = programManifest;
  if (!found && manifestOf) found = manifestOf(file->second);
  if (!found) return false;
  foundManifest_ = *found;
  data = foundManifest_.data();
  size = static_cast<uint32_t>(foundManifest_.size());
  return true;
}

void MemoryPlatform::ReleaseProgramManifest() { calls.push_back("ReleaseProgramManifest"); }

void MemoryPlatform::Pause(uint32_t milliseconds) {
  calls.push_back("Pause " + std::to_string(milliseconds));
  pausedMs += milliseconds;
}

bool MemoryPlatform::IsFilteredAdministrator() {
  calls.push_back("IsFilteredAdministrator");
  return filteredAdministrator;
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
                                       bool noUi, ProcessHandle& process) {
  calls.push_back("StartShell");
  if (startCancelled) return StartResult::kCancelled;
  if (startFails) return StartResult::kFailed;
  RecordedStart s;
  s.shell = true;
  s.verb = ToU16(verb);
  s.file = ToU16(file);
  s.parameters = ToU16(parameters);
  s.noUi = noUi;
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
