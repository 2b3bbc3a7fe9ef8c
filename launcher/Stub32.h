// The launcher's main sequence: from its own file to the started setup
// program. Every refusal and failure ends the process through the platform's
// error box; when this returns, the launcher ends with exit code 0.
#pragma once

#include "platform/Platform.h"

namespace stub {

void RunLauncher(Platform& platform);

}  // namespace stub
