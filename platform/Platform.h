// The narrow seam between the launcher's rules and Windows. Every effect the
// launcher has on the world, and every fact it learns from it, passes through
// one of these operations. platform/win32 makes the real calls; platform/memory
// keeps files as byte buffers and scripted facts for tests, the fuzzer and
// pkgtool's simulation.
//
// Each operation states the Windows call it stands for; the core relies on
// nothing beyond what is written here.
#pragma once

#include <cstdint>

#include "package/StubTypes.h"
#include "package/Text.h"

namespace stub {

// What GetVersionExW (OSVERSIONINFOW, size 276) reported.
struct VersionFacts {
  bool ok = false;
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t platformId = 0;
};

// What GetVersionExW (OSVERSIONINFOEXW, size 284) reported.
struct ServicePackFacts {
  bool ok = false;
  uint16_t servicePackMajor = 0;
};

// What Windows tells of the machine it runs on, for the choice of setup
// program. Machines are IMAGE_FILE_MACHINE_* values.
struct MachineFacts {
  // The launcher runs under WOW64, that is on 64-bit Windows.
  bool wow64 = false;
  // The machine's own processor as IsWow64Process2 names it; 0 where Windows
  // lacks that call (before Windows 10 1511), and `wow64` alone tells.
  uint16_t nativeMachine = 0;
  // On an Arm64 machine: Windows runs x64 programs there (Windows 11 does,
  // Windows 10 does not).
  bool x64Runs = false;
};

constexpr uint16_t kMachineArm64 = 0xAA64;  // IMAGE_FILE_MACHINE_ARM64

// A started process, as the start call returned it. Opaque to the core.
using ProcessHandle = uintptr_t;

// Outcome of creating the temporary copy or its private folder.
enum class CreateResult {
  kCreated,    // created (a copy: empty and open for writing)
  kNameTaken,  // something of that name already exists and was left untouched
  kFailed,     // could not be created for any other reason
};

constexpr uint32_t kRegistryBufferSize = 128;

// Which check or step ended the launcher with an error box. Windows shows
// only the text; the tag lets the in-memory platform say which check it was
// without anyone matching texts. The first four follow FatalMessage.
enum class EndReason : uint8_t {
  kDamaged,
  kTruncated,
  kCannotCreateCopy,
  kCannotExecute,
  kExpired,
  kWrongWidth,
  kUnsupportedWindows,
  kOutOfMemory,
  kElevationDeclined,  // the cannot-execute box: the user declined the elevation prompt
};

// How the launcher's process ends: with its error box or silently, and with
// which exit code. Without deployment mode, always the box and 0.
struct Ending {
  bool showBox = true;
  uint32_t exitCode = 0;
};

// What Windows tells of the folder CreateFolder made and holds.
struct HeldFolderFacts {
  // GetFinalPathNameByHandleW on the held handle (looked up at run time):
  // the folder's path with every junction, symbolic link, mount point and
  // drive mapping resolved, in its plain form (C:\... or \\server\...), no
  // backslash at the end. `pathAsked` is false where Windows has no such call
  // (before Vista); `path` is empty when the call failed.
  bool pathAsked = false;
  Text path;
  // GetVolumeInformationByHandleW (looked up at run time): whether the
  // folder's volume keeps access lists (FILE_PERSISTENT_ACLS). `aclsAsked`
  // is false where Windows has no such call; a failed call keeps none.
  bool aclsAsked = false;
  bool keepsAcls = false;
};

// How a shell start went.
enum class StartResult {
  kStarted,
  kFailed,
  kCancelled,  // ERROR_CANCELLED: the user said no to the elevation prompt
};

class Platform {
 public:
  // --- Process ---------------------------------------------------------
  // GetCommandLineW.
  virtual Text CommandLine() = 0;
  // GetModuleFileNameW into a buffer of 261 characters.
  virtual Text ModulePath() = 0;
  // MessageBoxW(no owner, text, caption, MB_ICONERROR) unless the ending
  // says otherwise, then ExitProcess(ending.exitCode). `reason` is not shown.
  [[noreturn]] virtual void ShowErrorAndExit(const Text& text, const Text& caption,
                                             EndReason reason, Ending ending) = 0;
  // The launcher's settings resource (RT_RCDATA "LAUNCHER") in its own image:
  // FindResourceW, LoadResource, LockResource, SizeofResource. False when
  // there is none. The bytes stay valid for the process's life.
  virtual bool SettingsResource(const uint8_t*& data, uint32_t& size) = 0;
  // GetUserDefaultUILanguage, looked up at run time; 0 where it is missing.
  virtual uint16_t UserInterfaceLanguage() = 0;
  // The user's preferred display languages, best first, as LANGIDs
  // (GetUserPreferredUILanguages with MUI_LANGUAGE_ID, Vista and later,
  // looked up at run time): at most `capacity` of them into `languages`.
  // Returns how many; 0 where Windows keeps no such list or the call fails.
  virtual uint32_t UserPreferredLanguages(uint16_t* languages, uint32_t capacity) = 0;

