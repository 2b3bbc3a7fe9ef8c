// Refuses a package on or after its stored expiry date (local date).
#pragma once

#include "launcher/StubContext.h"
#include "package/StubTypes.h"

namespace stub {

// True when the package may no longer run on `today`. The stored date is the
// first refused day; fields are compared as plain numbers.
bool IsExpired(const PackageHeader& header, const LocalDate& today);

// Returns when the package may run; otherwise shows the package's expired
// message and ends the process. The clock is read only when a date is set.
void CheckExpiry(const StubContext& context, const PackageHeader& header);

}  // namespace stub
