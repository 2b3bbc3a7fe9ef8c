// Whole-file reads with a size limit checked before anything is read, and
// writes that never leave a half-written target behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pkgtool {

// Size of the file at `path`; ToolError naming the path when it cannot be
// examined or is not a regular file.
uint64_t RegularFileSize(const std::string& path);

// The whole file. A file above `limit` bytes is refused before it is read,
// with `what` and the limit in the message.
std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, const std::string& what);

// Writes into a temporary file beside `path`, flushes it and renames it over
// `path`. On any failure the temporary file is removed and `path` is left as
// it was. `mode` applies before the umask.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         unsigned mode = 0666);

// Several files, all or none: every one is written beside its target first,
// and only when all are written are they renamed into place. A failure before
// the renames leaves every target as it was.
struct FileToWrite {
  std::string path;
  const std::vector<uint8_t>* bytes;
};
void WriteFilesAtomically(const std::vector<FileToWrite>& files, unsigned mode = 0666);

// Folder of the running executable (from /proc/self/exe), without a slash.
std::string ExecutableFolder();

}  // namespace pkgtool
