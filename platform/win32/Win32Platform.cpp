#include "platform/win32/Win32Platform.h"

#include <windows.h>
#include <shellapi.h>
#include <sddl.h>
#include <wincrypt.h>
#include <winternl.h>
#include <winnetwk.h>

#include "package/LauncherSettings.h"
#include "platform/win32/EntryPoint.h"

namespace stub {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is cast, not converted");
#if defined(__i386__)
// The sizes a 32-bit process hands to Windows.
static_assert(sizeof(STARTUPINFOW) == 68);
static_assert(sizeof(SHELLEXECUTEINFOW) == 60);
#endif

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.Data()); }
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
const char16_t* Utf16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

// CreateFileW reports failure as INVALID_HANDLE_VALUE; the members keep null
// for "none" so that a default-constructed platform holds nothing.
void* Held(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }

using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
using GetMachineTypeAttributesFn = HRESULT(WINAPI*)(USHORT, int*);
using GetUniversalNameFn = DWORD(WINAPI*)(LPCWSTR, DWORD, LPVOID, LPDWORD);
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
using RtlGenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
using StringToDescriptorFn = BOOL(WINAPI*)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
using MoveFileExFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
using GetUserDefaultUILanguageFn = LANGID(WINAPI*)();
using CryptAcquireContextFn = BOOL(WINAPI*)(HCRYPTPROV*, LPCWSTR, LPCWSTR, DWORD, DWORD);
using CryptCreateHashFn = BOOL(WINAPI*)(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*);
using CryptHashDataFn = BOOL(WINAPI*)(HCRYPTHASH, const BYTE*, DWORD, DWORD);
using CryptGetHashParamFn = BOOL(WINAPI*)(HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD);
using CryptDestroyHashFn = BOOL(WINAPI*)(HCRYPTHASH);
using CryptReleaseContextFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD);
using GetUserPreferredUILanguagesFn = BOOL(WINAPI*)(DWORD, PULONG, PWSTR, PULONG);
constexpr DWORD kMuiLanguageId = 0x4;  // MUI_LANGUAGE_ID: "0409", not "en-US"
using DosPathToNtPathFn = BOOLEAN(NTAPI*)(PCWSTR, UNICODE_STRING*, PWSTR*, void*);
using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtSetInformationFileFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using GetFinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
using GetVolumeInformationByHandleFn = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD,
                                                     LPDWORD, LPWSTR, DWORD);
using GetWindowsFolderFn = UINT(WINAPI*)(LPWSTR, UINT);

constexpr NTSTATUS kStatusObjectNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr ULONG kFileOpen = 1;                           // FILE_OPEN
constexpr ULONG kFileCreate = 2;                         // FILE_CREATE
constexpr ULONG kFileNonDirectoryFile = 0x40;            // FILE_NON_DIRECTORY_FILE
constexpr ULONG kFileDispositionInformation = 13;        // FILE_INFORMATION_CLASS
constexpr ULONG kFileDirectoryFile = 0x1;                // FILE_DIRECTORY_FILE
constexpr ULONG kFileSynchronousIoNonalert = 0x20;       // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kFileOpenForBackupIntent = 0x4000;       // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kObjCaseInsensitive = 0x40;              // OBJ_CASE_INSENSITIVE

// Entry points of DLLs the stub imports anyway (so already loaded), looked
// up where older Windows versions lack them.
template <typename Fn>
Fn Kernel32Entry(const char* name) {
  return FindEntryPoint<Fn>(GetModuleHandleW(L"kernel32.dll"), name);
}
template <typename Fn>
Fn Advapi32Entry(const char* name) {
  return FindEntryPoint<Fn>(GetModuleHandleW(L"advapi32.dll"), name);
}

// A security descriptor made from SDDL text, for the one creation it serves.
// Holds none when there is no text, and fails (Made() false) when the text
// cannot be turned into one: then nothing is created, rather than something
// with the folder's ordinary rights.
class CreationSecurity {
 public:
  explicit CreationSecurity(const char16_t* access) {
    ZeroMemory(&attributes_, sizeof(attributes_));
    attributes_.nLength = sizeof(attributes_);
    if (!access) return;
    const auto toDescriptor = Advapi32Entry<StringToDescriptorFn>(
        "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (!toDescriptor ||
        !toDescriptor(reinterpret_cast<const wchar_t*>(access), SDDL_REVISION_1, &descriptor_,
                      nullptr)) {
      failed_ = true;
      return;
    }
    attributes_.lpSecurityDescriptor = descriptor_;
  }
  ~CreationSecurity() {
    if (descriptor_) LocalFree(descriptor_);
  }
  CreationSecurity(const CreationSecurity&) = delete;
  CreationSecurity& operator=(const CreationSecurity&) = delete;

