#include "unpack/NoRTLStream.h"

#include <cstring>

#include "platform/Memory.h"

namespace stub {

TStream::~TStream() { Clear(); }

void TStream::SetCapacity(int32_t newCapacity) {
  // Outside 0..MaxSize the rounding below would leave the signed range: such
  // requests are refused and the stream stays as it was.
  if (newCapacity < 0 || newCapacity > MaxSize) return;
  if (newCapacity > 0 && newCapacity != Size) {
    newCapacity = (newCapacity + (CapacityStep - 1)) & ~(CapacityStep - 1);
  }
  if (newCapacity == Capacity) return;
  if (newCapacity == 0) {
    FreeBlock(Memory);
    Memory = nullptr;
  } else {
    // The stream never goes on without its block: a failed request ends the
    // process (the old block, still valid, goes with it).
    void* block = Capacity == 0 ? AllocateBlock(static_cast<size_t>(newCapacity))
                                : ResizeBlock(Memory, static_cast<size_t>(newCapacity));
    if (!block) MemoryExhausted();
    Memory = static_cast<uint8_t*>(block);
  }
  Capacity = newCapacity;
}

void TStream::SetSize(int32_t newSize) {
  if (newSize < 0 || newSize > MaxSize) return;
  const int32_t oldPosition = Position;
  SetCapacity(newSize);
  Size = newSize;
  if (newSize < oldPosition) Position = Size;
}

int32_t TStream::Write(const void* buffer, int32_t count) {
  if (Position < 0 || count < 0) return 0;
  const int64_t end = static_cast<int64_t>(Position) + count;
  if (end <= 0 || end > MaxSize) return 0;
  if (end > Size) {
    if (end > Capacity) SetCapacity(static_cast<int32_t>(end));
    Size = static_cast<int32_t>(end);
  }
  if (count) std::memcpy(Memory + Position, buffer, static_cast<size_t>(count));
  Position = static_cast<int32_t>(end);
  return count;
}

int32_t TStream::Read(void* buffer, int32_t count) {
  if (Position < 0 || count < 0) return 0;
  const int32_t available = Size - Position;
  if (available <= 0) return 0;
  const int32_t n = count < available ? count : available;
  if (n) std::memcpy(buffer, Memory + Position, static_cast<size_t>(n));
  Position += n;
  return n;
}

int32_t TStream::Seek(int32_t offset, int32_t origin) {
  // Wrapping arithmetic on purpose: the position is not clamped, and an
  // overflow must not be undefined behaviour.
  switch (origin) {
    case FromBeginning:
      Position = offset;
      break;
    case FromCurrent:
      Position = static_cast<int32_t>(static_cast<uint32_t>(Position) + static_cast<uint32_t>(offset));
      break;
    case FromEnd:
      Position = static_cast<int32_t>(static_cast<uint32_t>(Size) + static_cast<uint32_t>(offset));
      break;
    default:
      break;
  }
  return Position;
}

int32_t TStream::GetSize() {
  const int32_t saved = Seek(0, FromCurrent);
  const int32_t result = Seek(0, FromEnd);
  Seek(saved, FromBeginning);
  return result;
}

void TStream::Clear() {
  SetCapacity(0);
  Size = 0;
  Position = 0;
}

}  // namespace stub
