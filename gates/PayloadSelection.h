// Chooses the 32-bit or 64-bit setup program from the processor width of
// Windows and the user's "/32" switch.
#pragma once

#include "launcher/StubContext.h"
#include "package/StubTypes.h"

namespace stub {

enum class PayloadChoice { k32Bit, k64Bit, kRefused };

// The decision, from plain values. `switch32`: an argument after the
// launcher's path is exactly "/32". On an Arm64 machine Windows is 64-bit
// for every rule, but the x64 program is taken only where Windows runs x64
// programs there; elsewhere `machine.wow64` alone decides.
PayloadChoice DecidePayload(const PackageHeader& header, bool switch32,
                            const MachineFacts& machine);

// The decision on this computer. Asks `platform.Machine()` only where its
// answer can change the choice.
PayloadChoice ChoosePayload(const PackageHeader& header, const ArgumentList& arguments,
                            Platform& platform);

// Returns the descriptor to unpack, and in `x86` whether it is the 32-bit
// program; a refusal shows the package's wrong-width message and ends the
// process.
PayloadDescriptor SelectPayload(const StubContext& context, const PackageHeader& header,
                                bool* x86 = nullptr);

}  // namespace stub
