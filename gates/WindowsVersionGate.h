// Refuses Windows versions and Windows 10/11 feature releases that the
// package does not allow, naming the version found. Where Windows cannot tell
// what the gate needs (a failed version query or registry read), it passes.
#pragma once

#include <cstdint>

#include "launcher/StubContext.h"
#include "package/StubTypes.h"

namespace stub {

// Release codes from this one on also admit releases nobody has named yet.
constexpr uint16_t kOpenEndedRelease = 9999;
// Windows 10 and 11 both report version 10.0; CurrentBuild tells them apart.
constexpr int32_t kFirstWindows11Build = 22000;
// From this Windows 10 build on, "DisplayVersion" names the release and
// "ReleaseId" stays at 2009.
constexpr int32_t kFirstDisplayVersionBuild = 19042;

// One feature release of Windows 10 or 11, oldest first: the one table that
// the gate names releases from and pkgtool describes them with.
struct WindowsRelease {
  const char16_t* name;   // "1809" (its ReleaseId) or "22H2" (its DisplayVersion)
  const char16_t* label;  // "October 2018 Update"
  uint16_t code;          // YYMM, as the header stores release limits
  uint32_t build;         // CurrentBuild of the release
  uint32_t lastBuild;     // Windows 11: the last build the gate takes as this release
};

struct WindowsReleaseList {
  const WindowsRelease* rows;
  uint32_t count;
  const WindowsRelease* begin() const { return rows; }
  const WindowsRelease* end() const { return rows + count; }
};

extern const WindowsReleaseList kWindows10Releases;
extern const WindowsReleaseList kWindows11Releases;

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
