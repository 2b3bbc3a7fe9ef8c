// Unpacks the selected setup program: packed bytes read whole into one stream,
// raw LZMA1 decoded into a second, accepted only at exactly the stated size.
#pragma once

#include <cstdint>

#include "launcher/StubContext.h"
#include "package/StubTypes.h"
#include "unpack/NoRTLStream.h"

namespace stub {

struct LzmaSettings {
  uint8_t lc = 0;
  uint8_t lp = 0;
  uint8_t pb = 0;
  int32_t dictionarySize = 0;
};

// Derives the settings from the 5-byte properties block (property byte, then
// the dictionary size little-endian). False when they are refused.
bool DecodeLzmaProperties(const uint8_t (&block)[5], LzmaSettings& settings);

// The decoder's window for these settings: the dictionary size, but at least
// 4096 bytes and never more than the program itself (it cannot look back past
// what it has produced, so a larger window is memory spent for nothing).
uint32_t LzmaWindowSize(int32_t dictionarySize, uint32_t unpackedSize);

// The output block's next capacity once `capacity` bytes of it are full:
// 4 MiB to start with, then twice as much, never more than `limit` (the
// unpacked size rounded up to 128 KiB). Doubling keeps the bytes that moving
// resizes copy below the size of the output, and the modest start keeps a
// damaged size field from claiming memory that the data never fill.
int32_t NextOutputCapacity(int32_t capacity, int32_t limit);

// Whether the package's checksum covered the header and every packed byte of
// `payload`. Then the stated unpacked size is the author's, not damage, and
// the output block can take it at once: no resize copies and no second first
// touch of the pages a growing block would move through.
bool PayloadChecksummed(const PackageLocator& locator, const PayloadDescriptor& payload);

// Reads `payload`'s packed bytes into `input` and unpacks them into `output`.
// Returns only on success, with `output` holding exactly unpackedSize bytes
// (its capacity that size rounded up to 128 KiB); every failure ends the
// process with the damaged-package message, and exhausted memory with the
// out-of-memory box. Sizes beyond the streams' range and packed bytes that
// reach past the end of the file are refused before anything is allocated.
// With `sizeChecksummed` (see PayloadChecksummed) the output block is made
// the unpacked size at once when memory allows; otherwise it grows with what
// the decoder produces.
void UnpackPayload(const StubContext& context, const PackageHeader& header,
                   const PayloadDescriptor& payload, TStream& input, TStream& output,
                   bool sizeChecksummed = false);

}  // namespace stub