  // --- The package file (the launcher's own file) ----------------------
  // CreateFileW(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING). False on
  // failure. Sharing reading alone, the handle denies every other process
  // writing, deleting and renaming the file while it is open, so that what
  // the digest and the checksum vouch for is what is read afterwards.
  virtual bool OpenPackageFile(const Text& path) = 0;
  // SetFilePointer to `offset` (a signed 32-bit distance from the start, as
  // the launcher has always positioned the file), then one ReadFile of
  // `count` bytes. Returns the number of bytes read; 0 on any failure.
  virtual uint32_t ReadPackageFile(uint32_t offset, void* buffer, uint32_t count) = 0;
  // GetFileSize, both words.
  virtual uint64_t PackageFileSize() = 0;
  // CloseHandle.
  virtual void ClosePackageFile() = 0;

  // --- SHA-256 of the package data ---------------------------------------
  // CryptAcquireContextW(PROV_RSA_AES, CRYPT_VERIFYCONTEXT), then
  // CryptCreateHash(CALG_SHA_256), both advapi32's and looked up at run
  // time. False where Windows cannot compute SHA-256 (before Windows XP
  // SP3, or a provider that fails).
  virtual bool DigestBegin() = 0;
  // CryptHashData of `count` bytes, after a DigestBegin that succeeded.
  virtual void DigestAdd(const void* bytes, uint32_t count) = 0;
  // CryptGetHashParam(HP_HASHVAL) into `digest`, then CryptDestroyHash and
  // CryptReleaseContext. False when any step since DigestBegin failed.
  virtual bool DigestEnd(uint8_t (&digest)[32]) = 0;

  // --- System facts ----------------------------------------------------
  // GetLocalTime.
  virtual LocalDate LocalToday() = 0;
  // IsWow64Process2 looked up at run time, for the native machine, and on
  // an Arm64 one GetMachineTypeAttributes(IMAGE_FILE_MACHINE_AMD64) for x64
  // programs (user-mode support; missing: they do not run). Without
  // IsWow64Process2, IsWow64Process alone; missing or failing: not WOW64.
  virtual MachineFacts Machine() = 0;
  virtual VersionFacts GetVersion() = 0;
  virtual ServicePackFacts GetServicePack() = 0;
  // RegOpenKeyExW(HKLM, "Software\Microsoft\Windows NT\CurrentVersion", 0,
  // KEY_READ). True on ERROR_SUCCESS.
  virtual bool OpenCurrentVersionKey() = 0;
  // RegQueryValueExW into `buffer`, size set to 128 before the call, type
  // ignored. True on ERROR_SUCCESS, with `size` the bytes stored.
  virtual bool QueryCurrentVersionValue(const char16_t* name,
                                        uint8_t (&buffer)[kRegistryBufferSize],
                                        uint32_t& size) = 0;
  // RegCloseKey.
  virtual void CloseCurrentVersionKey() = 0;

