#include "platform/Memory.h"

#include <cstdlib>

namespace stub {

namespace {
ExhaustedHandler g_exhausted = nullptr;
}

const char16_t kMsgOutOfMemory[] =
    u"There is not enough free memory to unpack the setup program.  "
    u"Close other programs and try again.";

ExhaustedHandler SetMemoryExhaustedHandler(ExhaustedHandler handler) {
  const ExhaustedHandler previous = g_exhausted;
  g_exhausted = handler;
  return previous;
}

void MemoryExhausted() {
  if (g_exhausted) g_exhausted();
  std::abort();
}

}  // namespace stub
