// Other programs pkgtool runs (the vendor's signing command), through the
// system's own shell so that a command line means what it means in the
// vendor's terminal: /bin/sh -c on POSIX, cmd.exe /d /s /c on Windows.
// Implemented in ProcessPosix.cpp and ProcessWindows.cpp.
#pragma once

#include <string>

namespace pkgtool {

struct CommandResult {
  // The command's exit code; on POSIX a command ended by a signal gives
  // 128 plus the signal's number, as shells report it.
  int exitCode = 0;
  std::string output;  // standard output and standard error, interleaved
};

// Runs `commandLine` (UTF-8) and waits for it. Its standard input is the
// null device. ToolError (exit 3) when the shell cannot be started at all.
CommandResult RunShellCommand(const std::string& commandLine);

// `path` as one word for that shell: in single quotes on POSIX, in double
// quotes on Windows (where no file name holds a double quote).
std::string ShellQuoted(const std::string& path);

}  // namespace pkgtool
