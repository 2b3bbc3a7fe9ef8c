#include "package/Text.h"

#include <cstring>

#include "platform/Memory.h"

namespace stub {

size_t StringLength(const char16_t* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

Text::Text(const char16_t* s) { Append(s); }
Text::Text(const char16_t* s, size_t length) { Append(s, length); }
Text::Text(const Text& other) { Append(other); }
Text::Text(Text&& other) noexcept
    : data_(other.data_), length_(other.length_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.length_ = other.capacity_ = 0;
}
Text& Text::operator=(const Text& other) {
  if (this != &other) {
    length_ = 0;
    Append(other);
  }
  return *this;
}
Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    FreeBlock(data_);
    data_ = other.data_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }
  return *this;
}
Text::~Text() { FreeBlock(data_); }

void Text::Reserve(size_t capacity) {
  if (capacity <= capacity_ && data_) return;
  size_t grown = capacity_ + capacity_ / 2;
  if (grown < capacity) grown = capacity;
  if (grown < 15) grown = 15;
  if (grown > (static_cast<size_t>(-1) / sizeof(char16_t)) - 1) MemoryExhausted();
  void* block = ResizeBlock(data_, (grown + 1) * sizeof(char16_t));
  if (!block) MemoryExhausted();
  data_ = static_cast<char16_t*>(block);
  capacity_ = grown;
  data_[length_] = 0;
}

char16_t* Text::MutableData() {
  Reserve(length_);
  return data_;
}

Text& Text::Append(const char16_t* s, size_t n) {
  if (length_ + n < length_) MemoryExhausted();
  // `s` may point into our own buffer; remember its offset across the resize.
  const bool inside = data_ && s >= data_ && s <= data_ + length_;
  const size_t offset = inside ? static_cast<size_t>(s - data_) : 0;
  Reserve(length_ + n);
  if (inside) s = data_ + offset;
  if (n) std::memmove(data_ + length_, s, n * sizeof(char16_t));
  length_ += n;
  data_[length_] = 0;
  return *this;
}

Text& Text::Append(const char16_t* s) { return Append(s, StringLength(s)); }

size_t Text::Find(const char16_t* needle, size_t from) const {
  const size_t n = StringLength(needle);
  if (n == 0) return from <= length_ ? from : npos;
  for (size_t i = from; i + n <= length_; ++i) {
    if (std::memcmp(data_ + i, needle, n * sizeof(char16_t)) == 0) return i;
  }
  return npos;
}

Text Text::Substring(size_t from, size_t count) const {
  if (from > length_) from = length_;
  if (count > length_ - from) count = length_ - from;
  return Text(Data() + from, count);
}

void Text::Replace(size_t at, size_t count, const Text& with) {
  Text result(Data(), at);
  result.Append(with);
  result.Append(Data() + at + count, length_ - at - count);
  *this = static_cast<Text&&>(result);
}

void Text::Truncate(size_t newLength) {
  if (newLength < length_) {
    length_ = newLength;
    data_[length_] = 0;
  }
}

bool Text::operator==(const Text& other) const {
  return length_ == other.length_ &&
         (length_ == 0 || std::memcmp(data_, other.data_, length_ * sizeof(char16_t)) == 0);
}

bool Text::operator==(const char16_t* other) const {
  const size_t n = StringLength(other);
  return n == length_ && (n == 0 || std::memcmp(data_, other, n * sizeof(char16_t)) == 0);
}

}  // namespace stub
