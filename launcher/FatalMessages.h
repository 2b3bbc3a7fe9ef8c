// The launcher's four fixed error texts and the one way it fails with them.
#pragma once

#include "launcher/StubContext.h"

namespace stub {

enum class FatalMessage { kDamaged, kTruncated, kCannotCreateCopy, kCannotExecute };

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

// Exit codes in deployment mode, where Windows Installer has one that
// deployment tools already understand.
constexpr uint32_t kExitPackageInvalid = 1620;        // ERROR_INSTALL_PACKAGE_INVALID
constexpr uint32_t kExitPlatformUnsupported = 1633;   // ERROR_INSTALL_PLATFORM_UNSUPPORTED
constexpr uint32_t kExitInstallFailure = 1603;        // ERROR_INSTALL_FAILURE
constexpr uint32_t kExitCancelled = 1223;             // ERROR_CANCELLED
constexpr uint32_t kExitExpired = 1931;               // ERROR_CONTEXT_EXPIRED
constexpr uint32_t kExitOutOfMemory = 8;              // ERROR_NOT_ENOUGH_MEMORY

// The exit code that `reason` ends a package in deployment mode with.
uint32_t DeploymentExitCode(EndReason reason);

// How a launcher ends for `reason`: with its box and exit code 0, as it
// always has; in deployment mode (`passExitCode`) with the reason's exit
// code, and without the box when the command line asks for a silent run.
Ending EndingFor(EndReason reason, bool passExitCode, bool silent);

// The ending of an exhausted allocation, which has no context to ask: set
// by the driver once the settings are known, back to the default by
// ResetOutOfMemoryEnding.
void SetOutOfMemoryEnding(Ending ending);
void ResetOutOfMemoryEnding();
Ending OutOfMemoryEnding();

// The silent switch: "/silent" or "/s" (ASCII letters in any case) among
// the user's arguments.
bool HasSilentSwitch(const ArgumentList& arguments);

}  // namespace stub
