// The few C runtime routines that the launcher and liblzma call. The stub is
// linked without the MinGW C runtime (its start-up code, stdio and msvcrt.dll
// import cost more than everything the launcher does), so these stand in.
//
// This file is compiled with -fno-builtin and without loop-to-call
// conversion: otherwise the compiler may turn the byte loops below back into
// calls to the very functions they define.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/Memory.h"

extern "C" {

// Block copies use the string instructions: a few bytes of code, and on
// current processors as fast as any hand-written loop for the sizes the
// decoder copies (a match of 2 to 273 bytes, or a window at a time).
void* memcpy(void* destination, const void* source, size_t count) {
  void* to = destination;
  asm volatile("rep movsb" : "+D"(to), "+S"(source), "+c"(count) : : "memory");
  return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
  const auto to = reinterpret_cast<uintptr_t>(destination);
  const auto from = reinterpret_cast<uintptr_t>(source);
  // Only a target that starts inside the source must be copied backwards.
  if (to - from >= count) return memcpy(destination, source, count);
  auto* last = static_cast<uint8_t*>(destination) + count - 1;
  const auto* lastSource = static_cast<const uint8_t*>(source) + count - 1;
  asm volatile("std\n\trep movsb\n\tcld"
               : "+D"(last), "+S"(lastSource), "+c"(count)
               :
               : "memory");
  return destination;
}

void* memset(void* destination, int value, size_t count) {
  void* to = destination;
  asm volatile("rep stosb" : "+D"(to), "+c"(count) : "a"(value) : "memory");
  return destination;
}

int memcmp(const void* left, const void* right, size_t count) {
  const auto* a = static_cast<const uint8_t*>(left);
  const auto* b = static_cast<const uint8_t*>(right);
  for (; count; --count, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
  }
  return 0;
}

// liblzma falls back to these when no allocator is given. The launcher always
// gives one, but the references stay, and the heap serves them the same way.
void* malloc(size_t size) { return stub::AllocateBlock(size ? size : 1); }

void* calloc(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  void* block = malloc(count * size);
  if (block) memset(block, 0, count * size);
  return block;
}

void* realloc(void* block, size_t size) { return stub::ResizeBlock(block, size ? size : 1); }

void free(void* block) { stub::FreeBlock(block); }

// The process always ends through ExitProcess, so destructors of statics
// never need to run: there is nothing to register them with.
int atexit(void (*)()) { return 0; }

// Reached only if a handler broke its promise never to return.
[[noreturn]] void abort() { ExitProcess(0); }

// A call through a pure virtual function cannot happen in this program; if it
// ever did, ending at once beats running on through a bad vtable.
[[noreturn]] void __cxa_pure_virtual() { ExitProcess(0); }

}  // extern "C"
