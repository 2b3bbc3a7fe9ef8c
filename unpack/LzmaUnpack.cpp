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

constexpr int32_t kFirstOutputCapacity = 4 << 20;

// `size` is at most TStream::MaxSize, itself a multiple of the step, so the
// result stays in range.
int32_t RoundUpToStep(int32_t size) {
  return static_cast<int32_t>((static_cast<uint32_t>(size) + (TStream::CapacityStep - 1)) &
                              ~static_cast<uint32_t>(TStream::CapacityStep - 1));
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

int32_t NextOutputCapacity(int32_t capacity, int32_t limit) {
  int64_t next = static_cast<int64_t>(capacity) * 2;
  if (next < kFirstOutputCapacity) next = kFirstOutputCapacity;
  if (next > limit) next = limit;
  return RoundUpToStep(static_cast<int32_t>(next));
}

bool PayloadChecksummed(const PackageLocator& locator, const PayloadDescriptor& payload) {
  const uint64_t spanEnd = static_cast<uint64_t>(locator.packageOffset) + locator.crcLength;
  const uint64_t packedEnd = static_cast<uint64_t>(payload.offset) + payload.packedSize;
  return locator.packageOffset != 0 && spanEnd >= locator.packageOffset + uint64_t{kHeaderSize} &&
         payload.offset >= locator.packageOffset && packedEnd <= spanEnd;
}

void UnpackPayload(const StubContext& context, const PackageHeader& header,
                   const PayloadDescriptor& payload, TStream& input, TStream& output,
                   bool sizeChecksummed) {
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
  // One read straight into the block; of zero bytes too, which then counts
  // as complete.
  if (platform.ReadPackageFile(payload.offset, input.Memory, static_cast<uint32_t>(packedSize)) !=
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
  options.dict_size = LzmaWindowSize(settings.dictionarySize, payload.unpackedSize);
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

  // The decoder writes straight into the output block, past the stream's
  // Size, which stays 0 until the end: every capacity asked for then differs
  // from Size and keeps its 128 KiB rounding, and the final SetSize finds the
  // block already at the unpacked size rounded up, so it moves nothing.
  const int32_t target = static_cast<int32_t>(payload.unpackedSize);
  const int32_t limit = RoundUpToStep(target);
  output.Clear();
  // A checksummed size is tried whole, not demanded: a package can still be
  // made with an absurd size, and memory refusing it must not read as memory
  // running out. Then the output grows as for an unchecked size, and the data
  // decide between the damaged box and the out-of-memory one.
  if (sizeChecksummed && limit > 0) {
    if (void* block = AllocateBlock(static_cast<size_t>(limit))) {
      output.Memory = static_cast<uint8_t*>(block);
      output.Capacity = limit;
    }
  }
  decoder.next_in = input.Memory;
  decoder.avail_in = static_cast<size_t>(packedSize);
  int32_t produced = 0;
  while (produced < target) {
    if (produced == output.Capacity) output.SetCapacity(NextOutputCapacity(output.Capacity, limit));
    const int32_t end = output.Capacity < target ? output.Capacity : target;
    decoder.next_out = output.Memory + produced;
    decoder.avail_out = static_cast<size_t>(end - produced);
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
