// pkgtool build: from options and files to a written package. The recipe is
// made by a pure function of the options and the bytes read for them, so
// that every rule about options can be tested without files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "package/writer/PackageWriter.h"

namespace pkgtool {

// A refusal text given inline, from a file, or not at all.
struct MessageOption {
  std::string text;
  std::string file;
  bool textGiven = false;
  bool fileGiven = false;
};

struct BuildOptions {
  std::string output, stub, x86, x64, trailingData;
  std::vector<std::string> windows;
  std::string win10 = "any", win11 = "any", expires, elevation = "standard", dictionary = "4M";
  bool no64 = false, detached = false, quiet = false;
  unsigned level = 6, lc = 3, lp = 0, pb = 2;
  MessageOption expired, wrongWidth, unsupported;
};

// What the options name on disk, read.
struct BuildFiles {
  std::vector<uint8_t> stub;
  std::optional<std::vector<uint8_t>> x86, x64;
  std::optional<std::vector<uint8_t>> trailingData;
  // The contents of the --*-message-file files, as read.
  std::optional<std::string> expiredMessage, wrongWidthMessage, unsupportedMessage;
};

// Reads every file the options name, refusing what cannot be a part of a
// package (no stub, an empty program, sizes past the launcher's limits).
BuildFiles ReadBuildFiles(const BuildOptions& options);

// The recipe for `options`: checks every option, fills in the default
// texts. Reads nothing; ToolError names what is wrong.
stub::writer::PackageRecipe MakeRecipe(const BuildOptions& options, BuildFiles files);

int RunBuild(const BuildOptions& options);

}  // namespace pkgtool
