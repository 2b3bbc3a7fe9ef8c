// The commands that read a package: inspect, verify, extract, simulate and
// matrix. Each returns the exit code (HumanTerms.h); a file that is no
// package at all, or a package that is not sound, is told in one line and
// ends with kExitRefused. Bad input is a ToolError. `quiet` silences
// progress (and, for verify and extract, the report of success).
#pragma once

#include <string>
#include <vector>

namespace pkgtool {

// `asRecipe`: the recipe that builds the package again, instead of its fields.
int RunInspect(const std::string& path, bool asJson, bool asRecipe, bool quiet = false);
int RunVerify(const std::string& path, bool quiet);
int RunExtract(const std::string& path, std::string x86, std::string x64, bool quiet);

// The computer simulate and matrix run the package on.
struct RunOptions {
  std::string date, path, temp = "C:\\Users\\User\\AppData\\Local\\Temp\\";
  std::string language = "en-US";  // the user's interface language
  bool admin = false, asJson = false, quiet = false;
  std::vector<std::string> arguments;
};

int RunSimulate(const std::string& packagePath, const std::string& windows, const std::string& arch,
                const RunOptions& options);
int RunMatrix(const std::string& packagePath, const RunOptions& options);

}  // namespace pkgtool
