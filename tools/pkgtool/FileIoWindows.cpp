// The system half of FileIo.h for Windows. Paths arrive as UTF-8 and reach
// the API as UTF-16 (the W functions only); a path too long for the classic
// limit of 260 characters goes in its full \\?\ form, which has no such limit.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "platform/memory/Utf8.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {

namespace {

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = stub::FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Narrow(const std::wstring& wide) {
  return stub::ToUtf8(std::u16string(wide.begin(), wide.end()));
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// A \\?\ path with every "/" made a backslash and its "." and ".."
// resolved, never above its root (X:\ or UNC\server\share\).
// std::filesystem cannot do it here: it does not know \\?\ as a root.
std::wstring Normal(const std::wstring& path) {
  std::wstring rest = path.substr(4);
  std::replace(rest.begin(), rest.end(), L'/', L'\\');
  size_t root = 0;
  const int head = static_cast<int>(std::min<size_t>(4, rest.size()));
  const int separators =
      ::CompareStringOrdinal(rest.c_str(), head, L"UNC\\", 4, TRUE) == CSTR_EQUAL ? 3 : 1;
  for (int i = 0; i < separators && root != std::wstring::npos; ++i) {
    root = rest.find(L'\\', root);
    if (root != std::wstring::npos) ++root;
  }
  if (root == std::wstring::npos) return path;
  std::vector<std::wstring> parts;
  for (size_t start = root; start <= rest.size();) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    const std::wstring part = rest.substr(start, end - start);
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::wstring normal = L"\\\\?\\" + rest.substr(0, root);
  for (size_t i = 0; i < parts.size(); ++i) normal += (i == 0 ? L"" : L"\\") + parts[i];
  return normal;
}

// The path as the API takes it: as given while its full form is short
// enough, else the full form with \\?\ (or \\?\UNC\ for \\server\share\...).
std::wstring ApiPath(const std::string& path) {
  std::wstring given = Wide(path);
  // Windows takes a \\?\ path as it is, resolving no "." or ".." and no
  // "/": pkgtool's own joins (a recipe's folder and a relative path in it)
  // need both.
  if (StartsWith(given, L"\\\\?\\")) return Normal(given);
  if (StartsWith(given, L"\\\\.\\")) return given;
  const DWORD needed = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  // Room for a file name the API appends (CreateDirectory's limit is 248).
  if (needed == 0 || needed < MAX_PATH - 12) return given;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return given;
  full.resize(length);
  if (StartsWith(full, L"\\\\.\\")) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

struct Failure {
  std::string text;
  int exitCode;
};

// The same words as pkgtool says on Linux wherever Windows means the same
// thing; Windows' own text, with its number, for the rest. A name that leads
// nowhere is the user's to mend (exit 2); anything else is the system's.
Failure Describe(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE:
      return {"No such file or directory", kExitBadInput};
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return {"not a valid file name", kExitBadInput};
    case ERROR_FILENAME_EXCED_RANGE:
      return {"File name too long", kExitBadInput};
    case ERROR_ACCESS_DENIED:
      return {"Permission denied", kExitSystemError};
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return {"another program has the file open", kExitSystemError};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return {"No space left on device", kExitSystemError};
    case ERROR_WRITE_PROTECT:
      return {"Read-only file system", kExitSystemError};
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return {"Cannot allocate memory", kExitSystemError};
    default:
      break;
  }
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 ? std::wstring(text, length) : L"";
  ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  const std::string number = "error " + std::to_string(error);
  return {message.empty() ? number : Narrow(message) + " (" + number + ")", kExitSystemError};
}

[[noreturn]] void ThrowSystemError(const std::string& source, const std::string& path,
                                   DWORD error = ::GetLastError()) {
  const Failure failure = Describe(error);
  throw ToolError(WithSource(source, path + ": " + failure.text), failure.exitCode);
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!valid()) return true;
    const bool closed = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

// Opens what lies at `path` to ask about it, not to read it: sharing
// everything, so it neither waits for nor disturbs anyone else, and
// following links, as stat() does. Folders open too.
Handle OpenToExamine(const std::string& path) {
  return Handle(::CreateFileW(ApiPath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

std::string KindOf(DWORD fileType) {
  switch (fileType) {
    case FILE_TYPE_CHAR: return "a device";
    case FILE_TYPE_PIPE: return "a pipe";
    default: return "not a regular file";
  }
}

Entry EntryOf(HANDLE handle) {
  const DWORD type = ::GetFileType(handle);
  if (type != FILE_TYPE_DISK) return {EntryKind::kOther, KindOf(type)};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return {EntryKind::kOther, "not a regular file"};
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return {EntryKind::kFolder, "a folder"};
  return {EntryKind::kRegular, ""};
}

// Volume serial number and file index: what device and inode are on POSIX.
// The 128-bit index of ReFS where the system has it, else the 64-bit one.
struct Identity {
  uint64_t volume = 0;
  uint8_t file[16] = {};
  bool operator==(const Identity& other) const {
    return volume == other.volume && std::memcmp(file, other.file, sizeof file) == 0;
  }
};

bool IdentityOf(const std::string& path, Identity& identity) {
  Handle handle = OpenToExamine(path);
  if (!handle.valid()) return false;
  FILE_ID_INFO id{};
  if (::GetFileInformationByHandleEx(handle.get(), FileIdInfo, &id, sizeof id)) {
    identity.volume = id.VolumeSerialNumber;
    std::memcpy(identity.file, &id.FileId, sizeof identity.file);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle.get(), &info)) return false;
  identity.volume = info.dwVolumeSerialNumber;
  const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  std::memcpy(identity.file, &index, sizeof index);
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::string folder = Utf8Of(PathOf(path).parent_path());
  return folder.empty() ? "." : folder;
}

// A name nobody else uses at this moment: CREATE_NEW refuses a taken one,
// and the next attempt draws another.
std::wstring Candidate(const std::wstring& base, unsigned attempt) {
  static const wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t seed = ::GetTickCount64() * 0x9E3779B97F4A7C15ull ^ (uint64_t{::GetCurrentProcessId()} << 20) ^
                  (uint64_t{attempt} * 0xBF58476D1CE4E5B9ull);
  std::wstring name = base;
  for (int i = 0; i < 6; ++i) {
    seed ^= seed >> 29;
    seed *= 0x94D049BB133111EBull;
    name += kLetters[(seed >> 32) % 36];
  }
  return name;
}

// Writes `bytes` into a new temporary file beside `path` and returns its
// name; on failure nothing is left behind.
std::wstring Stage(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::wstring base = ApiPath(path + ".tmp-");
  std::wstring temporary;
  HANDLE raw = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && raw == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = Candidate(base, attempt);
    raw = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (raw == INVALID_HANDLE_VALUE) ThrowSystemError("", path);
  Handle file(raw);
  auto fail = [&]() {
    const DWORD error = ::GetLastError();
    file.Close();
    ::DeleteFileW(temporary.c_str());
    ThrowSystemError("", path, error);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data() + done, piece, &written, nullptr)) fail();
    if (written == 0) {
      ::SetLastError(ERROR_DISK_FULL);
      fail();
    }
    done += written;
  }
  if (!::FlushFileBuffers(file.get())) fail();
  if (!file.Close()) fail();
  return temporary;
}

// Whether another program uses the file so that it cannot be replaced:
// holds it open without letting others delete or write it (a viewer, a
// virus scanner), or runs it (the package itself, still running). Asking
// for either access, and taking nothing, tells.
bool InUse(const std::wstring& target) {
  for (const DWORD access : {DWORD{DELETE}, DWORD{FILE_WRITE_DATA}}) {
    Handle probe(::CreateFileW(target.c_str(), access,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!probe.valid() && ::GetLastError() == ERROR_SHARING_VIOLATION) return true;
  }
  return false;
}

// Why Windows would not put a file in place of `path`: a program that uses
// it, or its read-only attribute.
[[noreturn]] void ThrowCannotReplace(const std::string& path, DWORD error) {
  const std::wstring target = ApiPath(path);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    throw ToolError(path + ": the file is read-only, so Windows does not let it be replaced; "
                           "it was left as it was",
                    kExitSystemError);
  }
  if (error == ERROR_SHARING_VIOLATION || InUse(target)) {
    throw ToolError(path + ": another program has the file open or is running it, so Windows "
                           "cannot replace it; it was left as it was (close that program and "
                           "try again)",
                    kExitSystemError);
  }
  ThrowSystemError("", path, error);
}

// Moves the staged file over the target. A virus scanner may hold a file
// it has just seen for a moment, so refusals are tried again briefly.
DWORD Replace(const std::wstring& staged, const std::string& path) {
  const std::wstring target = ApiPath(path);
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (attempt > 0) ::Sleep(100);
    if (::MoveFileExW(staged.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return ERROR_SUCCESS;
    }
    error = ::GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
  }
  return error;
}

}  // namespace

uint64_t RegularFileSize(const std::string& path, const std::string& source) {
  Handle handle = OpenToExamine(path);
  if (!handle.valid()) ThrowSystemError(source, path);
  const Entry entry = EntryOf(handle.get());
  if (entry.kind != EntryKind::kRegular) {
    throw ToolError(WithSource(source, path + ": not a regular file"));
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle.get(), &size)) ThrowSystemError(source, path);
  return static_cast<uint64_t>(size.QuadPart);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, const std::string& what,
                                   const std::string& source) {
  // Others may go on reading, writing or renaming it, as on POSIX.
  Handle file(::CreateFileW(ApiPath(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr));
  if (!file.valid()) ThrowSystemError(source, path);
  const Entry entry = EntryOf(file.get());
  if (entry.kind != EntryKind::kRegular) {
    throw ToolError(WithSource(source, path + ": " + entry.what + ", not a regular file"));
  }
  LARGE_INTEGER length{};
  if (!::GetFileSizeEx(file.get(), &length)) ThrowSystemError(source, path);
  const auto size = static_cast<uint64_t>(length.QuadPart);
  RequireAtMost(source, path, what, size, limit);
  std::vector<uint8_t> bytes(size);
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data() + done, piece, &read, nullptr)) {
      ThrowSystemError(source, path);
    }
    if (read == 0) {
      throw ToolError(WithSource(source, path + ": the file shrank while it was read"),
                      kExitSystemError);
    }
    done += read;
  }
  return bytes;
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode) {
  WriteFilesAtomically({{path, &bytes}}, mode);
}

