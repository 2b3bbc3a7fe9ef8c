// What every stage of the main sequence shares: the platform, the argument
// list (argument 0, the launcher's own path, captions every error box) and
// the vendor's settings (read first; defaults until then).
#pragma once

#include "launcher/ArgumentList.h"
#include "package/LauncherSettings.h"
#include "platform/Platform.h"

namespace stub {

// The package data the settings' digest vouched for: once a package with a
// digest is verified, nothing the launcher acts on may be read from outside
// it (a header, message or setup program placed elsewhere would escape the
// digest). Without a digest, every position is as good as the file allows.
struct VouchedSpan {
  bool inForce = false;
  uint32_t begin = 0;
  uint64_t end = 0;

  bool Covers(uint32_t offset, uint64_t size) const {
    return !inForce || (offset >= begin && offset + size <= end);
  }
};

struct StubContext {
  Platform& platform;
  ArgumentList arguments;
  LauncherSettings settings = {};
  // Set by VerifyPackage.
  VouchedSpan vouched = {};
};

}  // namespace stub
