#include "tools/pkgtool/FileIo.h"

#include <filesystem>
#include <system_error>

#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string WithSource(const std::string& source, const std::string& message) {
  return source.empty() ? message : source + ": " + message;
}

void RequireAtMost(const std::string& source, const std::string& path, const std::string& what,
                   uint64_t size, uint64_t limit) {
  if (size <= limit) return;
  throw ToolError(WithSource(source, path + ": " + what + " is " + std::to_string(size) +
                                         " bytes; at most " + std::to_string(limit) +
                                         " are allowed"));
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

  std::filesystem::path folder = PathOf(output.path).parent_path();
  if (folder.empty()) folder = ".";
  const Entry folderEntry = Examine(Utf8Of(folder));
  if (folderEntry.kind == EntryKind::kMissing && createFolder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) refuse(": cannot create its folder: " + error.message(), kExitSystemError);
  } else if (folderEntry.kind == EntryKind::kMissing) {
    refuse(": the folder " + Utf8Of(folder) + " does not exist");
  } else if (folderEntry.kind != EntryKind::kFolder) {
    refuse(": " + Utf8Of(folder) + " is not a folder");
  }
  const std::string problem = CannotCreateIn(Utf8Of(folder));
  if (!problem.empty()) {
    refuse(": cannot write in " + Utf8Of(folder) + ": " + problem, kExitSystemError);
  }
}

}  // namespace pkgtool
