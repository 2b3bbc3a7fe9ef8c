// Blocks come from the process heap. HeapReAlloc without
// HEAP_REALLOC_IN_PLACE_ONLY may move the block, and on failure leaves the
// old one intact, which is what ResizeBlock promises.
//
// The global allocation operators are routed here as well: the library
// versions throw std::bad_alloc, which would drag the exception machinery
// into a stub built without exceptions.
#include <windows.h>

#include <new>

#include "platform/Memory.h"

namespace stub {

void* AllocateBlock(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void* ResizeBlock(void* block, size_t size) {
  if (!block) return AllocateBlock(size);
  return HeapReAlloc(GetProcessHeap(), 0, block, size);
}

void FreeBlock(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace stub

namespace {

void* AllocateOrEnd(size_t size) {
  void* block = stub::AllocateBlock(size ? size : 1);
  if (!block) stub::MemoryExhausted();
  return block;
}

}  // namespace

void* operator new(size_t size) { return AllocateOrEnd(size); }
void* operator new[](size_t size) { return AllocateOrEnd(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return stub::AllocateBlock(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return stub::AllocateBlock(size ? size : 1); }
void operator delete(void* block) noexcept { stub::FreeBlock(block); }
void operator delete[](void* block) noexcept { stub::FreeBlock(block); }
void operator delete(void* block, size_t) noexcept { stub::FreeBlock(block); }
void operator delete[](void* block, size_t) noexcept { stub::FreeBlock(block); }
