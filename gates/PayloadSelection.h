// Chooses the 32-bit or 64-bit setup program from the processor width of
// Windows and the user's "/32" switch.
#pragma once

#include "launcher/StubContext.h"
#include "package/StubTypes.h"

namespace stub {

enum class PayloadChoice { k32Bit, k64Bit, kRefused };

// The decision. Asks `platform.IsWow64()` only on the paths that need it.
PayloadChoice ChoosePayload(const PackageHeader& header, const ArgumentList& arguments,
                            Platform& platform);

// Returns the descriptor to unpack, and in `x86` whether it is the 32-bit
// program; a refusal shows the package's wrong-width message and ends the
// process.
PayloadDescriptor SelectPayload(const StubContext& context, const PackageHeader& header,
                                bool* x86 = nullptr);

}  // namespace stub
