// What every stage of the main sequence shares: the platform and the argument
// list (argument 0, the launcher's own path, captions every error box).
#pragma once

#include "launcher/ArgumentList.h"
#include "platform/Platform.h"

namespace stub {

struct StubContext {
  Platform& platform;
  ArgumentList arguments;
};

}  // namespace stub
