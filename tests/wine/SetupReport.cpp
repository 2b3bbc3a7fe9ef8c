#include "tests/wine/SetupReport.h"

namespace winetest {

std::vector<SetupStart> ParseSetupReport(std::string_view report) {
  std::vector<SetupStart> starts;
  size_t pos = 0;
  while (pos < report.size()) {
    size_t end = report.find('\n', pos);
    if (end == std::string_view::npos) end = report.size();
    std::string_view line = report.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line == "start") {
      starts.emplace_back();
      continue;
    }
    if (starts.empty()) continue;
    SetupStart& current = starts.back();
    if (line == "end") {
      current.finished = true;
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, equals);
    const std::string value(line.substr(equals + 1));
    if (name == "arch")
      current.arch = value;
    else if (name == "commandline")
      current.commandLine = value;
    else if (name == "currentdirectory")
      current.currentDirectory = value;
    else if (name == "module")
      current.module = value;
    else if (name == "temppath")
      current.tempPath = value;
    else if (name == "arg")
      current.arguments.push_back(value);
  }
  return starts;
}

}  // namespace winetest
