#include "platform/memory/Utf8.h"

#include <cstdint>

namespace stub {

namespace {

void AppendUtf16(std::u16string& out, uint32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

// The length of the sequence at `i` and its value; 0 when it is not valid.
size_t DecodeOne(const std::string& text, size_t i, uint32_t& c) {
  const auto b = static_cast<unsigned char>(text[i]);
  size_t n;
  uint32_t min;
  if (b < 0x80) { c = b; return 1; }
  if ((b & 0xE0) == 0xC0) { c = b & 0x1F; n = 2; min = 0x80; }
  else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; n = 3; min = 0x800; }
  else if ((b & 0xF8) == 0xF0) { c = b & 0x07; n = 4; min = 0x10000; }
  else return 0;
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto t = static_cast<unsigned char>(text[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    c = (c << 6) | (t & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return 0;
  return n;
}

}  // namespace

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

size_t DecodeUtf8(const std::string& text, std::u16string& out, Utf8Errors errors) {
  size_t firstError = std::string::npos;
  for (size_t i = 0; i < text.size();) {
    uint32_t c = 0;
    const size_t n = DecodeOne(text, i, c);
    if (n == 0) {
      if (firstError == std::string::npos) firstError = i;
      if (errors == Utf8Errors::kStop) return firstError;
      out += u'\uFFFD';
      ++i;
      continue;
    }
    AppendUtf16(out, c);
    i += n;
  }
  return firstError;
}

std::u16string FromUtf8(const std::string& text) {
  std::u16string out;
  DecodeUtf8(text, out, Utf8Errors::kReplace);
  return out;
}

}  // namespace stub
