// The launcher's four fixed error texts and the one way it fails with them.
#pragma once

#include "launcher/StubContext.h"

namespace stub {

enum class FatalMessage { kDamaged, kTruncated, kCannotCreateCopy, kCannotExecute };

// The four texts, in English (launcher/Endings.h holds them with the rest of
// what each ending is).
extern const char16_t kMsgDamaged[];
extern const char16_t kMsgTruncated[];
extern const char16_t kMsgCannotCreateCopy[];
extern const char16_t kMsgCannotExecute[];
const char16_t* FatalMessageText(FatalMessage message);

// The tag each fixed message ends the process with: the two lists share
// their order, so the stub needs no table for it.
constexpr EndReason EndReasonOf(FatalMessage message) { return static_cast<EndReason>(message); }
static_assert(EndReasonOf(FatalMessage::kDamaged) == EndReason::kDamaged &&
              EndReasonOf(FatalMessage::kTruncated) == EndReason::kTruncated &&
              EndReasonOf(FatalMessage::kCannotCreateCopy) == EndReason::kCannotCreateCopy &&
              EndReasonOf(FatalMessage::kCannotExecute) == EndReason::kCannotExecute);

// Error box with the message (in the user's language where the vendor's
// settings have it), captioned with the launcher's path; the process then
// ends as EndingFor says. Never returns.
[[noreturn]] void ShowFatalMessage(const StubContext& context, FatalMessage message);

// The same, for any text and reason: every error box goes through here.
[[noreturn]] void EndWithMessage(const StubContext& context, const Text& text, EndReason reason);

// The exit code that `reason` ends a package in deployment mode with.
uint32_t DeploymentExitCode(EndReason reason);

// How a launcher ends for `reason`: with its box and exit code 0, as it
// always has; in deployment mode (`passExitCode`) with the reason's exit
// code, and without the box when the command line asks for a silent run.
Ending EndingFor(EndReason reason, bool passExitCode, bool silent);

// The ending of an exhausted allocation, which has no context to ask: set
// by the driver once the settings are known, back to the default by
// ResetOutOfMemoryEnding. `text` is the user's wording of the box, null (or
// empty) for the English one; it must outlive the run, and is shown without
// allocating.
void SetOutOfMemoryEnding(Ending ending, const Text* text = nullptr);
void ResetOutOfMemoryEnding();
Ending OutOfMemoryEnding();
const char16_t* OutOfMemoryText();

// The silent switch: "/silent" or "/s" (ASCII letters in any case) among
// the user's arguments.
bool HasSilentSwitch(const ArgumentList& arguments);

}  // namespace stub
