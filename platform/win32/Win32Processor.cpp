#include <windows.h>

#include "platform/Processor.h"
#include "platform/win32/EntryPoint.h"

namespace stub {

namespace {
using IsProcessorFeaturePresentFn = BOOL(WINAPI*)(DWORD);
constexpr DWORD kXmmi64InstructionsAvailable = 10;  // PF_XMMI64_INSTRUCTIONS_AVAILABLE
}  // namespace

bool SystemSupportsSse2() {
  const auto isPresent = FindEntryPoint<IsProcessorFeaturePresentFn>(
      GetModuleHandleW(L"kernel32.dll"), "IsProcessorFeaturePresent");
  return isPresent && isPresent(kXmmi64InstructionsAvailable);
}

}  // namespace stub
