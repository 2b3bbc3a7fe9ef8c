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

// Reads `payload`'s packed bytes into `input` and unpacks them into `output`.
// Returns only on success, with `output` holding exactly unpackedSize bytes;
// every failure ends the process with the damaged-package message.
void UnpackPayload(const StubContext& context, const PackageHeader& header,
                   const PayloadDescriptor& payload, TStream& input, TStream& output);

}  // namespace stub
