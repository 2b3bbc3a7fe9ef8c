// Text: the launcher's one string type, a growable run of UTF-16 units that is
// always NUL-terminated. Deliberately tiny: the stub cannot afford the standard
// string classes, and nothing here throws. An allocation that fails ends the
// process through MemoryExhausted().
#pragma once

#include <cstddef>
#include <cstdint>

namespace stub {

class Text {
 public:
  Text() = default;
  Text(const char16_t* s);  // NOLINT(google-explicit-constructor): literals read naturally
  Text(const char16_t* s, size_t length);
  Text(const Text& other);
  Text(Text&& other) noexcept;
  Text& operator=(const Text& other);
  Text& operator=(Text&& other) noexcept;
  ~Text();

  size_t Length() const { return length_; }
  bool Empty() const { return length_ == 0; }
  // Always a valid NUL-terminated string, also when empty.
  const char16_t* Data() const { return data_ ? data_ : u""; }
  // Writable buffer of Length()+1 units (for calls that want a mutable string).
  char16_t* MutableData();
  char16_t operator[](size_t i) const { return data_[i]; }
  char16_t Last() const { return length_ ? data_[length_ - 1] : u'\0'; }

  Text& Append(const char16_t* s, size_t n);
  Text& Append(const char16_t* s);
  Text& Append(const Text& t) { return Append(t.Data(), t.Length()); }
  Text& Append(char16_t c) { return Append(&c, 1); }

  // First index of `needle` at or after `from`, or npos.
  size_t Find(const char16_t* needle, size_t from = 0) const;
  Text Substring(size_t from, size_t count) const;
  // Replaces `count` units at `at` by `with`.
  void Replace(size_t at, size_t count, const Text& with);
  void Truncate(size_t newLength);

  bool operator==(const Text& other) const;
  bool operator==(const char16_t* other) const;
  bool operator!=(const Text& other) const { return !(*this == other); }

  static constexpr size_t npos = static_cast<size_t>(-1);

 private:
  void Reserve(size_t capacity);
  char16_t* data_ = nullptr;
  size_t length_ = 0;
  size_t capacity_ = 0;  // units, excluding the terminator
};

size_t StringLength(const char16_t* s);

}  // namespace stub
