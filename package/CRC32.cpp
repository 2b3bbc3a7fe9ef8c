#include "package/CRC32.h"

#include <cstring>

namespace stub {

namespace {

// Sixteen tables let the loop fold sixteen bytes per step (slicing-by-16),
// several times the speed of the classic one-table loop, with identical
// results. They are built at first use rather than stored, so that the stub's
// file stays small; the first table is the classic byte table.
struct CrcTables {
  uint32_t t[16][256];
  CrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < 16; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
  }
};

const CrcTables& Tables() {
  static const CrcTables tables;
  return tables;
}

inline uint32_t Load32(const uint8_t* p) {
  // Byte-wise assembly keeps the result independent of the host's byte order.
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
  const auto& t = Tables().t;
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
  while (length >= 16) {
    const uint32_t a = Load32(p) ^ c;
    const uint32_t b = Load32(p + 4);
    const uint32_t d = Load32(p + 8);
    const uint32_t e = Load32(p + 12);
    c = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
        t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
        t[7][d & 0xFF] ^ t[6][(d >> 8) & 0xFF] ^ t[5][(d >> 16) & 0xFF] ^ t[4][d >> 24] ^
        t[3][e & 0xFF] ^ t[2][(e >> 8) & 0xFF] ^ t[1][(e >> 16) & 0xFF] ^ t[0][e >> 24];
    p += 16;
    length -= 16;
  }
  while (length--) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
  return ~c;
}

uint32_t Crc32(const void* data, size_t length) { return Crc32Update(0, data, length); }

}  // namespace stub
