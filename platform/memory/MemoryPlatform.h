// An in-memory Windows for tests, the fuzzer and pkgtool's simulation: the
// package file is a byte buffer, the file system a map, system facts are
// scripted, and error boxes, starts and every registry read are recorded.
// ShowErrorAndExit throws ProcessEnded, which the caller catches; the core
// itself never catches anything.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/memory/Sha256.h"
#include "platform/memory/Utf8.h"

namespace stub {

// Thrown where the real launcher would end its process.
struct ProcessEnded {
  uint32_t exitCode = 0;
};

struct RecordedBox {
  std::u16string text;
  std::u16string caption;
  uint32_t style = 0;  // always MB_ICONERROR (0x10) for the launcher's boxes
  EndReason reason = EndReason::kDamaged;
};

// How the process ended through ShowErrorAndExit, box shown or not.
struct RecordedEnd {
  std::u16string text;
  EndReason reason = EndReason::kDamaged;
  Ending ending;
};

struct RecordedStart {
  bool shell = false;
  std::u16string commandLine;       // direct start
  std::u16string currentDirectory;  // direct start
  std::u16string verb;              // shell start
  std::u16string file;              // shell start
  std::u16string parameters;        // shell start
  bool noUi = false;                // shell start: SEE_MASK_FLAG_NO_UI
  bool copyHeldDuringStart = false;  // HoldCopy was in force when the start was made
  bool progressShownDuringStart = false;
};

class MemoryPlatform final : public Platform {
 public:
  static constexpr uint32_t kMbIconError = 0x10;

  // --- Scripted facts (set before running) ---------------------------------
  std::u16string commandLine = u"\"C:\\Downloads\\Setup.exe\"";
  std::u16string modulePath = u"C:\\Downloads\\Setup.exe";
  std::vector<uint8_t> packageBytes;
  bool packageOpenFails = false;
  // When set, PackageFileSize reports this instead of the buffer's size.
  std::optional<uint64_t> reportedFileSize;
  LocalDate today{2026, 6, 1};
  bool wow64 = false;
  uint16_t nativeMachine = 0;  // 0: a Windows without IsWow64Process2
  bool x64Runs = false;        // read on an Arm64 machine only
  VersionFacts version{true, 10, 0, 2};
  ServicePackFacts servicePack{true, 4};
  bool keyOpens = true;
  // Registry values of the current-version key, as raw bytes (UTF-16LE text
  // usually, with its terminator). Absent names fail to read; values longer
  // than 128 bytes fail as Windows does (ERROR_MORE_DATA).
  std::map<std::u16string, std::vector<uint8_t>> registry;
  std::u16string tempPath = u"C:\\Users\\User\\AppData\\Local\\Temp\\";
  std::u16string windowsFolder = u"C:\\Windows";
  // What FolderFacts tells of a held folder: its final path (by the path it
  // was made with; the same path where none is given), and its volume's
  // access lists. The *Asked flags false stand for a Windows without the call.
  std::map<std::u16string, std::u16string> finalPaths;
  bool folderPathAsked = true;
  bool folderPathFails = false;
  bool folderAclsAsked = true;
  bool folderKeepsAcls = true;
  // Files and folders of the file system, by exact path.
  std::map<std::u16string, std::vector<uint8_t>> files;
  std::vector<std::u16string> folders;
  // Paths where creation of a copy or a folder fails (no rights, missing
  // folder...).
  std::vector<std::u16string> uncreatable;
  // Paths whose deletion fails (a program still runs from the file, say).
  std::vector<std::u16string> undeletable;
  // The bytes RandomBytes hands out, in order; once used up it goes on with
  // 0x00, 0x01, 0x02, ... so that names stay predictable in tests.
  std::vector<uint8_t> random;
  bool randomFails = false;
  // HoldCopy finds the copy held for writing or replaced by another file.
  bool holdFails = false;
  // The file system cannot say which file the held copy is.
  bool copyIdentityUnknown = false;
  // The manifest ProgramManifest finds in any program; when unset, what
  // `manifestOf` reads from the program's bytes (none without it).
  std::optional<std::vector<uint8_t>> programManifest;
  std::function<std::optional<std::vector<uint8_t>>(const std::vector<uint8_t>&)> manifestOf;
  bool filteredAdministrator = false;
  // Paths whose deletion fails until Pause has let this many milliseconds
  // pass in all (a scanner holding the new program for a moment).
  std::map<std::u16string, uint32_t> busyForMs;
  uint32_t pausedMs = 0;
  // Paths whose probe says free but whose creation finds the name taken (a
  // file created by someone else between the probe and the creation).
  std::vector<std::u16string> takenAtCreation;
  // When set, the copy's writes store only this many bytes in all (a disk
  // that fills up part way).
  std::optional<uint32_t> shortWrite;
  // TickCount starts at `clock` and moves on by `clockStep` at every call.
  uint32_t clock = 0;
  uint32_t clockStep = 0;
  std::map<std::u16string, std::u16string> universalNames;
  bool administrator = false;
  bool startFails = false;
  bool startCancelled = false;  // a shell start the user declines
  uint32_t setupExitCode = 0;   // what every started program ends with
  // Windows cannot compute SHA-256 (no CryptoAPI provider for it).
  bool digestUnavailable = false;
  // The stub's settings resource (RT_RCDATA "LAUNCHER"); none when empty.
  std::vector<uint8_t> settingsResource;
  uint16_t uiLanguage = 0x0409;
  // The user's fallback list (GetUserPreferredUILanguages); empty where
  // Windows keeps none.
  std::vector<uint16_t> preferredLanguages;

