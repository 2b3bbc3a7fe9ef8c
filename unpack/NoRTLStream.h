// TStream: a growable block of memory with a size and a read/write position,
// in the manner of a file held in memory. Capacity grows in steps of 128 KiB
// without doubling. Sizes are signed 32-bit; requests outside 0..0x7FFE0000
// are refused rather than wrapped.
#pragma once

#include <cstdint>

namespace stub {

enum SeekOrigin : int32_t { FromBeginning = 0, FromCurrent = 1, FromEnd = 2 };

class TStream {
 public:
  static constexpr int32_t CapacityStep = 0x20000;
  static constexpr int32_t MaxSize = 0x7FFE0000;

  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream();

  int32_t Read(void* buffer, int32_t count);
  int32_t Write(const void* buffer, int32_t count);
  int32_t Seek(int32_t offset, int32_t origin);
  int32_t GetSize();
  void SetSize(int32_t newSize);
  void SetCapacity(int32_t newCapacity);
  void Clear();

  uint8_t* Memory = nullptr;
  int32_t Size = 0;
  int32_t Position = 0;
  int32_t Capacity = 0;
};

}  // namespace stub
