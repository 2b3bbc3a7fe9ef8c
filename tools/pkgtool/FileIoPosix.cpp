// The system half of FileIo.h for Linux and other POSIX systems.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {

namespace {

// A name that leads nowhere is the user's to mend (exit 2); anything else
// (no permission, a full disk, an I/O error) is the system's (exit 3).
int ExitCodeOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return kExitBadInput;
    default:
      return kExitSystemError;
  }
}

[[noreturn]] void ThrowSystemError(const std::string& source, const std::string& path) {
  const int error = errno;
  throw ToolError(WithSource(source, path + ": " + std::strerror(error)), ExitCodeOf(error));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::string KindOf(mode_t mode) {
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::string FolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// Writes `bytes` into a new temporary file beside `path` and returns its
// name; on failure nothing is left behind.
std::string Stage(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode) {
  std::string temporary = path + ".tmp-XXXXXX";
  Descriptor fd(::mkstemp(temporary.data()));
  if (fd.get() < 0) ThrowSystemError("", path);
  auto fail = [&]() {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    ThrowSystemError("", path);
  };
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd.get(), static_cast<mode_t>(mode) & ~mask) != 0) fail();
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) fail();
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) fail();
  if (::close(fd.release()) != 0) fail();
  return temporary;
}

}  // namespace

uint64_t RegularFileSize(const std::string& path, const std::string& source) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) ThrowSystemError(source, path);
  if (!S_ISREG(st.st_mode)) throw ToolError(WithSource(source, path + ": not a regular file"));
  return static_cast<uint64_t>(st.st_size);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, const std::string& what,
                                   const std::string& source) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) ThrowSystemError(source, path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) ThrowSystemError(source, path);
  if (!S_ISREG(st.st_mode)) {
    throw ToolError(WithSource(source, path + ": " +
                                           (S_ISDIR(st.st_mode) ? "a folder" : KindOf(st.st_mode)) +
                                           ", not a regular file"));
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  RequireAtMost(source, path, what, size, limit);
  std::vector<uint8_t> bytes(size);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowSystemError(source, path);
    if (n == 0) {
      throw ToolError(WithSource(source, path + ": the file shrank while it was read"),
                      kExitSystemError);
    }
    done += static_cast<size_t>(n);
  }
  return bytes;
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode) {
  WriteFilesAtomically({{path, &bytes}}, mode);
}

void WriteFilesAtomically(const std::vector<FileToWrite>& files, unsigned mode) {
  std::vector<std::string> staged;
  auto removeStaged = [&](size_t from) {
    for (size_t i = from; i < staged.size(); ++i) ::unlink(staged[i].c_str());
  };
  try {
    for (const FileToWrite& file : files) staged.push_back(Stage(file.path, *file.bytes, mode));
  } catch (const ToolError&) {
    removeStaged(0);
    throw;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (::rename(staged[i].c_str(), files[i].path.c_str()) != 0) {
      const int error = errno;
      removeStaged(i);
      errno = error;
      ThrowSystemError("", files[i].path);
    }
  }
}

Entry Examine(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  if (S_ISREG(st.st_mode)) return {EntryKind::kRegular, ""};
  if (S_ISDIR(st.st_mode)) return {EntryKind::kFolder, "a folder"};
  return {EntryKind::kOther, KindOf(st.st_mode)};
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  const bool aExists = ::stat(a.c_str(), &sa) == 0;
  const bool bExists = ::stat(b.c_str(), &sb) == 0;
  if (aExists && bExists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (aExists || bExists) return false;
  // Neither exists yet: the same name in the same folder is the same file.
  const std::filesystem::path pa(a), pb(b);
  if (pa.filename() != pb.filename()) return false;
  struct stat fa {}, fb {};
  if (::stat(FolderOf(a).c_str(), &fa) != 0 || ::stat(FolderOf(b).c_str(), &fb) != 0) {
    return std::filesystem::absolute(pa).lexically_normal() ==
           std::filesystem::absolute(pb).lexically_normal();
  }
  return fa.st_dev == fb.st_dev && fa.st_ino == fb.st_ino;
}

std::string CannotCreateIn(const std::string& folder) {
  std::string probe = (std::filesystem::path(folder) / ".pkgtool-probe-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  return "";
}

bool ErrorIsTerminal() { return ::isatty(2) == 1; }

stub::LocalDate LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {static_cast<uint16_t>(local.tm_year + 1900), static_cast<uint16_t>(local.tm_mon + 1),
          static_cast<uint16_t>(local.tm_mday)};
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace pkgtool
