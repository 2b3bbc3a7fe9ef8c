#include "tools/pkgtool/FileIo.h"

#include <filesystem>
#include <system_error>

#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {

std::string WithSource(const std::string& source, const std::string& message) {
  return source.empty() ? message : source + ": " + message;
}

void CheckOutput(const NamedPath& output, const std::vector<NamedPath>& inputs, bool createFolder) {
  auto refuse = [&](const std::string& why, int exitCode = kExitBadInput) {
    throw ToolError(WithSource(output.source, output.path + why), exitCode);
  };
  const Entry entry = Examine(output.path);
  if (entry.kind == EntryKind::kFolder) refuse(" is a folder; name the file to write");
  if (entry.kind == EntryKind::kOther) {
    refuse(" is " + entry.what + ", not a regular file; pkgtool replaces only regular files");
  }
  for (const NamedPath& input : inputs) {
    if (input.path.empty() || !SameFile(output.path, input.path)) continue;
    const std::string named = input.path == output.path ? "" : " (" + input.path + ")";
    refuse(" is the same file as " + (input.source.empty() ? "an input" : input.source) + named +
           "; pkgtool never writes over its inputs");
  }

  std::filesystem::path folder = std::filesystem::path(output.path).parent_path();
  if (folder.empty()) folder = ".";
  const Entry folderEntry = Examine(folder.string());
  if (folderEntry.kind == EntryKind::kMissing && createFolder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) refuse(": cannot create its folder: " + error.message(), kExitSystemError);
  } else if (folderEntry.kind == EntryKind::kMissing) {
    refuse(": the folder " + folder.string() + " does not exist");
  } else if (folderEntry.kind != EntryKind::kFolder) {
    refuse(": " + folder.string() + " is not a folder");
  }
  const std::string problem = CannotCreateIn(folder.string());
  if (!problem.empty()) {
    refuse(": cannot write in " + folder.string() + ": " + problem, kExitSystemError);
  }
}

}  // namespace pkgtool
