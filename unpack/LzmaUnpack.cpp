#include "unpack/LzmaUnpack.h"

#include <lzma.h>

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

// The output grows with what the decoder actually produces, doubling from
// here, so a damaged size field cannot demand memory up front and a large
// program is re-copied only a handful of times.
constexpr int32_t kFirstOutputChunk = 1 << 20;

}  // namespace

bool DecodeLzmaProperties(const uint8_t (&block)[5], LzmaSettings& settings) {
  const uint8_t value = block[0];
  settings.lc = static_cast<uint8_t>(value % 9);
  settings.lp = static_cast<uint8_t>((value / 9) % 5);
  settings.pb = static_cast<uint8_t>(value / 45);
  settings.dictionarySize = static_cast<int32_t>(ReadU32(block + 1));
  return settings.lc <= 8 && settings.lp <= 4 && settings.pb <= 4 && settings.dictionarySize >= 0;
}

void UnpackPayload(const StubContext& context, const PackageHeader& header,
                   const PayloadDescriptor& payload, TStream& input, TStream& output) {
  Platform& platform = context.platform;
  // Sizes the streams cannot hold, and packed bytes that would reach past the
  // end of the file, are damage: refusing them first keeps a broken header
  // from taking memory it can never fill.
  const uint64_t packedEnd = static_cast<uint64_t>(payload.offset) + payload.packedSize;
  if (payload.packedSize > static_cast<uint32_t>(TStream::MaxSize) ||
      payload.unpackedSize > static_cast<uint32_t>(TStream::MaxSize) ||
      packedEnd > platform.PackageFileSize()) {
    ShowFatalMessage(context, FatalMessage::kDamaged);
  }

  input.SetSize(static_cast<int32_t>(payload.packedSize));
  const int32_t packedSize = input.GetSize();
  if (packedSize != 0 &&
      platform.ReadPackageFile(payload.offset, input.Memory, static_cast<uint32_t>(packedSize)) !=
          static_cast<uint32_t>(packedSize)) {
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
  options.dict_size = settings.dictionarySize < static_cast<int32_t>(LZMA_DICT_SIZE_MIN)
                          ? LZMA_DICT_SIZE_MIN
                          : static_cast<uint32_t>(settings.dictionarySize);
  options.lc = settings.lc;
  options.lp = settings.lp;
  options.pb = settings.pb;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options},
                                  {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream decoder = LZMA_STREAM_INIT;
  decoder.allocator = &kAllocator;
  const lzma_ret init = lzma_raw_decoder(&decoder, filters);
  if (init == LZMA_MEM_ERROR) MemoryExhausted();
  if (init != LZMA_OK) ShowFatalMessage(context, FatalMessage::kDamaged);

  const int32_t target = static_cast<int32_t>(payload.unpackedSize);
  decoder.next_in = input.Memory;
  decoder.avail_in = static_cast<size_t>(packedSize);
  int32_t produced = 0;
  while (produced < target) {
    if (produced == output.Size) {
      int32_t step = output.Size < kFirstOutputChunk ? kFirstOutputChunk : output.Size;
      if (step > target - output.Size) step = target - output.Size;
      output.SetSize(output.Size + step);
    }
    decoder.next_out = output.Memory + produced;
    decoder.avail_out = static_cast<size_t>(output.Size - produced);
    const lzma_ret result = lzma_code(&decoder, LZMA_RUN);
    produced = static_cast<int32_t>(decoder.total_out);
    if (result == LZMA_MEM_ERROR) MemoryExhausted();
    // The end marker, a data error, or input that ran out: only the length
    // produced decides from here on.
    if (result != LZMA_OK || decoder.avail_out != 0) break;
  }
  lzma_end(&decoder);

  output.SetSize(produced);
  if (output.GetSize() != target) ShowFatalMessage(context, FatalMessage::kDamaged);
}

}  // namespace stub
