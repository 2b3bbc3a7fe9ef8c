// The one UTF-8 codec of the host programs: the in-memory platform's logs,
// pkgtool's texts and the Wine harness all convert through it.
#pragma once

#include <cstddef>
#include <string>

namespace stub {

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(const std::u16string& text);

// Decodes `text` into `out`. Returns the offset of the first byte that is not
// strict UTF-8 (an overlong form, a surrogate, a value above U+10FFFF, a
// stray or missing continuation byte), or npos when there is none. Strict
// decoding stops there; lenient decoding puts U+FFFD for that byte and goes on.
enum class Utf8Errors { kStop, kReplace };
size_t DecodeUtf8(const std::string& text, std::u16string& out, Utf8Errors errors);

// Lenient decoding, for texts that are not the user's to get right.
std::u16string FromUtf8(const std::string& text);

}  // namespace stub
