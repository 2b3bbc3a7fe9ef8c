#include "launch/LaunchPlan.h"

#include "launch/TemporaryCopy.h"
#include "launcher/FatalMessages.h"

namespace stub {

namespace {

// Vista is the first version with user account control; before it there is
// nothing to elevate to.
constexpr uint32_t kFirstVersionWithElevation = 6;

constexpr ElevationMode kElevateWhenSilent = 1;
constexpr ElevationMode kNeverElevate = 2;

bool HasSeparator(const Text& argument) {
  for (size_t i = 0; i < argument.Length(); ++i) {
    if (IsArgumentSeparator(argument[i])) return true;
  }
  return false;
}

}  // namespace

Text ResolveUniversalPath(Platform& platform, const Text& path) {
  // Only a drive letter can be a mapped share; a UNC path already is the
  // network form and anything else has no drive to map.
  if (path.Length() < 2 || path[1] != u':') return path;
  Text universal;
  // An empty answer would hand the setup program no package at all.
  if (!platform.UniversalName(path, universal) || universal.Empty()) return path;
  return universal;
}

Text BuildArgumentsText(const Text& packagePath, const ArgumentList& arguments) {
  Text text(u"\"");
  text.Append(packagePath);
  text.Append(u'"');
  AppendArguments(text, arguments);
  return text;
}

void AppendArguments(Text& text, const ArgumentList& arguments) {
  for (int i = 1; i <= arguments.Count(); ++i) {
    const Text& argument = arguments.Argument(i);
    text.Append(u' ');
    if (!HasSeparator(argument)) {
      text.Append(argument);
      continue;
    }
    // "C:\Deploy Temp"\ rather than "C:\Deploy Temp\": CommandLineToArgvW
    // would read the backslash before the quote as escaping it, and the
    // argument would swallow the ones after it.
    size_t end = argument.Length();
    while (end > 0 && argument[end - 1] == u'\\') --end;
    text.Append(u'"');
    text.Append(argument.Data(), end);
    text.Append(u'"');
    text.Append(argument.Data() + end, argument.Length() - end);
  }
}

bool LaunchesAsAdministrator(Platform& platform) { return platform.IsAdministrator(); }

void EndWithCannotExecute(const StubContext& context, EndReason reason) {
  const Text& translated = context.settings.TextFor(LauncherText::kCannotExecute);
  EndWithMessage(context,
                 translated.Empty() ? Text(FatalMessageText(FatalMessage::kCannotExecute))
                                    : translated,
                 reason);
}

bool StartsThroughShell(uint32_t majorVersion, bool administrator) {
  return majorVersion >= kFirstVersionWithElevation && !administrator;
}

LaunchPlan ChooseLaunchPlan(uint32_t majorVersion, bool administrator,
                            const ArgumentList& arguments, ElevationMode elevationMode,
                            const Text& temporaryCopyPath, const Text& argumentsText,
                            const Text& packageFolder) {
  LaunchPlan plan;
  if (!StartsThroughShell(majorVersion, administrator)) {
    plan.mode = StartMode::kDirectStart;
    plan.commandLine = Text(u"\"");
    plan.commandLine.Append(temporaryCopyPath);
    plan.commandLine.Append(u"\" ");
    plan.commandLine.Append(argumentsText);
    plan.currentDirectory = packageFolder;
    return plan;
  }

  plan.mode = StartMode::kShellStart;
  plan.verb = Text(u"open");
  plan.file = temporaryCopyPath;
  plan.parameters = argumentsText;
  // An interactive setup elevates itself when it needs to, so it is told that
  // it was not started elevated; only a silent one may be elevated up front.
  if (!HasSilentSwitch(arguments) || elevationMode == kNeverElevate) {
    plan.parameters.Append(u" /noadmin");
  } else if (elevationMode == kElevateWhenSilent) {
    plan.verb = Text(u"runas");
  }
  return plan;
}

uint32_t RunSetupProgram(const StubContext& context, const TemporaryCopy& copy,
                         uint32_t majorVersion, bool administrator, ElevationMode elevationMode,
                         bool detached) {
  Platform& platform = context.platform;
  const ArgumentList& arguments = context.arguments;
  const Text& packagePath = arguments.Argument(0);

  const Text argumentsText =
      BuildArgumentsText(ResolveUniversalPath(platform, packagePath), arguments);
  // The working folder keeps the drive letter: a mapped drive is what the
  // user's session knows the package by.
  const LaunchPlan plan = ChooseLaunchPlan(majorVersion, administrator, arguments, elevationMode,
                                           copy.path, argumentsText, ExtractFolder(packagePath));

  ProcessHandle process = 0;
  // A silent deployment run never stops at a box, the shell's own included.
  const bool noUi = context.settings.passExitCode && HasSilentSwitch(arguments);
  const StartResult started =
      plan.mode == StartMode::kDirectStart
          ? (platform.StartDirect(plan.commandLine, plan.currentDirectory, process)
                 ? StartResult::kStarted
                 : StartResult::kFailed)
          : platform.StartShell(plan.verb, plan.file, plan.parameters, noUi, process);
  // The loader has mapped the image by now (or never will); our hold would
  // only stand in the way of the final delete.
  platform.ReleaseCopy();
  if (started != StartResult::kStarted) {
    // The same box either way; a deployment tool learns from the exit code
    // that the user said no.
    EndWithCannotExecute(context, started == StartResult::kCancelled
                                      ? EndReason::kElevationDeclined
                                      : EndReason::kCannotExecute);
  }

  if (detached) return 0;
  const uint32_t exitCode = platform.WaitAndClose(process);
  RemoveTemporaryCopy(platform, copy, true);
  return exitCode;
}

}  // namespace stub
