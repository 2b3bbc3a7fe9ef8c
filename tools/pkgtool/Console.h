// pkgtool's text on Windows. The command line arrives in UTF-16 and goes on
// in UTF-8, like every text inside pkgtool. Output is UTF-8 bytes, unchanged
// when redirected (the same bytes as on Linux, with no CR added before LF),
// and shown as the text it is on a console, whatever the console's code page.
#pragma once

#include <streambuf>
#include <string>
#include <vector>

namespace pkgtool {

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv);

// For as long as it lives: standard output and standard error in binary
// mode, and std::cout and std::cerr, where they are a console, written
// through the console's UTF-16 API.
class ConsoleText {
 public:
  ConsoleText();
  ~ConsoleText();
  ConsoleText(const ConsoleText&) = delete;
  ConsoleText& operator=(const ConsoleText&) = delete;

 private:
  std::streambuf* out_ = nullptr;  // a console buffer when in use, else null
  std::streambuf* err_ = nullptr;
  std::streambuf* previousOut_ = nullptr;
  std::streambuf* previousErr_ = nullptr;
};

}  // namespace pkgtool
