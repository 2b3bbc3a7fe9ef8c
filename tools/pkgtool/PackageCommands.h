// The commands that read a package: inspect, verify, extract, simulate and
// matrix. Each returns the exit code; bad input is a ToolError.
#pragma once

#include <string>
#include <vector>

namespace pkgtool {

constexpr int kExitUnsound = 1;
constexpr int kExitError = 2;

int RunInspect(const std::string& path, bool asJson);
int RunVerify(const std::string& path, bool quiet);
int RunExtract(const std::string& path, std::string x86, std::string x64, bool quiet);

// The computer simulate and matrix run the package on.
struct RunOptions {
  std::string date, path, temp = "C:\\Users\\User\\AppData\\Local\\Temp\\";
  bool admin = false, asJson = false;
  std::vector<std::string> arguments;
};

int RunSimulate(const std::string& packagePath, const std::string& windows, const std::string& arch,
                const RunOptions& options);
int RunMatrix(const std::string& packagePath, const RunOptions& options);

}  // namespace pkgtool
