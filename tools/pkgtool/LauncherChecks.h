// The launcher's own verdicts on a package, obtained by running its own
// functions on the in-memory platform: everything it checks that does not
// depend on the computer it runs on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "package/StubTypes.h"
#include "platform/memory/MemoryPlatform.h"

namespace pkgtool {

// Runs `body` against `platform` as the launcher would run: an exhausted
// allocation shows the launcher's box and ends, like any other end of the
// process. True when `body` returned, false when the process ended (the box
// is in platform.boxes).
bool RunAsLauncher(stub::MemoryPlatform& platform, const std::function<void()>& body);

struct PackageCheck {
  bool sound = false;
  std::string failedCheck;   // what was being checked when it failed
  std::u16string verdict;    // the box the launcher shows, or why no launcher would run it
  bool locatorRead = false;  // locator verified (size, checksum)
  bool headerRead = false;
  stub::PackageLocator locator;
  stub::PackageHeader header;
  // The setup programs exactly as the launcher unpacks them (when present).
  std::optional<std::vector<uint8_t>> x86;
  std::optional<std::vector<uint8_t>> x64;
};

// Locator, size and checksum; header; the three message texts readable
// whole; at least one setup program; each present one unpacks to exactly its
// stated size. Stops at the first failure.
PackageCheck CheckPackage(const std::vector<uint8_t>& bytes);

bool HasX86(const stub::PackageHeader& header);
bool HasX64(const stub::PackageHeader& header);
bool BarredFrom64Bit(const stub::PackageHeader& header);

}  // namespace pkgtool