  // --- Recorded effects ----------------------------------------------------
  std::vector<RecordedBox> boxes;  // shown ones only
  std::vector<RecordedEnd> ends;
  std::vector<RecordedStart> starts;
  std::vector<std::string> calls;  // operation log, e.g. "QueryValue CurrentBuild"
  std::vector<std::u16string> removed;
  std::vector<std::u16string> removedAtRestart;
  // The access (SDDL) each folder CreateFolder made was born with.
  std::map<std::u16string, std::u16string> folderAccess;
  // Every copy CreateCopy opened, with the bytes WriteCopy stored in it: kept
  // after the launcher deletes the file, so that callers can tell which
  // program it wrote (and how much of it, when the write fell short).
  struct CreatedCopy {
    std::u16string path;
    std::vector<uint8_t> bytes;
    std::u16string access;  // the SDDL it was created with; empty for the folder's own
  };
  std::vector<CreatedCopy> copies;
  bool packageOpen = false;
  bool keyOpen = false;
  bool copyHeld = false;
  std::u16string heldPath;
  std::u16string heldFolder;  // the folder CreateFolder made and holds, if any
  // The copy open for writing (empty when none is).
  std::u16string copyOpen;
  // Every share the progress window showed, as done bytes; and whether it is up.
  std::vector<uint32_t> progressShown;
  bool progressOpen = false;
  int waits = 0;
  // Bytes the digest has taken in since the last DigestBegin.
  uint64_t digested = 0;

  // Sets registry value `name` to UTF-16LE `text` with a terminator.
  void SetRegistryText(const std::u16string& name, const std::u16string& text);
  bool CallMade(const std::string& call) const;

