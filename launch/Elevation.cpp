#include "launch/Elevation.h"

#include "launch/LaunchPlan.h"
#include "launch/TemporaryCopy.h"
#include "launcher/FatalMessages.h"

namespace stub {

const char16_t kRelaunchedSwitch[] = u"/~elevated";

bool TakeRelaunchedSwitch(ArgumentList& arguments) {
  // Exactly as written, in first place: the launcher puts it there itself.
  if (arguments.Count() < 1 || arguments.Argument(1) != kRelaunchedSwitch) return false;
  arguments.Remove(1);
  return true;
}

ProgramFacts RecordedProgramFacts(const StubContext& context, bool x86) {
  ProgramFacts facts;
  const int slot = x86 ? 0 : 1;
  facts.level = context.settings.programLevel[slot];
  facts.x86 = x86;
  facts.namedInstaller = context.settings.programNamedInstaller[slot];
  return facts;
}

bool StartWouldRaiseRights(const StubContext& context, uint32_t majorVersion, bool administrator,
                           ElevationMode elevationMode, const ProgramFacts& program) {
  if (program.level == RequestedLevel::kUnknown) return false;
  // Only a shell start can raise rights; its verb as the start would choose it.
  const LaunchPlan plan = ChooseLaunchPlan(majorVersion, administrator, context.arguments,
                                           elevationMode, Text(), Text(), Text());
  if (plan.mode != StartMode::kShellStart) return false;
  const bool runas = plan.verb == u"runas";
  // Installer detection looks at the file Windows starts, which bears the
  // package's name, and at the program's version information.
  const bool detection =
      program.x86 && (program.namedInstaller ||
                      NameSuggestsInstaller(ExtractName(context.arguments.Argument(0))));
  const bool filtered = program.level == RequestedLevel::kHighestAvailable &&
                        context.platform.IsFilteredAdministrator();
  return StartRaisesRights(runas, program.level, filtered, detection);
}

RequestedLevel LevelOfCopy(Platform& platform, const Text& copyPath) {
  const uint8_t* manifest = nullptr;
  uint32_t size = 0;
  if (!platform.ProgramManifest(copyPath, manifest, size)) return RequestedLevel::kNotStated;
  const RequestedLevel level = LevelFromManifest(manifest, size);
  platform.ReleaseProgramManifest();
  return level;
}

uint32_t RelaunchElevated(const StubContext& context) {
  Platform& platform = context.platform;
  // An elevated process does not see the user's mapped drives.
  const Text file = ResolveUniversalPath(platform, context.arguments.Argument(0));
  Text parameters(kRelaunchedSwitch);
  AppendArguments(parameters, context.arguments);
  const bool noUi = context.settings.passExitCode && HasSilentSwitch(context.arguments);
  ProcessHandle process = 0;
  const StartResult started = platform.StartShell(u"runas", file, parameters, noUi, process);
  if (started != StartResult::kStarted) {
    EndWithCannotExecute(context, started == StartResult::kCancelled ? EndReason::kElevationDeclined
                                                                     : EndReason::kCannotExecute);
  }
  return platform.WaitAndClose(process);
}

}  // namespace stub
