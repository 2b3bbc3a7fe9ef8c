// Refuses Windows versions and Windows 10/11 feature releases that the
// package does not allow, naming the version found. Where Windows cannot tell
// what the gate needs (a failed version query or registry read), it passes.
#pragma once

#include <cstdint>

#include "launcher/StubContext.h"
#include "package/StubTypes.h"

namespace stub {

struct WindowsVerdict {
  bool pass = true;
  Text name;                  // the version named in the refusal
  uint32_t majorVersion = 0;  // as reported; 0 when the query failed
};

// The decision, from the facts the platform reports. Makes the version and
// registry reads only where a path needs them, in order, and closes the
// registry key on every passing path.
WindowsVerdict JudgeWindowsVersion(Platform& platform, const PackageHeader& header);

// Runs the gate: returns the major version when the package may run, or shows
// the package's unsupported-Windows message with the name and ends the process.
uint32_t CheckWindowsVersion(const StubContext& context, const PackageHeader& header);

// Value of the decimal digits at the start of UTF-16LE registry data
// (byteCount div 2 units). Saturates at INT32_MAX instead of overflowing.
int32_t ParseLeadingDigits(const uint8_t* buffer, uint32_t byteCount);

}  // namespace stub
