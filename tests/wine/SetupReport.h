// What the test setup program (tests/setupprog) wrote about each of its
// starts: one block per start, "start" ... "end", one item a line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace winetest {

struct SetupStart {
  std::string arch;  // "x86" or "x64"
  std::string commandLine;
  std::string currentDirectory;
  std::string module;
  std::string tempPath;
  std::vector<std::string> arguments;  // after its own name, as CommandLineToArgvW splits
  bool finished = false;  // the closing line was written
};

// Blocks in order; a block cut short (the program was still running, or was
// killed) has finished == false. Unknown items are ignored.
std::vector<SetupStart> ParseSetupReport(std::string_view report);

}  // namespace winetest
