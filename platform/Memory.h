// The one place large and small blocks come from, so that an exhausted
// allocation anywhere in the launcher becomes one clear error box instead of
// an abort or a silent end.
#pragma once

#include <cstddef>

namespace stub {

// A block of `size` bytes (content unspecified), or null when none is to be had.
void* AllocateBlock(size_t size);
// Resizes `block` (null allocates); keeps the common prefix; null on failure,
// in which case `block` is still valid and owned by the caller.
void* ResizeBlock(void* block, size_t size);
void FreeBlock(void* block);

// Ends the process with the out-of-memory box. Never returns.
[[noreturn]] void MemoryExhausted();

// The text of that box. Our own words: the launcher's four fixed messages say
// nothing about memory.
extern const char16_t kMsgOutOfMemory[];

// Installs what MemoryExhausted() does: the driver points it at the active
// platform's error box. The handler must not return. Returns the handler it
// replaces, so that a scoped owner can put it back.
using ExhaustedHandler = void (*)();
ExhaustedHandler SetMemoryExhaustedHandler(ExhaustedHandler handler);

}  // namespace stub
