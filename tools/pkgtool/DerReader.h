// A small DER reader for the parts of PKCS #7 and X.509 that pkgtool reads
// from Authenticode signatures. Every length is checked against what is
// left, so a damaged signature ends a walk instead of reading past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pkgtool {

struct DerReader {
  const uint8_t* p = nullptr;
  size_t n = 0;

  // Takes the next element; false when the bytes do not hold one whole.
  bool Next(uint8_t& tag, DerReader& content) {
    if (n < 2) return false;
    tag = p[0];
    size_t length = p[1];
    size_t header = 2;
    if (length & 0x80) {
      const size_t digits = length & 0x7F;
      if (digits == 0 || digits > 4 || n < 2 + digits) return false;  // no indefinite forms
      length = 0;
      for (size_t i = 0; i < digits; ++i) length = (length << 8) | p[2 + i];
      header += digits;
    }
    if (length > n - header) return false;
    content = {p + header, length};
    p += header + length;
    n -= header + length;
    return true;
  }
  bool Expect(uint8_t tag, DerReader& content) {
    uint8_t found = 0;
    return Next(found, content) && found == tag;
  }
  bool Skip(uint8_t tag) {
    DerReader ignored;
    return Expect(tag, ignored);
  }
  // The next element whole, tag and length included (for comparing).
  bool Raw(DerReader& whole) {
    const uint8_t* start = p;
    uint8_t tag = 0;
    DerReader content;
    if (!Next(tag, content)) return false;
    whole = {start, static_cast<size_t>(p - start)};
    return true;
  }
  // The next element's tag, without taking it (0 when none is left).
  uint8_t Peek() const { return n > 0 ? p[0] : 0; }
  bool Is(const uint8_t* bytes, size_t size) const {
    return n == size && std::memcmp(p, bytes, size) == 0;
  }
};

namespace der {
constexpr uint8_t kInteger = 0x02, kOctetString = 0x04, kOid = 0x06, kSequence = 0x30, kSet = 0x31;
constexpr uint8_t kContext0 = 0xA0, kBmpString = 0x1E;
}  // namespace der

}  // namespace pkgtool
