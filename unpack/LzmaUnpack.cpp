#include "unpack/LzmaUnpack.h"

#include "launcher/FatalMessages.h"
#include "platform/Memory.h"

namespace stub {

namespace {

// The decoder's window and tables come from the launcher's own allocator, so
// that their exhaustion ends in the same box as every other allocation.
void* LzmaAlloc(void*, size_t count, size_t size) {
  if (size != 0 && count > static_cast<size_t>(-1) / size) return nullptr;
  return AllocateBlock(count * size);
}
void LzmaFree(void*, void* block) { FreeBlock(block); }
const lzma_allocator kAllocator = {&LzmaAlloc, &LzmaFree, nullptr};

uint8_t* AllocatePiece(uint32_t size) {
  void* block = AllocateBlock(size);
  if (!block) MemoryExhausted();
  return static_cast<uint8_t*>(block);
}

}  // namespace

bool DecodeLzmaProperties(const uint8_t (&block)[5], LzmaSettings& settings) {
  const uint8_t value = block[0];
  settings.lc = static_cast<uint8_t>(value % 9);
  settings.lp = static_cast<uint8_t>((value / 9) % 5);
  settings.pb = static_cast<uint8_t>(value / 45);
  settings.dictionarySize = static_cast<int32_t>(ReadU32(block + 1));
  return settings.lc <= 8 && settings.lp <= 4 && settings.pb <= 4 && settings.dictionarySize >= 0;
}

uint32_t LzmaWindowSize(int32_t dictionarySize, uint32_t unpackedSize) {
  uint32_t window = dictionarySize < 0 ? 0 : static_cast<uint32_t>(dictionarySize);
  if (window > unpackedSize) window = unpackedSize;
  if (window < LZMA_DICT_SIZE_MIN) window = LZMA_DICT_SIZE_MIN;
  return window;
}

PayloadDecoder::PayloadDecoder(const StubContext& context, const PackageHeader& header,
                               const PayloadDescriptor& payload, uint32_t pieceSize)
    : platform_(context.platform),
      pieceSize_(pieceSize ? pieceSize : 1),
      target_(payload.unpackedSize),
      nextOffset_(payload.offset),
      packedLeft_(payload.packedSize) {
  // Sizes beyond what a package can hold, and packed bytes that would reach
  // past the end of the file, are damage: refusing them first keeps a broken
  // header from costing a window or a copy.
  const uint64_t packedEnd = static_cast<uint64_t>(payload.offset) + payload.packedSize;
  if (payload.packedSize > kMaxPayloadSize || payload.unpackedSize > kMaxPayloadSize ||
      packedEnd > platform_.PackageFileSize() ||
      !context.vouched.Covers(payload.offset, payload.packedSize)) {
    ShowFatalMessage(context, FatalMessage::kDamaged);
  }

  const uint8_t properties[5] = {header.lzmaProperties,
                                 static_cast<uint8_t>(header.lzmaDictionarySize),
                                 static_cast<uint8_t>(header.lzmaDictionarySize >> 8),
                                 static_cast<uint8_t>(header.lzmaDictionarySize >> 16),
                                 static_cast<uint8_t>(header.lzmaDictionarySize >> 24)};
  LzmaSettings settings;
  // liblzma's LZMA1 decoder takes lc + lp up to 4 only.
  if (!DecodeLzmaProperties(properties, settings) || settings.lc + settings.lp > 4) {
    ShowFatalMessage(context, FatalMessage::kDamaged);
  }

  lzma_options_lzma options = {};
  options.dict_size = LzmaWindowSize(settings.dictionarySize, payload.unpackedSize);
  options.lc = settings.lc;
  options.lp = settings.lp;
  options.pb = settings.pb;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options},
                                  {LZMA_VLI_UNKNOWN, nullptr}};
  decoder_.allocator = &kAllocator;
  // The window first: it is the one large block, and the reason the
  // out-of-memory box exists at all.
  const lzma_ret init = lzma_raw_decoder(&decoder_, filters);
  if (init == LZMA_MEM_ERROR) MemoryExhausted();
  if (init != LZMA_OK) ShowFatalMessage(context, FatalMessage::kDamaged);
  // A piece never needs to be larger than what it carries.
  const uint32_t packedPiece = packedLeft_ < pieceSize_ ? packedLeft_ : pieceSize_;
  const uint32_t unpackedPiece = target_ < pieceSize_ ? target_ : pieceSize_;
  packed_ = AllocatePiece(packedPiece ? packedPiece : 1);
  unpacked_ = AllocatePiece(unpackedPiece ? unpackedPiece : 1);
}

