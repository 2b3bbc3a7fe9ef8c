// The launcher's seam to the real Windows. Every operation is the one call
// (or the short fixed series of calls) that Platform.h names, with no policy
// of its own: the rules live in the core. Text crosses as UTF-16; wchar_t and
// char16_t share their layout on Windows, so the conversion is a cast here and
// nowhere else.
//
// Handles are held as opaque pointers so that this header stays free of
// <windows.h>.
#pragma once

#include "platform/Platform.h"

namespace stub {

// Which file a handle is open on: its volume and its index there.
struct FileId {
  bool known = false;
  unsigned long volume = 0;
  unsigned long indexHigh = 0;
  unsigned long indexLow = 0;
};

class Win32Platform final : public Platform {
 public:
  Win32Platform() = default;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

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
  Text WindowsFolder() override;
  HeldFolderFacts FolderFacts() override;
  bool RemoveHeldFolder() override;
  CreateResult CreateCopyInHeldFolder(const Text& name, const char16_t* access) override;
  bool RemoveFromHeldFolder(const Text& name) override;
  bool ProgramManifest(const Text& path, const uint8_t*& data, uint32_t& size) override;
  void ReleaseProgramManifest() override;
  void Pause(uint32_t milliseconds) override;
  void RemoveAtRestart(const Text& path) override;

  bool UniversalName(const Text& path, Text& universal) override;
  bool IsAdministrator() override;
  bool IsFilteredAdministrator() override;
  bool StartDirect(const Text& commandLine, const Text& currentDirectory,
                   ProcessHandle& process) override;
  StartResult StartShell(const Text& verb, const Text& file, const Text& parameters, bool noUi,
                         ProcessHandle& process) override;
  uint32_t WaitAndClose(ProcessHandle process) override;

  // The error box and the end of the process, without allocating: the
  // out-of-memory path has nothing left to allocate with.
  [[noreturn]] static void ShowBoxAndExit(const char16_t* text, const char16_t* caption,
                                          Ending ending);

 private:
  // An entry point found at run time, cast to its real type where it is called.
  using RawProc = void (*)();

  // Null whenever no handle is held (never INVALID_HANDLE_VALUE).
  void* packageFile_ = nullptr;
  void* currentVersionKey_ = nullptr;
  void* heldCopy_ = nullptr;
  void* heldFolder_ = nullptr;
  void* copyFile_ = nullptr;
  FileId copyId_;  // of the copy the last CreateCopy made
  // The last copy was made in the held folder, under this name.
  bool copyInFolder_ = false;
  Text copyName_;
  void* manifestModule_ = nullptr;

  bool membershipLookedUp_ = false;
  RawProc checkTokenMembership_ = nullptr;
  // CryptoAPI's provider and hash (HCRYPTPROV, HCRYPTHASH); 0 when none.
  uintptr_t digestProvider_ = 0;
  uintptr_t digestHash_ = 0;
  bool digestFailed_ = false;
  RawProc hashData_ = nullptr;
  RawProc getHashParam_ = nullptr;

  bool universalNameLookedUp_ = false;
  RawProc getUniversalName_ = nullptr;
};

}  // namespace stub
