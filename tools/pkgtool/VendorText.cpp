#include "tools/pkgtool/VendorText.h"

#include <cstdio>

#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {

namespace {

std::string CodePoint(char16_t c) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
  return buffer;
}

// Why `c` does not belong in a box, or null.
const char* Refusal(char16_t c) {
  if (c == 0) return "U+0000, which ends the box's text there";
  if (c == u'\t' || c == u'\n' || c == u'\r') return nullptr;
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
    return "a control character; only line breaks and tabs belong in a box";
  }
  if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) {
    return "a bidirectional override, which makes the box read in another order than the text "
           "was written";
  }
  return nullptr;
}

}  // namespace

void CheckVendorText(const std::u16string& text, const std::string& source,
                     std::vector<std::string>* warnings) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (const char* why = Refusal(text[i])) {
      const std::string what = text[i] == 0 ? std::string(why) : CodePoint(text[i]) + ", " + why;
      throw ToolError(source + ": the text holds " + what + " (at UTF-16 unit " + std::to_string(i) + ")");
    }
  }
  if (warnings && text.size() > kLongVendorTextUnits) {
    warnings->push_back(source + ": the text has " + std::to_string(text.size()) +
                        " UTF-16 units; an error box shows about " +
                        std::to_string(kLongVendorTextUnits) + " usefully");
  }
}

}  // namespace pkgtool
