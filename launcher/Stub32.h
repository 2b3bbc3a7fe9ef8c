// The launcher's main sequence: from its own file to the started setup
// program. Every refusal and failure ends the process through the platform's
// error box. Returns the exit code the launcher ends with: 0, or in
// deployment mode the setup program's own.
#pragma once

#include <cstdint>

#include "launcher/StubContext.h"
#include "package/LanguageChoice.h"
#include "platform/Platform.h"

namespace stub {

uint32_t RunLauncher(Platform& platform);

// The languages the user reads, best first: the display language, then the
// fallbacks the user set in Windows (where Windows keeps such a list).
UserLanguages UsersLanguages(Platform& platform);

// Reads the vendor's settings into `context` for the user's languages. A settings resource that is not sound ends the process with the
// damaged-package box (in English, with exit code 0: nothing of the settings
// can be trusted).
void ReadLauncherSettings(StubContext& context);

}  // namespace stub
