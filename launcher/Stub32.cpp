#include "launcher/Stub32.h"

#include "gates/ExpiryGate.h"
#include "gates/PayloadSelection.h"
#include "gates/WindowsVersionGate.h"
#include "launch/Elevation.h"
#include "launch/LaunchPlan.h"
#include "launch/TemporaryCopy.h"
#include "launcher/FatalMessages.h"
#include "package/PackageMessage.h"
#include "package/VerifyPackage.h"
#include "unpack/LzmaUnpack.h"

namespace stub {

UserLanguages UsersLanguages(Platform& platform) {
  UserLanguages user;
  user.Add(platform.UserInterfaceLanguage());
  uint16_t preferred[kMaxUserLanguages];
  const uint32_t count = platform.UserPreferredLanguages(preferred, kMaxUserLanguages);
  for (uint32_t i = 0; i < count && i < kMaxUserLanguages; ++i) user.Add(preferred[i]);
  return user;
}

void ReadLauncherSettings(StubContext& context) {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  if (!context.platform.SettingsResource(data, size)) return;
  if (!DecodeLauncherSettings(data, size, UsersLanguages(context.platform), context.settings)) {
    ShowFatalMessage(context, FatalMessage::kDamaged);
  }
  SetOutOfMemoryEnding(EndingFor(EndReason::kOutOfMemory, context.settings.passExitCode,
                                 HasSilentSwitch(context.arguments)),
                       &context.settings.TextFor(LauncherText::kOutOfMemory));
}

uint32_t RunLauncher(Platform& platform) {
  const Text modulePath = platform.ModulePath();
  const Text commandLine = platform.CommandLine();
  StubContext context{platform, ArgumentList(commandLine.Data(), modulePath)};
  const bool relaunched = TakeRelaunchedSwitch(context.arguments);
  // First: how every later ending ends, and in which language.
  ReadLauncherSettings(context);

  if (!platform.OpenPackageFile(context.arguments.Argument(0))) {
    ShowFatalMessage(context, FatalMessage::kDamaged);
  }
  // Asked before the copy is made: an administrator's copy goes where only
  // administrators can write, and its data must be what the signed image
  // vouches for.
  const bool administrator = LaunchesAsAdministrator(platform);
  // The digest is checked where rights are at stake: in an elevated launcher.
  const PackageLocator locator = VerifyPackage(context, context.settings.hasDigest && administrator);
  const PackageHeader header = ReadPackageHeader(context, locator.packageOffset);

  CheckExpiry(context, header);
  bool x86 = false;
  const PayloadDescriptor payload = SelectPayload(context, header, &x86);
  const uint32_t majorVersion = CheckWindowsVersion(context, header);
  const auto passOn = [&](uint32_t exitCode) {
    // The setup program's verdict is passed on only when the vendor asked
    // for it: callers of every other package rely on 0.
    return context.settings.passExitCode ? exitCode : 0;
  };

  // Refusals come first, so that nobody is asked for rights to be told no.
  ProgramFacts facts = RecordedProgramFacts(context, x86);
  if (!relaunched &&
      StartWouldRaiseRights(context, majorVersion, administrator, header.elevationMode, facts)) {
    platform.ClosePackageFile();
    return passOn(RelaunchElevated(context));
  }

  TemporaryCopy copy;
  {
    // The program goes straight from the package into its copy, a piece at
    // a time: memory is the decoder's window, whatever the program's size.
    PayloadDecoder program(context, header, payload);
    copy = CreateTemporaryCopy(context, program, administrator);
    // The window and the pieces are freed when this scope ends, before the
    // start: the wait that follows lasts as long as the installation, and the
    // setup program should not have to share the machine with buffers held by
    // a launcher that does nothing but wait.
  }
  platform.ClosePackageFile();

  // A package built without the record: the copy's own manifest says what
  // the start would ask for, read before anything starts it.
  if (!relaunched && facts.level == RequestedLevel::kUnknown &&
      StartsThroughShell(majorVersion, administrator)) {
    facts.level = LevelOfCopy(platform, copy.path);
    if (StartWouldRaiseRights(context, majorVersion, administrator, header.elevationMode, facts)) {
      platform.ReleaseCopy();
      RemoveTemporaryCopy(platform, copy, false);
      return passOn(RelaunchElevated(context));
    }
  }

  return passOn(RunSetupProgram(context, copy, majorVersion, administrator, header.elevationMode,
                                locator.detachedMinSize != 0));
}

}  // namespace stub