  // --- Temporary copy --------------------------------------------------
  // GetSystemWindowsDirectoryW (looked up at run time) into a buffer of 261
  // characters: the Windows folder itself, shared by every session, without
  // a backslash at the end. Empty when Windows does not give one.
  virtual Text WindowsFolder() = 0;
  // GetTempPath2W where kernel32 has it (looked up at run time; it gives
  // SYSTEM a folder of its own), else GetTempPathW; either into a zeroed
  // buffer of 256 characters. The text up to the first NUL (empty when the
  // call wrote nothing).
  virtual Text TempPath() = 0;
  // FindFirstFileW (+ FindClose): any entry, a folder included, counts.
  virtual bool FileExists(const Text& path) = 0;
  // RtlGenRandom (advapi32's SystemFunction036, looked up at run time) fills
  // `count` bytes. False when the system could not supply them.
  virtual bool RandomBytes(uint8_t* buffer, uint32_t count) = 0;
  // Creates the folder `path` and opens it in one step (what CreateDirectoryW
  // does inside: RtlDosPathNameToNtPathName_U, then NtCreateFile with
  // FILE_CREATE and FILE_DIRECTORY_FILE, both from ntdll, looked up at run
  // time), with a security descriptor made from `access`, a security
  // descriptor string (SDDL): the folder is born with its rights, never an
  // existing one is opened, and there is no moment with other rights. The
  // handle shares everything but deletion and is held until ReleaseFolder():
  // meanwhile no other process can rename, move or delete the folder, which
  // a parent folder they may write to would otherwise let them do, and put
  // a folder of their own under its name. kNameTaken when the name exists;
  // kFailed for any other failure, a descriptor that cannot be made included.
  virtual CreateResult CreateFolder(const Text& path, const char16_t* access) = 0;
  virtual void ReleaseFolder() = 0;
  // Asks Windows about the folder held since CreateFolder (nothing known
  // when none is held).
  virtual HeldFolderFacts FolderFacts() = 0;
  // Deletes the held (empty) folder through its handle (NtSetInformationFile
  // with FileDispositionInformation, from ntdll, looked up at run time), then
  // releases it. True when it is gone; the hold is released either way.
  virtual bool RemoveHeldFolder() = 0;
  // CreateCopy's twin for a copy inside the held folder: NtCreateFile with
  // the held handle as the root and `name` (no backslash) relative to it,
  // FILE_CREATE, so that no name above the folder takes part. HoldCopy then
  // reopens the copy the same way. kFailed when no folder is held.
  virtual CreateResult CreateCopyInHeldFolder(const Text& name, const char16_t* access) = 0;
  // Deletes `name` in the held folder, also through the held handle. True
  // when the file is gone.
  virtual bool RemoveFromHeldFolder(const Text& name) = 0;
  // CreateFileW(GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW): creates `path`
  // without ever replacing an existing file and keeps it open for
  // WriteCopy() until CloseCopy(). With `access` (SDDL), the file is created
  // with that descriptor; null gives it the folder's inherited rights.
  virtual CreateResult CreateCopy(const Text& path, const char16_t* access) = 0;
  // One WriteFile of `size` bytes at the end of the open copy. Returns the
  // count written; 0 when no copy is open.
  virtual uint32_t WriteCopy(const void* bytes, uint32_t size) = 0;
  // CloseHandle of the open copy, if any.
  virtual void CloseCopy() = 0;
  // Reopens the finished copy read-only, sharing read access only, so that no
  // other process can change, replace or delete it until ReleaseCopy(): by
  // `path`, or by its name in the held folder when CreateCopyInHeldFolder
  // made it. True only when the handle is open and is the very file the last
  // creation made (same volume and file index): a copy that someone holds
  // for writing, or has replaced since CloseCopy, is not held. Where the
  // file system cannot say which file it is, the hold is granted unless
  // `identityRequired`.
  virtual bool HoldCopy(const Text& path, bool identityRequired) = 0;
  // The application manifest of the program file at `path` (held by
  // HoldCopy): LoadLibraryExW as a data file and image resource, never run,
  // then its RT_MANIFEST resource 1. False when the file cannot be loaded so
  // or has no manifest. The bytes stay valid until ReleaseProgramManifest().
  virtual bool ProgramManifest(const Text& path, const uint8_t*& data, uint32_t& size) = 0;
  virtual void ReleaseProgramManifest() = 0;
  virtual void ReleaseCopy() = 0;
  // DeleteFileW. True when the file is gone.
  virtual bool RemoveFile(const Text& path) = 0;
  // Sleep: lets a moment pass (a virus scanner's hold on a new program).
  virtual void Pause(uint32_t milliseconds) = 0;
  // MoveFileExW(path, null, MOVEFILE_DELAY_UNTIL_REBOOT): Windows deletes
  // `path` at the next restart. Only an administrator may ask; the result is
  // not examined.
  virtual void RemoveAtRestart(const Text& path) = 0;

  // --- Progress while the copy is written --------------------------------
  // GetTickCount: milliseconds, wrapping.
  virtual uint32_t TickCount() = 0;
  // Shows a small progress window captioned `caption` whose bar stands at
  // done / total (made on the first call, updated on later ones), then
  // handles the messages waiting for the launcher's thread.
  virtual void ShowProgress(const Text& caption, uint32_t done, uint32_t total) = 0;
  // Destroys the progress window, if there is one.
  virtual void CloseProgress() = 0;

  // --- Launch ----------------------------------------------------------
  // WNetGetUniversalNameW(UNIVERSAL_NAME_INFO_LEVEL, 2000-byte buffer).
  // True with `universal` set on NO_ERROR.
  virtual bool UniversalName(const Text& path, Text& universal) = 0;
  // Administrators group enabled in the launcher's own token.
  virtual bool IsAdministrator() = 0;
  // The token is an administrator's filtered one (GetTokenInformation
  // TokenElevationType says TokenElevationTypeLimited): Windows raises it for
  // a program that asks for the highest rights available. False where
  // Windows cannot say.
  virtual bool IsFilteredAdministrator() = 0;
  // CreateProcessW(no application name, commandLine, ..., currentDirectory).
  virtual bool StartDirect(const Text& commandLine, const Text& currentDirectory,
                           ProcessHandle& process) = 0;
  // ShellExecuteExW(SEE_MASK_NOCLOSEPROCESS, verb, file, parameters, SW_SHOW),
  // with SEE_MASK_FLAG_NO_UI too when `noUi` (the shell then shows no error
  // box of its own). A failure whose GetLastError is ERROR_CANCELLED is
  // kCancelled.
  virtual StartResult StartShell(const Text& verb, const Text& file, const Text& parameters,
                                 bool noUi, ProcessHandle& process) = 0;
  // WaitForSingleObject(INFINITE), GetExitCodeProcess, then CloseHandle.
  // Returns the process's exit code; 0 when there is no process (the shell
  // handed the file to a program already running) or the code cannot be had.
  virtual uint32_t WaitAndClose(ProcessHandle process) = 0;

 protected:
  ~Platform() = default;
};

}  // namespace stub
