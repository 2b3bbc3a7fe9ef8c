#include "launcher/FatalMessages.h"

namespace stub {

const char16_t* FatalMessageText(FatalMessage message) {
  switch (message) {
    case FatalMessage::kDamaged:
      return u"An error occurred while trying to read the setup package.  It has most likely "
             u"been damaged.  Please obtain a new copy from the vendor.";
    case FatalMessage::kTruncated:
      return u"The setup package has been truncated.  You most likely have an incomplete "
             u"download.  Try downloading it again.";
    case FatalMessage::kCannotCreateCopy:
      return u"An error occurred while trying to create a temporary copy of the setup package.  "
             u"Please make sure that you have sufficient access rights to this computer to "
             u"install software and that the Windows TEMP folder can be written to.  You can "
             u"make this installer use a different folder for its temporary files using the "
             u"/temp command line parameter followed by the path to a folder you can write to "
             u"and run applications from.";
    case FatalMessage::kCannotExecute:
      break;
  }
  return u"The temporary copy of the setup package could not be executed.  Your system may "
         u"have a software restriction policy in place that blocks executables in the "
         u"temporary files folder.  You can make this installer use a different folder for "
         u"its temporary files using the /temp command line parameter followed by the path to "
         u"a folder you can write to and run applications from.";
}

namespace {

// Zero-initialised: no constructor runs in the stub before its entry.
struct {
  bool set;
  Ending ending;
} g_outOfMemory;

}  // namespace

void ShowFatalMessage(const StubContext& context, FatalMessage message) {
  // The four fixed messages share their order with the first four texts.
  const Text& translated = context.settings.TextFor(static_cast<LauncherText>(message));
  EndWithMessage(context, translated.Empty() ? Text(FatalMessageText(message)) : translated,
                 EndReasonOf(message));
}

void EndWithMessage(const StubContext& context, const Text& text, EndReason reason) {
  context.platform.ShowErrorAndExit(
      text, context.arguments.Argument(0), reason,
      EndingFor(reason, context.settings.passExitCode, HasSilentSwitch(context.arguments)));
  __builtin_trap();  // a platform whose box returned must not let the sequence go on
}

uint32_t DeploymentExitCode(EndReason reason) {
  switch (reason) {
    case EndReason::kDamaged:
    case EndReason::kTruncated:
      return kExitPackageInvalid;
    case EndReason::kCannotCreateCopy:
    case EndReason::kCannotExecute:
      return kExitInstallFailure;
    case EndReason::kWrongWidth:
    case EndReason::kUnsupportedWindows:
      return kExitPlatformUnsupported;
    case EndReason::kExpired:
      return kExitExpired;
    case EndReason::kOutOfMemory:
      return kExitOutOfMemory;
    case EndReason::kElevationDeclined:
      return kExitCancelled;
  }
  return kExitInstallFailure;
}

Ending EndingFor(EndReason reason, bool passExitCode, bool silent) {
  if (!passExitCode) return Ending{};
  // A deployment tool judges by the exit code; a box in a session nobody
  // sees would only hold the deployment up until its time-out.
  return Ending{!silent, DeploymentExitCode(reason)};
}

void SetOutOfMemoryEnding(Ending ending) {
  g_outOfMemory.set = true;
  g_outOfMemory.ending = ending;
}

void ResetOutOfMemoryEnding() { g_outOfMemory.set = false; }

Ending OutOfMemoryEnding() { return g_outOfMemory.set ? g_outOfMemory.ending : Ending{}; }

bool HasSilentSwitch(const ArgumentList& arguments) {
  for (int i = arguments.Count(); i >= 1; --i) {
    const Text& argument = arguments.Argument(i);
    if (SameTextAscii(argument, u"/silent") || SameTextAscii(argument, u"/s")) return true;
  }
  return false;
}

}  // namespace stub
