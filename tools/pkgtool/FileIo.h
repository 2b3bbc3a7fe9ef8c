// Files as pkgtool handles them: whole-file reads with a size limit checked
// before anything is read, and writes that never leave a half-written target
// behind and never replace anything but a regular file that is none of the
// run's inputs.
//
// Everything the operating system must answer sits in the functions marked
// "system" below, implemented in FileIoPosix.cpp and FileIoWindows.cpp. The
// rest is portable.
//
// Paths are UTF-8 strings on every system. On Windows they become UTF-16 at
// the system's API, never text in the ANSI code page, so that any file name
// Windows can hold can be named.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "package/StubTypes.h"

namespace pkgtool {

// A file the run reads or writes, and what named it: "--x86", "-o",
// "setup.json: x86". Errors about the file begin with the source, so that
// the user knows which option or recipe field to mend.
struct NamedPath {
  std::string path;
  std::string source;  // may be empty (a positional argument)
};

// A UTF-8 path as std::filesystem takes it, and back. (Constructed from a
// plain std::string, a path on Windows would decode it in the ANSI code page.)
std::filesystem::path PathOf(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& path);

// "SOURCE: MESSAGE", or MESSAGE alone when there is no source.
std::string WithSource(const std::string& source, const std::string& message);

// Refuses a file of `size` bytes where at most `limit` are allowed, before
// anything is read: "SOURCE: PATH: WHAT is N bytes; at most L are allowed".
void RequireAtMost(const std::string& source, const std::string& path, const std::string& what,
                   uint64_t size, uint64_t limit);

// Refuses, before any work, an output that writing would harm or that could
// not be written: an existing entry that is not a regular file (a folder, a
// device, a FIFO, a socket), the same file as any of `inputs` (by identity,
// so links count; for names that do not exist yet, the same name in the same
// folder), or a folder that is missing or cannot be written. A missing
// folder is created instead when `createFolder` is set. ToolError naming the
// output's source; replacing an existing regular file stays allowed.
void CheckOutput(const NamedPath& output, const std::vector<NamedPath>& inputs,
                 bool createFolder = false);

// --- system --------------------------------------------------------------

// Size of the file at `path`; ToolError naming the path (and `source`) when
// it cannot be examined or is not a regular file.
uint64_t RegularFileSize(const std::string& path, const std::string& source = "");

// The whole file. A file above `limit` bytes is refused before it is read,
// with `what` and the limit in the message. A missing file is bad input
// (exit 2); a file that cannot be read for other reasons is a system error
// (exit 3).
std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, const std::string& what,
                                   const std::string& source = "");

// Writes into a temporary file beside `path`, flushes it and renames it over
// `path`. On any failure the temporary file is removed and `path` is left as
// it was. `mode` applies before the umask (POSIX only). On Windows, a target
// another program holds open cannot be replaced: the error says so.
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

// What lies at a path, following links.
enum class EntryKind { kMissing, kRegular, kFolder, kOther };
struct Entry {
  EntryKind kind = EntryKind::kMissing;
  std::string what;  // for kOther: "a device", "a FIFO", "a socket", ...
};
Entry Examine(const std::string& path);

// Whether two paths name the same file: for existing files by identity
// (device and inode; on Windows volume serial number and file index), so
// that hard and symbolic links count; when either does not exist, by the
// same name in the same folder (on Windows ignoring case, as its file
// systems do).
bool SameFile(const std::string& a, const std::string& b);

// Why a new file cannot be created in `folder` (found by creating and
// removing one), or an empty string when it can.
std::string CannotCreateIn(const std::string& folder);

// Whether standard error is a terminal or a console (progress draws a bar
// there).
bool ErrorIsTerminal();

// Today's date on this computer.
stub::LocalDate LocalToday();

// Folder of the running executable, without a trailing separator.
std::string ExecutableFolder();

}  // namespace pkgtool
