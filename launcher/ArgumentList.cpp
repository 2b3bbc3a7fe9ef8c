#include "launcher/ArgumentList.h"

#include <new>

#include "platform/Memory.h"

namespace stub {

namespace {

// Splits off the argument that starts at `p` (after the separators), moving
// `p` past it. Quotes toggle a quoted stretch and are dropped.
Text NextArgument(const char16_t*& p) {
  // Separators are skipped, and so is an adjacent pair of quotes met among
  // them: "" on its own is no argument.
  for (;;) {
    if (IsArgumentSeparator(*p)) {
      ++p;
    } else if (p[0] == u'"' && p[1] == u'"') {
      p += 2;
    } else {
      break;
    }
  }
  Text argument;
  bool quoted = false;
  while (*p != 0 && (quoted || *p > 32)) {
    const char16_t* start = p;
    while (*p != 0 && *p != u'"' && (quoted || *p > 32)) ++p;
    argument.Append(start, static_cast<size_t>(p - start));
    if (*p == u'"') {
      quoted = !quoted;
      ++p;
    }
  }
  return argument;
}

}  // namespace

ArgumentList::ArgumentList(const char16_t* commandLine, const Text& modulePath) {
  const char16_t* p = commandLine ? commandLine : u"";
  NextArgument(p);  // the program's own name, replaced by the module path
  Push(Text(modulePath));
  for (;;) {
    Text argument = NextArgument(p);
    if (argument.Empty()) break;
    Push(static_cast<Text&&>(argument));
    ++count_;
  }
}

ArgumentList::ArgumentList(ArgumentList&& other) noexcept
    : items_(other.items_), count_(other.count_), capacity_(other.capacity_) {
  other.items_ = nullptr;
  other.count_ = other.capacity_ = 0;
}

ArgumentList& ArgumentList::operator=(ArgumentList&& other) noexcept {
  if (this != &other) {
    this->~ArgumentList();
    items_ = other.items_;
    count_ = other.count_;
    capacity_ = other.capacity_;
    other.items_ = nullptr;
    other.count_ = other.capacity_ = 0;
  }
  return *this;
}

ArgumentList::~ArgumentList() {
  if (!items_) return;
  for (int i = 0; i <= count_ && i < capacity_; ++i) items_[i].~Text();
  FreeBlock(items_);
  items_ = nullptr;
}

void ArgumentList::Push(Text&& argument) {
  const int used = items_ ? count_ + 1 : 0;
  if (used == capacity_) {
    const int grown = capacity_ ? capacity_ * 2 : 8;
    auto* block = static_cast<Text*>(AllocateBlock(sizeof(Text) * static_cast<size_t>(grown)));
    if (!block) MemoryExhausted();
    for (int i = 0; i < used; ++i) {
      new (&block[i]) Text(static_cast<Text&&>(items_[i]));
      items_[i].~Text();
    }
    FreeBlock(items_);
    items_ = block;
    capacity_ = grown;
  }
  new (&items_[used]) Text(static_cast<Text&&>(argument));
}

const Text& ArgumentList::Argument(int i) const {
  static const Text empty;
  if (i < 0 || i > count_ || !items_) return empty;
  return items_[i];
}

void ArgumentList::Remove(int i) {
  if (i < 1 || i > count_ || !items_) return;
  for (int k = i; k < count_; ++k) items_[k] = static_cast<Text&&>(items_[k + 1]);
  // The last slot is left unconstructed, as Push expects past the end.
  items_[count_].~Text();
  --count_;
}

bool SameTextAscii(const Text& a, const char16_t* b) {
  size_t i = 0;
  for (; i < a.Length(); ++i) {
    char16_t x = a[i];
    char16_t y = b[i];
    if (y == 0) return false;
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return b[i] == 0;
}

}  // namespace stub
