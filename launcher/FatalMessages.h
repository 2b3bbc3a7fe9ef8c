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

// Error box with the message, captioned with the launcher's path; the process
// then ends with exit code 0. Never returns.
[[noreturn]] void ShowFatalMessage(const StubContext& context, FatalMessage message);

}  // namespace stub
