#include "tools/pkgtool/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits.h>

#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {

namespace {

std::string SystemError(const std::string& path) { return path + ": " + std::strerror(errno); }

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

}  // namespace

uint64_t RegularFileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw ToolError(SystemError(path));
  if (!S_ISREG(st.st_mode)) throw ToolError(path + ": not a regular file");
  return static_cast<uint64_t>(st.st_size);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, const std::string& what) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw ToolError(SystemError(path));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw ToolError(SystemError(path));
  if (!S_ISREG(st.st_mode)) throw ToolError(path + ": not a regular file");
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size > limit) {
    throw ToolError(path + ": " + what + " is " + std::to_string(size) + " bytes; at most " +
                    std::to_string(limit) + " are allowed");
  }
  std::vector<uint8_t> bytes(size);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ToolError(SystemError(path));
    if (n == 0) throw ToolError(path + ": the file shrank while it was read");
    done += static_cast<size_t>(n);
  }
  return bytes;
}

namespace {

// Writes `bytes` into a new temporary file beside `path` and returns its
// name; on failure nothing is left behind.
std::string Stage(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode) {
  std::string temporary = path + ".tmp-XXXXXX";
  Descriptor fd(::mkstemp(temporary.data()));
  if (fd.get() < 0) throw ToolError(SystemError(path));
  auto fail = [&](const std::string& message) {
    ::unlink(temporary.c_str());
    throw ToolError(message);
  };
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd.get(), static_cast<mode_t>(mode) & ~mask) != 0) fail(SystemError(path));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(SystemError(path));
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) fail(SystemError(path));
  if (::close(fd.release()) != 0) fail(SystemError(path));
  return temporary;
}

}  // namespace

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
      const std::string message = SystemError(files[i].path);
      removeStaged(i);
      throw ToolError(message);
    }
  }
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
