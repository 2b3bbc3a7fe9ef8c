#include "launcher/Stub32.h"

#include "gates/ExpiryGate.h"
#include "gates/PayloadSelection.h"
#include "gates/WindowsVersionGate.h"
#include "launch/LaunchPlan.h"
#include "launch/TemporaryCopy.h"
#include "launcher/FatalMessages.h"
#include "package/PackageMessage.h"
#include "package/VerifyPackage.h"
#include "unpack/LzmaUnpack.h"
#include "unpack/NoRTLStream.h"

namespace stub {

void RunLauncher(Platform& platform) {
  const Text modulePath = platform.ModulePath();
  const Text commandLine = platform.CommandLine();
  StubContext context{platform, ArgumentList(commandLine.Data(), modulePath)};

  if (!platform.OpenPackageFile(context.arguments.Argument(0))) {
    ShowFatalMessage(context, FatalMessage::kDamaged);
  }
  const PackageLocator locator = VerifyPackage(context);
  const PackageHeader header = ReadPackageHeader(context, locator.packageOffset);

  CheckExpiry(context, header);
  const PayloadDescriptor payload = SelectPayload(context, header);
  const uint32_t majorVersion = CheckWindowsVersion(context, header);

  Text temporaryCopyPath;
  {
    TStream input;
    TStream output;
    UnpackPayload(context, header, payload, input, output, PayloadChecksummed(locator, payload));
    temporaryCopyPath = CreateTemporaryCopy(context, output, payload.unpackedSize);
    // Both images, packed and unpacked, are freed when this scope ends, before
    // the start: the wait that follows lasts as long as the installation, and
    // the setup program should not have to share the machine with up to twice
    // its own size held by a launcher that does nothing but wait.
  }
  platform.ClosePackageFile();

  RunSetupProgram(context, temporaryCopyPath, majorVersion, header.elevationMode,
                  locator.detachedMinSize != 0);
}

}  // namespace stub
