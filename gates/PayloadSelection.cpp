#include "gates/PayloadSelection.h"

#include "package/PackageMessage.h"

namespace stub {

PayloadChoice ChoosePayload(const PackageHeader& header, const ArgumentList& arguments,
                            Platform& platform) {
  if (!HasX86(header)) {
    return platform.IsWow64() ? PayloadChoice::k64Bit : PayloadChoice::kRefused;
  }
  if (BarredFrom64Bit(header)) {
    return platform.IsWow64() ? PayloadChoice::kRefused : PayloadChoice::k32Bit;
  }
  if (!HasX64(header)) return PayloadChoice::k32Bit;
  for (int i = arguments.Count(); i >= 1; --i) {
    if (arguments.Argument(i) == u"/32") return PayloadChoice::k32Bit;
  }
  return platform.IsWow64() ? PayloadChoice::k64Bit : PayloadChoice::k32Bit;
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
