// Entry points that older Windows versions lack are looked up at run time;
// a missing one is the answer "no" for whoever asked.
#pragma once

#include <windows.h>

namespace stub {

// GetProcAddress on an already loaded module, cast to the entry's real type.
// Null when the module or the entry is missing.
template <typename Fn>
Fn FindEntryPoint(HMODULE module, const char* name) {
  if (!module) return nullptr;
  // Going through void(*)() keeps the cast between function types explicit
  // (GCC treats that type as compatible with every other).
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace stub
