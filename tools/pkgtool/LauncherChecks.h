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

struct PackageCheck {
  bool sound = false;
  std::string failedCheck;   // what was being checked when it failed
  std::u16string verdict;    // the box the launcher shows, or why no launcher would run it
  bool locatorRead = false;  // locator verified (size, checksum)
  bool headerRead = false;   // header read after the locator was verified
  stub::PackageLocator locator;
  stub::PackageHeader header;
  // The setup programs exactly as the launcher unpacks them (when present).
  std::optional<std::vector<uint8_t>> x86;
  std::optional<std::vector<uint8_t>> x64;
};

// How far a check has come: `done` of `total` bytes handled (the checksum's
// pass over the package, then the packed setup programs).
using CheckProgress = std::function<void(uint64_t done, uint64_t total)>;

// Locator, size and checksum; header; the three message texts readable
// whole; at least one setup program; each present one unpacks to exactly its
// stated size. Stops at the first failure.
PackageCheck CheckPackage(const std::vector<uint8_t>& bytes, const CheckProgress& progress = {});

// The header as the package's locator points to it, unverified (for what
// a command needs to know before the long check, such as which programs a
// package names); nothing when the locator points outside the file.
std::optional<stub::PackageHeader> PeekHeader(const std::vector<uint8_t>& bytes);

// One setup program of `bytes` as the launcher unpacks it; nothing when the
// header names none there or the launcher would refuse to unpack it.
std::optional<std::vector<uint8_t>> UnpackProgram(const std::vector<uint8_t>& bytes,
                                                  const stub::PackageHeader& header, bool x64);

}  // namespace pkgtool
