// The launcher's view of its command line. The splitting rules are the
// launcher's own and differ from CommandLineToArgvW: backslashes mean
// nothing, a quote toggles a quoted stretch, any character up to code 32
// separates, and counting stops at the first empty argument.
#pragma once

#include "package/Text.h"

namespace stub {

class ArgumentList {
 public:
  ArgumentList() = default;
  // Splits `commandLine`; argument 0 becomes `modulePath`.
  ArgumentList(const char16_t* commandLine, const Text& modulePath);
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;
  ArgumentList(ArgumentList&& other) noexcept;
  ArgumentList& operator=(ArgumentList&& other) noexcept;
  ~ArgumentList();

  // Number of user arguments (argument 0 not counted).
  int Count() const { return count_; }
  // Argument i; the empty text for i outside 0..Count().
  const Text& Argument(int i) const;
  // Takes user argument i (1..Count()) out; the later ones move up.
  void Remove(int i);

 private:
  void Push(Text&& argument);
  Text* items_ = nullptr;  // Count() + 1 entries
  int count_ = 0;
  int capacity_ = 0;
};

// The characters the launcher splits its command line at.
inline bool IsArgumentSeparator(char16_t c) { return c >= 1 && c <= 32; }

// True when both have the same length and agree after folding only the ASCII
// letters a-z to upper case.
bool SameTextAscii(const Text& a, const char16_t* b);

}  // namespace stub