  bool Made() const { return !failed_; }
  // Null for the folder's ordinary rights.
  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }
  PSECURITY_DESCRIPTOR Descriptor() const { return descriptor_; }

 private:
  SECURITY_ATTRIBUTES attributes_;
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  bool failed_ = false;
};

CreateResult CreationFailure() {
  const DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateResult::kNameTaken
                                                                    : CreateResult::kFailed;
}

template <typename Fn>
Fn NtdllEntry(const char* name) {
  return FindEntryPoint<Fn>(GetModuleHandleW(L"ntdll.dll"), name);
}

// NtCreateFile of `name` relative to the open folder `root` (no path above
// it takes part), or of an NT path when `root` is null.
NTSTATUS CreateRelative(HANDLE root, UNICODE_STRING* name, ACCESS_MASK access,
                        PSECURITY_DESCRIPTOR descriptor, ULONG share, ULONG disposition,
                        ULONG options, HANDLE& handle) {
  const auto createFile = NtdllEntry<NtCreateFileFn>("NtCreateFile");
  if (!createFile) return static_cast<NTSTATUS>(0xC0000001);  // STATUS_UNSUCCESSFUL
  OBJECT_ATTRIBUTES object;
  ZeroMemory(&object, sizeof(object));
  object.Length = sizeof(object);
  object.RootDirectory = root;
  object.ObjectName = name;
  object.Attributes = kObjCaseInsensitive;
  object.SecurityDescriptor = descriptor;
  IO_STATUS_BLOCK io;
  ZeroMemory(&io, sizeof(io));
  handle = nullptr;
  return createFile(&handle, access, &object, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                    disposition, options | kFileSynchronousIoNonalert, nullptr, 0);
}

// A counted name for NtCreateFile that points into `text`.
UNICODE_STRING CountedName(const Text& text) {
  UNICODE_STRING name;
  name.Length = static_cast<USHORT>(text.Length() * sizeof(wchar_t));
  name.MaximumLength = name.Length;
  name.Buffer = const_cast<wchar_t*>(Wide(text));
  return name;
}

// Marks the file or folder open as `handle` for deletion; it goes when the
// last handle closes. True when Windows accepted.
bool MarkForDeletion(HANDLE handle) {
  const auto setInformation = NtdllEntry<NtSetInformationFileFn>("NtSetInformationFile");
  if (!setInformation) return false;
  IO_STATUS_BLOCK io;
  ZeroMemory(&io, sizeof(io));
  BOOLEAN deleteFile = TRUE;
  return setInformation(handle, &io, &deleteFile, sizeof(deleteFile), kFileDispositionInformation) >= 0;
}

// Volume and file index: which file a handle is open on, whatever its name.
bool FileIdentity(HANDLE file, FileId& id) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return false;
  id.volume = information.dwVolumeSerialNumber;
  id.indexHigh = information.nFileIndexHigh;
  id.indexLow = information.nFileIndexLow;
  return true;
}

constexpr DWORD kUniversalNameBufferSize = 2000;
constexpr DWORD kTempPathChars = 256;
constexpr DWORD kModulePathChars = 261;

void DestroyProgressWindow();

}  // namespace

// --- Process -----------------------------------------------------------------

Text Win32Platform::CommandLine() { return Text(Utf16(GetCommandLineW())); }

Text Win32Platform::ModulePath() {
  // One spare, zeroed unit: a path that fills the buffer is not terminated
  // on every Windows version.
  wchar_t path[kModulePathChars + 1] = {};
  GetModuleFileNameW(nullptr, path, kModulePathChars);
  return Text(Utf16(path));
}

void Win32Platform::ShowErrorAndExit(const Text& text, const Text& caption, EndReason,
                                     Ending ending) {
  ShowBoxAndExit(text.Data(), caption.Data(), ending);
}

void Win32Platform::ShowBoxAndExit(const char16_t* text, const char16_t* caption, Ending ending) {
  // Never a box beside a bar that has stopped moving.
  DestroyProgressWindow();
  if (ending.showBox) MessageBoxW(nullptr, Wide(text), Wide(caption), MB_ICONERROR);
  ExitProcess(ending.exitCode);
}