// Windows has no mode bits: every file may be run, and the folder's access
// list decides who may write it.
void WriteFilesAtomically(const std::vector<FileToWrite>& files, unsigned) {
  std::vector<std::wstring> staged;
  auto removeStaged = [&](size_t from) {
    for (size_t i = from; i < staged.size(); ++i) ::DeleteFileW(staged[i].c_str());
  };
  try {
    for (const FileToWrite& file : files) staged.push_back(Stage(file.path, *file.bytes));
  } catch (const ToolError&) {
    removeStaged(0);
    throw;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    const DWORD error = Replace(staged[i], files[i].path);
    if (error == ERROR_SUCCESS) continue;
    removeStaged(i);
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      ThrowCannotReplace(files[i].path, error);
    }
    ThrowSystemError("", files[i].path, error);
  }
}

Entry Examine(const std::string& path) {
  Handle handle = OpenToExamine(path);
  if (!handle.valid()) return {};
  return EntryOf(handle.get());
}

bool SameFile(const std::string& a, const std::string& b) {
  Identity ia, ib;
  const bool aExists = IdentityOf(a, ia);
  const bool bExists = IdentityOf(b, ib);
  if (aExists && bExists) return ia == ib;
  if (aExists || bExists) return false;
  // Neither exists yet: the same name in the same folder is the same file,
  // in any mix of upper and lower case.
  const std::wstring na = PathOf(a).filename().wstring(), nb = PathOf(b).filename().wstring();
  if (::CompareStringOrdinal(na.c_str(), static_cast<int>(na.size()), nb.c_str(),
                             static_cast<int>(nb.size()), TRUE) != CSTR_EQUAL) {
    return false;
  }
  Identity fa, fb;
  if (!IdentityOf(FolderOf(a), fa) || !IdentityOf(FolderOf(b), fb)) {
    const std::wstring full[2] = {ApiPath(a), ApiPath(b)};
    return ::CompareStringOrdinal(full[0].c_str(), static_cast<int>(full[0].size()),
                                  full[1].c_str(), static_cast<int>(full[1].size()),
                                  TRUE) == CSTR_EQUAL;
  }
  return fa == fb;
}

std::string CannotCreateIn(const std::string& folder) {
  const std::wstring base = ApiPath(Utf8Of(PathOf(folder) / ".pkgtool-probe-"));
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const HANDLE probe = ::CreateFileW(Candidate(base, attempt).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                       nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
      ::CloseHandle(probe);
      return "";
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return Describe(::GetLastError()).text;
}

bool ErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

stub::LocalDate LocalToday() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

std::string ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return ".";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // truncated: a long path
  }
  const auto separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return ".";
  return Narrow(path.substr(0, separator));
}

}  // namespace pkgtool
