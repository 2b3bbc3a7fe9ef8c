// CRC-32 as zlib and IEEE 802.3 compute it: reflected polynomial 0xEDB88320,
// initial value 0xFFFFFFFF, final complement. Crc32 of "abc" is 0x352441C2;
// of no bytes, 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stub {

uint32_t Crc32(const void* data, size_t length);

// Continues a checksum: Crc32Update(Crc32(a), b) == Crc32(a followed by b).
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);

}  // namespace stub

namespace stub::detail {

// The two ways Crc32Update computes, exposed so that each can be checked on
// its own. Call Crc32UpdateFolded only where Crc32CanFold() says yes.
uint32_t Crc32UpdatePortable(uint32_t crc, const void* data, size_t length);
uint32_t Crc32UpdateFolded(uint32_t crc, const void* data, size_t length);
// Decided once, on first use, from what Windows and the processor say.
bool Crc32CanFold();
// Makes the next Crc32CanFold() ask again (tests change the answers).
void Crc32ForgetProbe();

}  // namespace stub::detail
