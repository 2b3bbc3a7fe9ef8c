// What Windows says about the processor, for code that has no platform at
// hand (the checksum picks its loop on first use).
#pragma once

namespace stub {

// True when Windows saves and restores the SSE2 registers across task
// switches: IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE),
// looked up at run time; false where the function is missing (Windows 95,
// NT 4 before its service packs) or says no. CPUID only says what the
// processor can do: on a Windows that does not save the registers the first
// SSE instruction faults.
bool SystemSupportsSse2();

}  // namespace stub
