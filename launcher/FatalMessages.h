// The launcher's four fixed error texts and the one way it fails with them.
#pragma once

#include "launcher/StubContext.h"

namespace stub {

enum class FatalMessage { kDamaged, kTruncated, kCannotCreateCopy, kCannotExecute };

const char16_t* FatalMessageText(FatalMessage message);

// Error box with the message, captioned with the launcher's path; the process
// then ends with exit code 0. Never returns.
[[noreturn]] void ShowFatalMessage(const StubContext& context, FatalMessage message);

}  // namespace stub