bool Win32Platform::SettingsResource(const uint8_t*& data, uint32_t& size) {
  const HMODULE self = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(self, Wide(kSettingsResourceName), MAKEINTRESOURCEW(10));
  if (!found) return false;
  const HGLOBAL loaded = LoadResource(self, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  // A resource that is there but cannot be had is a damaged one, not a
  // missing one: it comes back empty and fails its check.
  data = static_cast<const uint8_t*>(bytes);
  size = bytes ? SizeofResource(self, found) : 0;
  return true;
}

uint16_t Win32Platform::UserInterfaceLanguage() {
  const auto getLanguage = Kernel32Entry<GetUserDefaultUILanguageFn>("GetUserDefaultUILanguage");
  return getLanguage ? getLanguage() : 0;
}

uint32_t Win32Platform::UserPreferredLanguages(uint16_t* languages, uint32_t capacity) {
  const auto getLanguages =
      Kernel32Entry<GetUserPreferredUILanguagesFn>("GetUserPreferredUILanguages");
  if (!getLanguages) return 0;
  // Room for 25 languages, more than anyone sets; a longer list fails the
  // call and the user keeps the display language alone.
  wchar_t buffer[128];
  ULONG count = 0;
  ULONG length = 128;
  if (!getLanguages(kMuiLanguageId, &count, buffer, &length) || length > 128) return 0;
  return ParseLanguageIdList(reinterpret_cast<const char16_t*>(buffer), length, languages, capacity);
}

// --- The package file --------------------------------------------------------

bool Win32Platform::OpenPackageFile(const Text& path) {
  ClosePackageFile();
  packageFile_ = Held(CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  return packageFile_ != nullptr;
}

uint32_t Win32Platform::ReadPackageFile(uint32_t offset, void* buffer, uint32_t count) {
  if (!packageFile_) return 0;
  // A signed 32-bit distance: offsets of 2 GiB and more fail here rather
  // than read from wherever the file pointer happened to be.
  const DWORD moved =
      SetFilePointer(AsHandle(packageFile_), static_cast<LONG>(offset), nullptr, FILE_BEGIN);
  if (moved == INVALID_SET_FILE_POINTER) return 0;
  DWORD read = 0;
  ReadFile(AsHandle(packageFile_), buffer, count, &read, nullptr);
  return read;
}

uint64_t Win32Platform::PackageFileSize() {
  DWORD high = 0;
  const DWORD low = GetFileSize(AsHandle(packageFile_), &high);
  return (static_cast<uint64_t>(high) << 32) | low;
}

void Win32Platform::ClosePackageFile() {
  if (packageFile_) CloseHandle(AsHandle(packageFile_));
  packageFile_ = nullptr;
}

// --- SHA-256 of the package data -----------------------------------------------

bool Win32Platform::DigestBegin() {
  // Looked up rather than imported: Windows versions without CryptoAPI then
  // still start the launcher, which goes on without the digest.
  const auto acquire = Advapi32Entry<CryptAcquireContextFn>("CryptAcquireContextW");
  const auto create = Advapi32Entry<CryptCreateHashFn>("CryptCreateHash");
  hashData_ = Advapi32Entry<RawProc>("CryptHashData");
  getHashParam_ = Advapi32Entry<RawProc>("CryptGetHashParam");
  HCRYPTPROV provider = 0;
  if (!acquire || !create || !hashData_ || !getHashParam_ ||
      !acquire(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  HCRYPTHASH hash = 0;
  digestProvider_ = provider;
  digestFailed_ = false;
  if (!create(provider, CALG_SHA_256, 0, 0, &hash)) {
    // Windows XP before SP3 has the provider but not the algorithm.
    uint8_t unused[32];
    DigestEnd(unused);
    return false;
  }
  digestHash_ = hash;
  return true;
}

void Win32Platform::DigestAdd(const void* bytes, uint32_t count) {
  if (!digestHash_ || digestFailed_) return;
  if (!reinterpret_cast<CryptHashDataFn>(hashData_)(digestHash_, static_cast<const BYTE*>(bytes),
                                                    count, 0)) {
    digestFailed_ = true;
  }
}

bool Win32Platform::DigestEnd(uint8_t (&digest)[32]) {
  DWORD size = sizeof digest;
  const bool done = digestHash_ && !digestFailed_ &&
                    reinterpret_cast<CryptGetHashParamFn>(getHashParam_)(digestHash_, HP_HASHVAL,
                                                                         digest, &size, 0) &&
                    size == sizeof digest;
  if (digestHash_) {
    if (const auto destroy = Advapi32Entry<CryptDestroyHashFn>("CryptDestroyHash")) destroy(digestHash_);
  }
  if (digestProvider_) {
    if (const auto release = Advapi32Entry<CryptReleaseContextFn>("CryptReleaseContext")) {
      release(digestProvider_, 0);
    }
  }
  digestHash_ = 0;
  digestProvider_ = 0;
  return done;
}

// --- System facts ------------------------------------------------------------

LocalDate Win32Platform::LocalToday() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalDate{now.wYear, now.wMonth, now.wDay};
}

MachineFacts Win32Platform::Machine() {
  MachineFacts facts;
  // IsWow64Process alone cannot tell an Arm64 machine, and what it answers
  // there for an x86 process has differed between Windows' own accounts.
  const auto isWow64Process2 = Kernel32Entry<IsWow64Process2Fn>("IsWow64Process2");
  USHORT process = IMAGE_FILE_MACHINE_UNKNOWN, native = IMAGE_FILE_MACHINE_UNKNOWN;
  if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native)) {
    facts.wow64 = process != IMAGE_FILE_MACHINE_UNKNOWN;
    facts.nativeMachine = native;
    if (native == kMachineArm64) {
      // Windows 10 on Arm emulates x86 only; Windows 11 says so here.
      const auto attributes = Kernel32Entry<GetMachineTypeAttributesFn>("GetMachineTypeAttributes");
      int machineAttributes = 0;
      facts.x64Runs = attributes &&
                      SUCCEEDED(attributes(IMAGE_FILE_MACHINE_AMD64, &machineAttributes)) &&
                      (machineAttributes & 1) != 0;  // UserEnabled
    }
    return facts;
  }
  const auto isWow64Process =
      FindEntryPoint<IsWow64ProcessFn>(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process");
  BOOL wow64 = FALSE;
  facts.wow64 = isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64 != FALSE;
  return facts;
}

VersionFacts Win32Platform::GetVersion() {
  static_assert(sizeof(OSVERSIONINFOW) == 276, "the size Windows expects");
  OSVERSIONINFOW info;
  ZeroMemory(&info, sizeof(info));
  info.dwOSVersionInfoSize = sizeof(info);
  VersionFacts facts;
  facts.ok = GetVersionExW(&info) != FALSE;
  if (facts.ok) {
    facts.major = info.dwMajorVersion;
    facts.minor = info.dwMinorVersion;
    facts.platformId = info.dwPlatformId;
  }
  return facts;
}

ServicePackFacts Win32Platform::GetServicePack() {
  static_assert(sizeof(OSVERSIONINFOEXW) == 284, "the size Windows expects");
  OSVERSIONINFOEXW info;
  ZeroMemory(&info, sizeof(info));
  info.dwOSVersionInfoSize = sizeof(info);
  ServicePackFacts facts;
  facts.ok = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
  if (facts.ok) facts.servicePackMajor = info.wServicePackMajor;
  return facts;
}

bool Win32Platform::OpenCurrentVersionKey() {
  CloseCurrentVersionKey();
  // No registry-view flag: a 32-bit launcher sees what 32-bit programs see.
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", 0,
                    KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  currentVersionKey_ = key;
  return true;
}

bool Win32Platform::QueryCurrentVersionValue(const char16_t* name,
                                             uint8_t (&buffer)[kRegistryBufferSize],
                                             uint32_t& size) {
  if (!currentVersionKey_) return false;
  DWORD type = 0;
  DWORD stored = kRegistryBufferSize;
  if (RegQueryValueExW(static_cast<HKEY>(currentVersionKey_), Wide(name), nullptr, &type, buffer,
                       &stored) != ERROR_SUCCESS) {
    return false;
  }
  size = stored <= kRegistryBufferSize ? stored : kRegistryBufferSize;
  return true;
}

void Win32Platform::CloseCurrentVersionKey() {
  if (currentVersionKey_) RegCloseKey(static_cast<HKEY>(currentVersionKey_));
  currentVersionKey_ = nullptr;
}

// --- Temporary copy ----------------------------------------------------------

Text Win32Platform::TempPath() {
  // One unit more than Windows is told about, so the text always ends in a
  // NUL even if the call filled every unit it was given.
  wchar_t path[kTempPathChars + 1] = {};
  // Where it exists it gives SYSTEM its own protected folder instead of the
  // one every user may write to; for anyone else the same folder as before.
  const auto getTempPath2 = Kernel32Entry<GetTempPath2Fn>("GetTempPath2W");
  if (getTempPath2) {
    getTempPath2(kTempPathChars, path);
  } else {
    GetTempPathW(kTempPathChars, path);
  }
  return Text(Utf16(path));
}

bool Win32Platform::FileExists(const Text& path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(Wide(path), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool Win32Platform::RandomBytes(uint8_t* buffer, uint32_t count) {
  // Exported by name as SystemFunction036 since Windows XP.
  const auto genRandom = Advapi32Entry<RtlGenRandomFn>("SystemFunction036");
  return genRandom && genRandom(buffer, count);
}

CreateResult Win32Platform::CreateFolder(const Text& path, const char16_t* access) {
  ReleaseFolder();
  CreationSecurity security(access);
  if (!security.Made()) return CreateResult::kFailed;
  // CreateDirectoryW would close its handle at once, leaving the new folder
  // free to be renamed by anyone who may delete in its parent. These are
  // the two calls it makes inside, with the handle kept (and the right to
  // delete through it, so that no path is needed to remove it).
  const auto toNtPath = NtdllEntry<DosPathToNtPathFn>("RtlDosPathNameToNtPathName_U");
  UNICODE_STRING name;
  ZeroMemory(&name, sizeof(name));
  if (!toNtPath || !toNtPath(Wide(path), &name, nullptr, nullptr)) return CreateResult::kFailed;
  HANDLE folder = nullptr;
  const NTSTATUS status =
      CreateRelative(nullptr, &name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | DELETE | SYNCHRONIZE,
                     security.Descriptor(), FILE_SHARE_READ | FILE_SHARE_WRITE, kFileCreate,
                     kFileDirectoryFile | kFileOpenForBackupIntent, folder);
  // The NT path lives on the process heap, as ntdll's own callers free it.
  HeapFree(GetProcessHeap(), 0, name.Buffer);
  if (status >= 0) {
    heldFolder_ = folder;
    return CreateResult::kCreated;
  }
  return status == kStatusObjectNameCollision ? CreateResult::kNameTaken : CreateResult::kFailed;
}

void Win32Platform::ReleaseFolder() {
  if (heldFolder_) CloseHandle(AsHandle(heldFolder_));
  heldFolder_ = nullptr;
}

CreateResult Win32Platform::CreateCopy(const Text& path, const char16_t* access) {
  CloseCopy();
  copyId_ = FileId{};
  copyInFolder_ = false;
  CreationSecurity security(access);
  if (!security.Made()) return CreateResult::kFailed;
  // CREATE_NEW: a file that appeared under this name since the probe is
  // never replaced; the caller picks another name instead.
  const HANDLE file = CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ, security.Attributes(),
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return CreationFailure();
  copyFile_ = file;
  copyId_.known = FileIdentity(file, copyId_);
  return CreateResult::kCreated;
}

uint32_t Win32Platform::WriteCopy(const void* bytes, uint32_t size) {
  if (!copyFile_) return 0;
  DWORD stored = 0;
  WriteFile(AsHandle(copyFile_), bytes, size, &stored, nullptr);
  return stored;
}

void Win32Platform::CloseCopy() {
  if (copyFile_) CloseHandle(AsHandle(copyFile_));
  copyFile_ = nullptr;
}

bool Win32Platform::HoldCopy(const Text& path, bool identityRequired) {
  ReleaseCopy();
  // The write handle had to go first: Windows starts no image that anyone
  // holds open for writing. Between the two, the name is all that links
  // them, so the file found under it must be the one that was written.
  if (copyInFolder_) {
    UNICODE_STRING name = CountedName(copyName_);
    HANDLE file = nullptr;
    if (heldFolder_ &&
        CreateRelative(AsHandle(heldFolder_), &name, GENERIC_READ | SYNCHRONIZE, nullptr,
                       FILE_SHARE_READ, kFileOpen, kFileNonDirectoryFile, file) >= 0) {
      heldCopy_ = file;
    }
  } else {
    heldCopy_ = Held(CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  if (!heldCopy_) return false;
  FileId held;
  // A file system that keeps no file index (where the query fails) still
  // gets the hold, as it always has, unless the caller must be sure.
  const bool known = copyId_.known && FileIdentity(AsHandle(heldCopy_), held);
  if (known ? (held.volume != copyId_.volume || held.indexHigh != copyId_.indexHigh ||
               held.indexLow != copyId_.indexLow)
            : identityRequired) {
    ReleaseCopy();
    return false;
  }
  return true;
}

void Win32Platform::ReleaseCopy() {
  if (heldCopy_) CloseHandle(AsHandle(heldCopy_));
  heldCopy_ = nullptr;
}

bool Win32Platform::RemoveFile(const Text& path) { return DeleteFileW(Wide(path)) != FALSE; }

Text Win32Platform::WindowsFolder() {
  wchar_t path[kModulePathChars + 1] = {};
  // The shared Windows folder; GetWindowsDirectoryW gives a per-user one on
  // a terminal server. Every Windows whose token can answer "administrator"
  // (2000 and later: CheckTokenMembership) has it.
  const auto getFolder = Kernel32Entry<GetWindowsFolderFn>("GetSystemWindowsDirectoryW");
  const UINT length = getFolder ? getFolder(path, kModulePathChars) : 0;
  if (length == 0 || length >= kModulePathChars) return Text();
  Text folder(Utf16(path), length);
  if (folder.Last() == u'\\') folder.Truncate(folder.Length() - 1);
  return folder;
}

HeldFolderFacts Win32Platform::FolderFacts() {
  HeldFolderFacts facts;
  if (!heldFolder_) return facts;
  const HANDLE folder = AsHandle(heldFolder_);
  const auto getFinalPath = Kernel32Entry<GetFinalPathFn>("GetFinalPathNameByHandleW");
  if (getFinalPath) {
    facts.pathAsked = true;
    // Far more than a path the launcher can start from needs; a longer one
    // stays unknown and nothing is made there.
    constexpr DWORD kChars = 1024;
    wchar_t path[kChars + 1] = {};
    const DWORD length = getFinalPath(folder, path, kChars, 0 /* FILE_NAME_NORMALIZED, DOS */);
    if (length > 0 && length < kChars) {
      const char16_t* p = Utf16(path);
      size_t n = length;
      // \\?\C:\... and \\?\UNC\server\... back to the forms programs expect.
      if (n >= 8 && p[0] == u'\\' && p[1] == u'\\' && p[2] == u'?' && p[3] == u'\\' &&
          p[4] == u'U' && p[5] == u'N' && p[6] == u'C' && p[7] == u'\\') {
        facts.path = Text(u"\\");
        facts.path.Append(p + 7, n - 7);
      } else if (n >= 6 && p[0] == u'\\' && p[1] == u'\\' && p[2] == u'?' && p[3] == u'\\' &&
                 p[5] == u':') {
        facts.path = Text(p + 4, n - 4);
      } else {
        facts.path = Text(p, n);
      }
      if (facts.path.Last() == u'\\') facts.path.Truncate(facts.path.Length() - 1);
    }
  }
  const auto getVolume =
      Kernel32Entry<GetVolumeInformationByHandleFn>("GetVolumeInformationByHandleW");
  if (getVolume) {
    facts.aclsAsked = true;
    DWORD flags = 0;
    facts.keepsAcls = getVolume(folder, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
                      (flags & FILE_PERSISTENT_ACLS) != 0;
  }
  return facts;
}

bool Win32Platform::RemoveHeldFolder() {
  if (!heldFolder_) return false;
  const bool marked = MarkForDeletion(AsHandle(heldFolder_));
  ReleaseFolder();
  return marked;
}

CreateResult Win32Platform::CreateCopyInHeldFolder(const Text& name, const char16_t* access) {
  CloseCopy();
  copyId_ = FileId{};
  copyInFolder_ = true;
  copyName_ = name;
  if (!heldFolder_) return CreateResult::kFailed;
  CreationSecurity security(access);
  if (!security.Made()) return CreateResult::kFailed;
  UNICODE_STRING counted = CountedName(copyName_);
  HANDLE file = nullptr;
  const NTSTATUS status =
      CreateRelative(AsHandle(heldFolder_), &counted, GENERIC_WRITE | SYNCHRONIZE,
                     security.Descriptor(), FILE_SHARE_READ, kFileCreate, kFileNonDirectoryFile,
                     file);
  if (status < 0) {
    return status == kStatusObjectNameCollision ? CreateResult::kNameTaken : CreateResult::kFailed;
  }
  copyFile_ = file;
  copyId_.known = FileIdentity(file, copyId_);
  return CreateResult::kCreated;
}

bool Win32Platform::RemoveFromHeldFolder(const Text& name) {
  if (!heldFolder_) return false;
  UNICODE_STRING counted = CountedName(name);
  HANDLE file = nullptr;
  if (CreateRelative(AsHandle(heldFolder_), &counted, DELETE | SYNCHRONIZE, nullptr,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen,
                     kFileNonDirectoryFile, file) < 0) {
    return false;
  }
  // A program still running from the file refuses here.
  const bool marked = MarkForDeletion(file);
  CloseHandle(file);
  return marked;
}

bool Win32Platform::ProgramManifest(const Text& path, const uint8_t*& data, uint32_t& size) {
  ReleaseProgramManifest();
  // Mapped as data, never as code: nothing of the program runs, and none of
  // the DLLs it names is loaded.
  constexpr DWORD kAsImageResource = 0x20;  // LOAD_LIBRARY_AS_IMAGE_RESOURCE
  const HMODULE program =
      LoadLibraryExW(Wide(path), nullptr, LOAD_LIBRARY_AS_DATAFILE | kAsImageResource);
  if (!program) return false;
  manifestModule_ = program;
  const HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  const HGLOBAL loaded = found ? LoadResource(program, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) {
    ReleaseProgramManifest();
    return false;
  }
  data = static_cast<const uint8_t*>(bytes);
  size = SizeofResource(program, found);
  return true;
}

void Win32Platform::ReleaseProgramManifest() {
  if (manifestModule_) FreeLibrary(static_cast<HMODULE>(manifestModule_));
  manifestModule_ = nullptr;
}

void Win32Platform::Pause(uint32_t milliseconds) { Sleep(milliseconds); }

void Win32Platform::RemoveAtRestart(const Text& path) {
  const auto moveFileEx = Kernel32Entry<MoveFileExFn>("MoveFileExW");
  if (moveFileEx) moveFileEx(Wide(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// --- Progress ----------------------------------------------------------------
//
// A plain window of our own drawing: a caption and a sunken bar, painted with
// user32 alone, so that no common-controls library is loaded for it. The
// launcher's one thread pumps its messages between pieces of the copy.

namespace {

constexpr wchar_t kProgressClass[] = L"StubUnpackProgress";
HWND g_progressWindow = nullptr;
bool g_progressTried = false;  // made once: where no window can be made, none is tried again
uint32_t g_progressPermille = 0;

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window, &paint);
      RECT bar;
      GetClientRect(window, &bar);
      const int margin = GetSystemMetrics(SM_CYCAPTION) / 2 + 4;
      InflateRect(&bar, -margin, -margin);
      DrawEdge(dc, &bar, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
      RECT filled = bar;
      filled.right = bar.left + static_cast<LONG>((bar.right - bar.left) * g_progressPermille / 1000);
      FillRect(dc, &filled, GetSysColorBrush(COLOR_HIGHLIGHT));
      RECT rest = bar;
      rest.left = filled.right;
      FillRect(dc, &rest, GetSysColorBrush(COLOR_WINDOW));
      EndPaint(window, &paint);
      return 0;
    }
    case WM_CLOSE:
      return 0;  // unpacking cannot be abandoned half-way; the window goes when it is done
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void DestroyProgressWindow() {
  if (g_progressWindow) DestroyWindow(g_progressWindow);
  g_progressWindow = nullptr;
}

}  // namespace

uint32_t Win32Platform::TickCount() { return GetTickCount(); }

void Win32Platform::ShowProgress(const Text& caption, uint32_t done, uint32_t total) {
  // 32-bit arithmetic only: a 64-bit division becomes a libgcc call that
  // crashes the linker (binutils 2.40) when it appears this late under LTO.
  uint32_t permille = total == 0 ? 1000 : total < 1000 ? done * 1000 / total : done / (total / 1000);
  if (permille > 1000) permille = 1000;
  if (!g_progressTried) {
    g_progressTried = true;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = &ProgressProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_WAIT);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kProgressClass;
    RegisterClassW(&windowClass);  // a second registration fails harmlessly
    // Sized from the caption height, which follows the display's scaling.
    const int unit = GetSystemMetrics(SM_CYCAPTION);
    const int width = unit * 20;
    const int height = unit * 4;
    g_progressWindow = CreateWindowExW(
        0, kProgressClass, Wide(caption), WS_POPUP | WS_CAPTION | WS_VISIBLE,
        (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
        width, height, nullptr, nullptr, instance, nullptr);
    g_progressPermille = permille;
  } else if (g_progressWindow && permille != g_progressPermille) {
    g_progressPermille = permille;
    InvalidateRect(g_progressWindow, nullptr, FALSE);
  }
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

void Win32Platform::CloseProgress() { DestroyProgressWindow(); }

// --- Launch ------------------------------------------------------------------

bool Win32Platform::UniversalName(const Text& path, Text& universal) {
  if (!universalNameLookedUp_) {
    universalNameLookedUp_ = true;
    // mpr.dll is loaded from the system folder by full path only: a copy of
    // it planted next to the package (a downloads folder) must never load.
    wchar_t library[MAX_PATH + 16] = {};
    const UINT folderLength = GetSystemDirectoryW(library, MAX_PATH);
    static const wchar_t kName[] = L"\\mpr.dll";
    if (folderLength > 0 && folderLength < MAX_PATH) {
      for (UINT i = 0; i < sizeof(kName) / sizeof(kName[0]); ++i) library[folderLength + i] = kName[i];
      // The search flags exist where SetDefaultDllDirectories does; older
      // systems reject them, and the full path already fixes the file.
      const bool searchFlags = FindEntryPoint<SetDefaultDllDirectoriesFn>(
                                   GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories") != nullptr;
      const HMODULE mpr =
          LoadLibraryExW(library, nullptr, searchFlags ? LOAD_LIBRARY_SEARCH_SYSTEM32 : 0);
      getUniversalName_ =
          reinterpret_cast<RawProc>(FindEntryPoint<GetUniversalNameFn>(mpr, "WNetGetUniversalNameW"));
    }
  }
  if (!getUniversalName_) return false;

  union {
    UNIVERSAL_NAME_INFOW info;
    uint8_t bytes[kUniversalNameBufferSize];
  } buffer;
  ZeroMemory(&buffer, sizeof(buffer));
  DWORD size = kUniversalNameBufferSize;
  const auto getUniversalName = reinterpret_cast<GetUniversalNameFn>(getUniversalName_);
  if (getUniversalName(Wide(path), UNIVERSAL_NAME_INFO_LEVEL, &buffer, &size) != NO_ERROR) return false;

  // The name must lie inside the buffer and end there; anything else is not
  // trusted as a path.
  const auto* begin = reinterpret_cast<const uint8_t*>(buffer.info.lpUniversalName);
  const uint8_t* const end = buffer.bytes + sizeof(buffer.bytes);
  if (begin < buffer.bytes || begin >= end) return false;
  const auto* name = reinterpret_cast<const char16_t*>(begin);
  const size_t room = static_cast<size_t>(end - begin) / sizeof(char16_t);
  for (size_t length = 0; length < room; ++length) {
    if (name[length] == 0) {
      universal = Text(name, length);
      return true;
    }
  }
  return false;
}

bool Win32Platform::IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    return false;
  }
  if (!membershipLookedUp_) {
    membershipLookedUp_ = true;
    checkTokenMembership_ = reinterpret_cast<RawProc>(FindEntryPoint<CheckTokenMembershipFn>(
        GetModuleHandleW(L"advapi32.dll"), "CheckTokenMembership"));
  }
  bool member = false;
  if (checkTokenMembership_) {
    const auto check = reinterpret_cast<CheckTokenMembershipFn>(checkTokenMembership_);
    BOOL enabled = FALSE;
    member = check(nullptr, administrators, &enabled) && enabled;
  }
  FreeSid(administrators);
  return member;
}

bool Win32Platform::IsFilteredAdministrator() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  // Before Vista the information class does not exist and the call fails.
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD returned = 0;
  const bool limited = GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &returned) &&
                       type == TokenElevationTypeLimited;
  CloseHandle(token);
  return limited;
}

bool Win32Platform::StartDirect(const Text& commandLine, const Text& currentDirectory,
                                ProcessHandle& process) {
  // CreateProcessW may write into the command line.
  Text writable = commandLine;
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started;
  ZeroMemory(&started, sizeof(started));
  if (!CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(writable.MutableData()), nullptr, nullptr,
                      FALSE, 0, nullptr,
                      currentDirectory.Empty() ? nullptr : Wide(currentDirectory), &startup,
                      &started)) {
    return false;
  }
  CloseHandle(started.hThread);
  process = reinterpret_cast<ProcessHandle>(started.hProcess);
  return true;
}

StartResult Win32Platform::StartShell(const Text& verb, const Text& file, const Text& parameters,
                                      bool noUi, ProcessHandle& process) {
  SHELLEXECUTEINFOW execute;
  ZeroMemory(&execute, sizeof(execute));
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | (noUi ? SEE_MASK_FLAG_NO_UI : 0);
  execute.lpVerb = Wide(verb);
  execute.lpFile = Wide(file);
  execute.lpParameters = Wide(parameters);
  execute.nShow = SW_SHOW;
  if (!ShellExecuteExW(&execute)) {
    return GetLastError() == ERROR_CANCELLED ? StartResult::kCancelled : StartResult::kFailed;
  }
  process = reinterpret_cast<ProcessHandle>(execute.hProcess);
  return StartResult::kStarted;
}

uint32_t Win32Platform::WaitAndClose(ProcessHandle process) {
  // The shell may succeed without a process to hand back (the file was
  // passed to a running program); then there is nothing to wait for.
  if (!process) return 0;
  const HANDLE handle = reinterpret_cast<HANDLE>(process);
  WaitForSingleObject(handle, INFINITE);
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(handle, &exitCode)) exitCode = 0;
  CloseHandle(handle);
  return exitCode;
}

}  // namespace stub
