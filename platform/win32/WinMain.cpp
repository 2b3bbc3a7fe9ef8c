// The stub's entry. It hardens the DLL search before any code could load a
// library, wires the out-of-memory box to Windows, runs the launcher and
// ends the process with the exit code it returns (0 unless the vendor chose
// deployment mode).
//
// Windows calls StubEntry directly: the image carries no C runtime start-up
// (see StubRuntime.cpp), so no constructors of statics run before it, and the
// launcher's code must not rely on any.
#include <windows.h>

#include "launcher/FatalMessages.h"
#include "launcher/Stub32.h"
#include "platform/Memory.h"
#include "platform/win32/EntryPoint.h"
#include "platform/win32/Win32Platform.h"

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);

// A package is typically started from a downloads folder, where anyone can
// have left a DLL named like a system one. Libraries that load later (shell
// extensions behind ShellExecuteExW, for one) must come from the system
// folder. Where that switch is missing (before the 2011 loader update), at
// least take the current folder out of the search.
void HardenDllSearch() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (const auto setDefault =
          stub::FindEntryPoint<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories")) {
    if (setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  }
  if (const auto setDirectory = stub::FindEntryPoint<SetDllDirectoryWFn>(kernel, "SetDllDirectoryW")) {
    setDirectory(L"");
  }
}

// Runs when an allocation fails anywhere in the launcher. It allocates
// nothing itself: the caption comes straight into a buffer on the stack.
[[noreturn]] void ShowOutOfMemory() {
  wchar_t caption[262] = {};
  GetModuleFileNameW(nullptr, caption, 261);
  stub::Win32Platform::ShowBoxAndExit(stub::OutOfMemoryText(),
                                      reinterpret_cast<const char16_t*>(caption),
                                      stub::OutOfMemoryEnding());
}

}  // namespace

// Windows guarantees only 4-byte stack alignment at a 32-bit entry point;
// the compiler may assume 16 inside, so the entry realigns.
extern "C" [[noreturn]] __attribute__((force_align_arg_pointer)) void StubEntry() {
  HardenDllSearch();
  stub::SetMemoryExhaustedHandler(&ShowOutOfMemory);
  stub::Win32Platform platform;
  ExitProcess(stub::RunLauncher(platform));
}
