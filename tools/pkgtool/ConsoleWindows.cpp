#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iostream>

#include "platform/memory/Utf8.h"
#include "tools/pkgtool/Console.h"

namespace pkgtool {

namespace {

// How much of `text` ends on a whole UTF-8 sequence: a character split
// between two writes waits for its rest.
size_t WholeSequences(const std::string& text) {
  for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const auto byte = static_cast<unsigned char>(text[text.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    if (byte < 0xC0) return text.size();
    const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    return back < length ? text.size() - back : text.size();
  }
  return text.size();
}

// Unbuffered, so that it keeps its place among what C's stdio writes to
// the same console (progress, the build's summary).
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}
  ~ConsoleBuffer() override {
    if (!pending_.empty()) Show(stub::FromUtf8(pending_));  // U+FFFD for a broken end
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return Write(&ch, 1) ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    return Write(s, static_cast<size_t>(n)) ? n : 0;
  }

 private:
  bool Write(const char* s, size_t n) {
    pending_.append(s, n);
    const size_t whole = WholeSequences(pending_);
    if (whole == 0) return true;
    const std::u16string text = stub::FromUtf8(pending_.substr(0, whole));
    pending_.erase(0, whole);
    return Show(text);
  }
  bool Show(const std::u16string& text) {
    const std::wstring wide(text.begin(), text.end());
    size_t done = 0;
    while (done < wide.size()) {
      DWORD written = 0;
      const auto piece = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
      if (!::WriteConsoleW(console_, wide.data() + done, piece, &written, nullptr) || written == 0) {
        return false;
      }
      done += written;
    }
    return true;
  }

  HANDLE console_;
  std::string pending_;
};

std::streambuf* ConsoleFor(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) {
    return nullptr;
  }
  return new ConsoleBuffer(handle);
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    arguments.push_back(stub::ToUtf8(std::u16string(argv[i], argv[i] + std::wcslen(argv[i]))));
  }
  return arguments;
}

ConsoleText::ConsoleText() {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  out_ = ConsoleFor(STD_OUTPUT_HANDLE);
  err_ = ConsoleFor(STD_ERROR_HANDLE);
  if (out_ != nullptr) previousOut_ = std::cout.rdbuf(out_);
  if (err_ != nullptr) previousErr_ = std::cerr.rdbuf(err_);
}

ConsoleText::~ConsoleText() {
  if (out_ != nullptr) std::cout.rdbuf(previousOut_);
  if (err_ != nullptr) std::cerr.rdbuf(previousErr_);
  delete out_;
  delete err_;
}

}  // namespace pkgtool
