#include "launcher/FatalMessages.h"

#include "launcher/Endings.h"

namespace stub {

namespace {

// The columns the stub needs, drawn from the table at compile time: the
// names and keys beside them are never linked in.
struct Columns {
  const char16_t* english[4];
  uint16_t exitCodes[kEndingCount];
};
constexpr Columns kColumns = [] {
  Columns c{};
  for (int i = 0; i < 4; ++i) c.english[i] = kEndings[i].english;
  for (int i = 0; i < kEndingCount; ++i) c.exitCodes[i] = static_cast<uint16_t>(kEndings[i].exitCode);
  return c;
}();
static_assert([] {
  for (const EndingFacts& e : kEndings) {
    if (e.exitCode > 0xFFFF) return false;
  }
  return true;
}());

}  // namespace

const char16_t* FatalMessageText(FatalMessage message) {
  return kColumns.english[static_cast<int>(message) & 3];
}

namespace {

// Zero-initialised: no constructor runs in the stub before its entry.
struct {
  bool set;
  Ending ending;
  const char16_t* text;
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
  const auto i = static_cast<unsigned>(reason);
  return i < kEndingCount ? kColumns.exitCodes[i] : kColumns.exitCodes[static_cast<int>(EndReason::kCannotExecute)];
}

Ending EndingFor(EndReason reason, bool passExitCode, bool silent) {
  if (!passExitCode) return Ending{};
  // A deployment tool judges by the exit code; a box in a session nobody
  // sees would only hold the deployment up until its time-out.
  return Ending{!silent, DeploymentExitCode(reason)};
}

void SetOutOfMemoryEnding(Ending ending, const Text* text) {
  g_outOfMemory.set = true;
  g_outOfMemory.ending = ending;
  g_outOfMemory.text = text && !text->Empty() ? text->Data() : nullptr;
}

void ResetOutOfMemoryEnding() {
  g_outOfMemory.set = false;
  g_outOfMemory.text = nullptr;
}

const char16_t* OutOfMemoryText() { return g_outOfMemory.text ? g_outOfMemory.text : kMsgOutOfMemory; }

Ending OutOfMemoryEnding() { return g_outOfMemory.set ? g_outOfMemory.ending : Ending{}; }

bool HasSilentSwitch(const ArgumentList& arguments) {
  for (int i = arguments.Count(); i >= 1; --i) {
    const Text& argument = arguments.Argument(i);
    if (SameTextAscii(argument, u"/silent") || SameTextAscii(argument, u"/s")) return true;
  }
  return false;
}

}  // namespace stub
