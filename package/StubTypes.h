// On-disk records of a package and the small value types the stages pass on.
// Records are decoded field by field from little-endian bytes at fixed
// offsets: the header has fields at odd offsets, so no struct is ever cast
// over a buffer.
#pragma once

#include <cstdint>

namespace stub {

inline uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where the locator lives in the launcher's file, between the DOS stub and the
// PE header (which the build moves to offset 256 to make room).
constexpr uint32_t kLocatorOffset = 128;
constexpr uint32_t kLocatorSize = 24;
constexpr uint32_t kHeaderSize = 74;
// Largest payload the launcher's signed 32-bit streams can hold.
constexpr uint32_t kMaxPayloadSize = 0x7FFE0000u;
// payload64.offset value: no 64-bit program, and the 32-bit one must not run
// on 64-bit Windows.
constexpr uint32_t kBarredFrom64Bit = 0xFFFFFFFFu;

struct PackageLocator {
  uint32_t packageOffset = 0;
  uint32_t crcLength = 0;
  uint32_t crc = 0;
  uint32_t minSizeLow = 0;
  uint32_t minSizeHigh = 0;
  uint32_t detachedMinSize = 0;
};

struct PayloadDescriptor {
  uint32_t offset = 0;
  uint32_t packedSize = 0;
  uint32_t unpackedSize = 0;
};

struct MessageDescriptor {
  uint32_t offset = 0;
  uint16_t length = 0;  // UTF-16 units
};

// Element n is bit (n mod 8) of byte n div 8.
struct WindowsVersionSet {
  uint8_t bytes[8] = {};
  bool Contains(unsigned element) const {
    return element < 64 && (bytes[element / 8] >> (element % 8)) & 1;
  }
  void Add(unsigned element) {
    if (element < 64) bytes[element / 8] |= static_cast<uint8_t>(1u << (element % 8));
  }
};

// Elements of WindowsVersionSet.
enum WindowsElement : unsigned {
  kWin95 = 0, kWin98 = 1, kWinMe = 2, kWinNt4 = 3, kWin2000 = 4, kWinXp = 5,
  kWinVista = 6, kWin7 = 7, kWin8 = 8, kWin81 = 9, kWin10 = 10, kWin11 = 11,
  kWinOther = 63,
};

using ElevationMode = uint8_t;  // 0, 1 or 2; any other value acts as 0

struct PackageHeader {
  uint8_t lzmaProperties = 0;
  uint32_t lzmaDictionarySize = 0;
  WindowsVersionSet allowedWindows;
  uint16_t win10MinRelease = 0;
  uint16_t win10MaxRelease = 0;
  uint16_t win11MinRelease = 0;
  uint16_t win11MaxRelease = 0;
  ElevationMode elevationMode = 0;
  PayloadDescriptor payload32;
  PayloadDescriptor payload64;
  uint32_t afterMessages = 0;
  uint16_t expiryYear = 0;
  uint16_t expiryMonth = 0;
  uint16_t expiryDay = 0;
  MessageDescriptor expiredMessage;
  MessageDescriptor wrongWidthMessage;
  MessageDescriptor unsupportedWindowsMessage;
};

// Which setup programs a header says the package carries. An offset of 0
// means "none"; the 64-bit slot also carries the bar from 64-bit Windows.
inline bool HasX86(const PackageHeader& header) { return header.payload32.offset != 0; }
inline bool BarredFrom64Bit(const PackageHeader& header) {
  return header.payload64.offset == kBarredFrom64Bit;
}
inline bool HasX64(const PackageHeader& header) {
  return header.payload64.offset != 0 && !BarredFrom64Bit(header);
}

PackageLocator DecodeLocator(const uint8_t (&bytes)[kLocatorSize]);
void EncodeLocator(const PackageLocator& locator, uint8_t (&bytes)[kLocatorSize]);
PackageHeader DecodeHeader(const uint8_t (&bytes)[kHeaderSize]);
void EncodeHeader(const PackageHeader& header, uint8_t (&bytes)[kHeaderSize]);

// A local calendar date as GetLocalTime reports it.
struct LocalDate {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t day = 0;
};

}  // namespace stub
