#include "gates/PayloadSelection.h"

#include "package/PackageMessage.h"

namespace stub {

namespace {

bool HasSwitch32(const ArgumentList& arguments) {
  for (int i = arguments.Count(); i >= 1; --i) {
    if (arguments.Argument(i) == u"/32") return true;
  }
  return false;
}

// A 32-bit program that may run everywhere, and no 64-bit one or the user
// asked for the 32-bit one: nothing the machine says changes the choice.
bool MachineMatters(const PackageHeader& header, bool switch32) {
  return !HasX86(header) || BarredFrom64Bit(header) || (HasX64(header) && !switch32);
}

}  // namespace

PayloadChoice DecidePayload(const PackageHeader& header, bool switch32,
                            const MachineFacts& machine) {
  const bool arm64 = machine.nativeMachine == kMachineArm64;
  const bool windows64 = arm64 || machine.wow64;
  const bool x64Runs = arm64 ? machine.x64Runs : machine.wow64;
  if (!HasX86(header)) return x64Runs ? PayloadChoice::k64Bit : PayloadChoice::kRefused;
  if (BarredFrom64Bit(header)) return windows64 ? PayloadChoice::kRefused : PayloadChoice::k32Bit;
  if (!HasX64(header) || switch32) return PayloadChoice::k32Bit;
  return x64Runs ? PayloadChoice::k64Bit : PayloadChoice::k32Bit;
}

PayloadChoice ChoosePayload(const PackageHeader& header, const ArgumentList& arguments,
                            Platform& platform) {
  const bool switch32 = HasX64(header) && HasSwitch32(arguments);
  const MachineFacts machine =
      MachineMatters(header, switch32) ? platform.Machine() : MachineFacts{};
  return DecidePayload(header, switch32, machine);
}

PayloadDescriptor SelectPayload(const StubContext& context, const PackageHeader& header,
                                bool* x86) {
  const PayloadChoice choice = ChoosePayload(header, context.arguments, context.platform);
  if (choice == PayloadChoice::kRefused) {
    ShowPackageMessage(context, header.wrongWidthMessage, nullptr, EndReason::kWrongWidth,
                       LauncherText::kWrongWidth);
  }
  if (x86) *x86 = choice == PayloadChoice::k32Bit;
  return choice == PayloadChoice::k32Bit ? header.payload32 : header.payload64;
}

}  // namespace stub