PayloadDecoder::~PayloadDecoder() {
  lzma_end(&decoder_);
  FreeBlock(unpacked_);
  FreeBlock(packed_);
}

bool PayloadDecoder::ReadPiece() {
  const uint32_t count = packedLeft_ < pieceSize_ ? packedLeft_ : pieceSize_;
  // Only the count decides: a failed read and a file that ends early look
  // alike, and both are damage.
  if (platform_.ReadPackageFile(nextOffset_, packed_, count) != count) return false;
  nextOffset_ += count;
  packedLeft_ -= count;
  decoder_.next_in = packed_;
  decoder_.avail_in = count;
  return true;
}

ProgramSource::Step PayloadDecoder::Next(const uint8_t*& piece, uint32_t& count) {
  count = 0;
  if (stopped_ != Step::kPiece) return stopped_;
  if (produced_ == target_) {
    // Bytes the decoder never needed (the end marker, trailing bytes) must
    // still be there: a package is sound only when every packed byte reads.
    while (packedLeft_ > 0) {
      if (!ReadPiece()) return stopped_ = Step::kDamaged;
    }
    return Step::kDone;
  }

  // Bounded at the stated size: decoding stops there, even inside a match.
  const uint32_t left = target_ - produced_;
  decoder_.next_out = unpacked_;
  decoder_.avail_out = left < pieceSize_ ? left : pieceSize_;
  while (decoder_.avail_out != 0) {
    if (decoder_.avail_in == 0 && packedLeft_ > 0 && !ReadPiece()) return stopped_ = Step::kDamaged;
    // With every packed byte handed over, the decoder may still hold output
    // (the rest of a match the last piece cut short): it is asked once more,
    // and only a call that yields nothing means the packed bytes ran out.
    const size_t room = decoder_.avail_out;
    const lzma_ret result = lzma_code(&decoder_, LZMA_RUN);
    if (result == LZMA_MEM_ERROR) return stopped_ = Step::kOutOfMemory;
    if (decoder_.avail_out == 0) break;
    // The end marker, a data error, or packed bytes that ran out: short.
    if (result != LZMA_OK || (decoder_.avail_out == room && decoder_.avail_in == 0 && packedLeft_ == 0)) {
      return stopped_ = Step::kDamaged;
    }
  }
  count = static_cast<uint32_t>(decoder_.next_out - unpacked_);
  produced_ += count;
  piece = unpacked_;
  return Step::kPiece;
}

void UnpackPayload(const StubContext& context, const PackageHeader& header,
                   const PayloadDescriptor& payload, TStream& output, uint32_t pieceSize) {
  PayloadDecoder program(context, header, payload, pieceSize);
  output.Clear();
  const uint8_t* piece = nullptr;
  uint32_t count = 0;
  for (;;) {
    switch (program.Next(piece, count)) {
      case ProgramSource::Step::kPiece:
        output.Write(piece, static_cast<int32_t>(count));
        continue;
      case ProgramSource::Step::kDone:
        return;
      case ProgramSource::Step::kDamaged:
        ShowFatalMessage(context, FatalMessage::kDamaged);
      case ProgramSource::Step::kOutOfMemory:
        MemoryExhausted();
    }
  }
}

}  // namespace stub
