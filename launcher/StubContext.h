// What every stage of the main sequence shares: the platform, the argument
// list (argument 0, the launcher's own path, captions every error box) and
// the vendor's settings (read first; defaults until then).
#pragma once

#include "launcher/ArgumentList.h"
#include "package/LauncherSettings.h"
#include "platform/Platform.h"

namespace stub {

struct StubContext {
  Platform& platform;
  ArgumentList arguments;
  LauncherSettings settings = {};
};

}  // namespace stub