  // --- Platform ------------------------------------------------------------
  Text CommandLine() override;
  Text ModulePath() override;
  [[noreturn]] void ShowErrorAndExit(const Text& text, const Text& caption, EndReason reason,
                                     Ending ending) override;
  bool SettingsResource(const uint8_t*& data, uint32_t& size) override;
  uint16_t UserInterfaceLanguage() override;
  uint32_t UserPreferredLanguages(uint16_t* languages, uint32_t capacity) override;
  bool OpenPackageFile(const Text& path) override;
  uint32_t ReadPackageFile(uint32_t offset, void* buffer, uint32_t count) override;
  uint64_t PackageFileSize() override;
  void ClosePackageFile() override;
  bool DigestBegin() override;
  void DigestAdd(const void* bytes, uint32_t count) override;
  bool DigestEnd(uint8_t (&digest)[32]) override;
  LocalDate LocalToday() override;
  MachineFacts Machine() override;
  VersionFacts GetVersion() override;
  ServicePackFacts GetServicePack() override;
  bool OpenCurrentVersionKey() override;
  bool QueryCurrentVersionValue(const char16_t* name, uint8_t (&buffer)[kRegistryBufferSize],
                                uint32_t& size) override;
  void CloseCurrentVersionKey() override;
  Text TempPath() override;
  bool FileExists(const Text& path) override;
  bool RandomBytes(uint8_t* buffer, uint32_t count) override;
  CreateResult CreateFolder(const Text& path, const char16_t* access) override;
  void ReleaseFolder() override;
  CreateResult CreateCopy(const Text& path, const char16_t* access) override;
  uint32_t WriteCopy(const void* bytes, uint32_t size) override;
  void CloseCopy() override;
  uint32_t TickCount() override;
  void ShowProgress(const Text& caption, uint32_t done, uint32_t total) override;
  void CloseProgress() override;
  bool HoldCopy(const Text& path, bool identityRequired) override;
  void ReleaseCopy() override;
  bool RemoveFile(const Text& path) override;
  bool RemoveHeldFolder() override;
  Text WindowsFolder() override;
  HeldFolderFacts FolderFacts() override;
  CreateResult CreateCopyInHeldFolder(const Text& name, const char16_t* access) override;
  bool RemoveFromHeldFolder(const Text& name) override;
  bool ProgramManifest(const Text& path, const uint8_t*& data, uint32_t& size) override;
  void ReleaseProgramManifest() override;
  void Pause(uint32_t milliseconds) override;
  bool IsFilteredAdministrator() override;
  void RemoveAtRestart(const Text& path) override;
  bool UniversalName(const Text& path, Text& universal) override;
  bool IsAdministrator() override;
  bool StartDirect(const Text& commandLine, const Text& currentDirectory,
                   ProcessHandle& process) override;
  StartResult StartShell(const Text& verb, const Text& file, const Text& parameters, bool noUi,
                         ProcessHandle& process) override;
  uint32_t WaitAndClose(ProcessHandle process) override;

 private:
  uint8_t randomCounter_ = 0;
  std::vector<uint8_t> foundManifest_;
  // The held folder by its final path, where its copy is made and found.
  std::u16string HeldFolderFinal() const;
  bool RemoveCopyFile(const std::u16string& path, const std::string& call);
  std::optional<Sha256> digest_;
};

// For its lifetime, makes `platform` the one an exhausted allocation ends on
// (its out-of-memory box, then ProcessEnded), and puts back the platform and
// handler that were there before. Every run of core code on the in-memory
// platform goes through one, so that no handler outlives its platform.
class ActivePlatform {
 public:
  explicit ActivePlatform(MemoryPlatform& platform);
  ~ActivePlatform();
  ActivePlatform(const ActivePlatform&) = delete;
  ActivePlatform& operator=(const ActivePlatform&) = delete;

 private:
  MemoryPlatform* previousPlatform_;
  void (*previousHandler_)();
};

// Runs `body` as the launcher's process would run it on `platform`: true
// when it returned, false when the process ended (the box is in
// platform.boxes).
template <typename Body>
bool RunAsProcess(MemoryPlatform& platform, Body&& body) {
  ActivePlatform active(platform);
  try {
    body();
    return true;
  } catch (const ProcessEnded&) {
    return false;
  }
}

// Runs the whole main sequence on `platform`, catching the end of the
// process. Returns the exit code the process ended with.
uint32_t RunOnMemoryPlatform(MemoryPlatform& platform);

// Host allocator controls for tests: allocations larger than `bytes` fail
// (0 lifts the limit). Lets tests reach the out-of-memory path safely.
void SetAllocationLimitForTesting(size_t bytes);
// What SystemSupportsSse2() answers on the host (true unless a test says
// otherwise: every system the host build runs on saves those registers).
void SetSse2SupportForTesting(bool supported);
// Resizes of existing blocks so far (each may move and copy the block).
size_t ResizeCountForTesting();

std::u16string ToU16(const Text& text);
Text FromU16(const std::u16string& text);

}  // namespace stub
