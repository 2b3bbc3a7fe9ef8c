#include "platform/Processor.h"
#include "platform/memory/MemoryPlatform.h"

namespace stub {

namespace {
// Every system the host build runs on saves the SSE registers.
bool g_sse2Supported = true;
}  // namespace

bool SystemSupportsSse2() { return g_sse2Supported; }
void SetSse2SupportForTesting(bool supported) { g_sse2Supported = supported; }

}  // namespace stub
