// Unpacks the selected setup program: raw LZMA1, read from the package and
// decoded a piece at a time, accepted only at exactly the stated size.
#pragma once

#include <lzma.h>

#include <cstdint>

#include "launcher/StubContext.h"
#include "package/StubTypes.h"
#include "unpack/NoRTLStream.h"
#include "unpack/ProgramSource.h"

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

// Packed bytes are read, and program bytes handed on, in pieces of this size:
// large enough that a call per piece costs nothing measurable, small beside
// the window.
constexpr uint32_t kUnpackPieceSize = 256u << 10;

// A payload's setup program, decoded as it is asked for. Memory: the window
// and one piece each of packed and unpacked bytes, whatever the program's size.
//
// The program is complete (kDone) only when exactly unpackedSize bytes came
// out before the stream stopped or ran out of packed bytes, and every one of
// the packedSize packed bytes was read in full: a stream that ends early, a
// data error and a short read are all kDamaged.
class PayloadDecoder final : public ProgramSource {
 public:
  // Refuses, with the damaged-package box, sizes beyond the launcher's range,
  // packed bytes that reach past the end of the file or outside the span a
  // digest vouched for (StubContext::vouched), and settings the decoder
  // does not take, before anything is read or allocated. A window or pieces
  // that cannot be had end the process with the out-of-memory box. Reads
  // nothing yet. `pieceSize` is for tests.
  PayloadDecoder(const StubContext& context, const PackageHeader& header,
                 const PayloadDescriptor& payload, uint32_t pieceSize = kUnpackPieceSize);
  ~PayloadDecoder();
  PayloadDecoder(const PayloadDecoder&) = delete;
  PayloadDecoder& operator=(const PayloadDecoder&) = delete;

  uint32_t Size() const override { return target_; }
  Step Next(const uint8_t*& piece, uint32_t& count) override;

 private:
  bool ReadPiece();

  Platform& platform_;
  uint32_t pieceSize_;
  uint32_t target_;
  uint32_t produced_ = 0;
  uint32_t nextOffset_;
  uint32_t packedLeft_;
  uint8_t* packed_ = nullptr;
  uint8_t* unpacked_ = nullptr;
  lzma_stream decoder_ = LZMA_STREAM_INIT;
  Step stopped_ = Step::kPiece;  // kDamaged or kOutOfMemory once decoding has failed
};

// The whole program in memory, for the authoring tool: the same decoder,
// its pieces appended to `output`. Returns only on success, with `output`
// holding exactly unpackedSize bytes; damage ends the process with the
// damaged-package box, exhausted memory with the out-of-memory box.
void UnpackPayload(const StubContext& context, const PackageHeader& header,
                   const PayloadDescriptor& payload, TStream& output,
                   uint32_t pieceSize = kUnpackPieceSize);

}  // namespace stub
