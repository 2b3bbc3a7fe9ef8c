// What the unit tests of the launcher's stages share: a scene with the
// in-memory platform and the context the stages take, UTF-16 packing, a
// sample setup program and a scoped allocation ceiling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "launcher/StubContext.h"
#include "platform/memory/MemoryPlatform.h"

namespace stub::test {

// The in-memory platform, active for the scene's lifetime (an exhausted
// allocation ends on it with the out-of-memory box), and the context built
// from its command line and module path when first asked for.
class LauncherScene {
 public:
  LauncherScene() = default;
  explicit LauncherScene(std::vector<uint8_t> package) {
    platform.packageBytes = std::move(package);
    platform.OpenPackageFile(FromU16(platform.modulePath));
  }
  LauncherScene(const LauncherScene&) = delete;
  LauncherScene& operator=(const LauncherScene&) = delete;

  const StubContext& Context() {
    if (!context_) {
      context_.emplace(StubContext{
          platform, ArgumentList(platform.commandLine.c_str(), FromU16(platform.modulePath))});
    }
    return *context_;
  }

  // The one box shown, or nothing when none or several were.
  std::optional<std::u16string> Box() const {
    if (platform.boxes.size() != 1) return std::nullopt;
    return platform.boxes[0].text;
  }

  MemoryPlatform platform;

 private:
  ActivePlatform active_{platform};
  std::optional<StubContext> context_;
};

// UTF-16LE bytes of `text`, with a NUL unit at the end when asked.
inline std::vector<uint8_t> Utf16Bytes(const std::u16string& text, bool terminator = false) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminator) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

// Runs of text alternating with noise: matches near and far, and literals
// that do not pack.
inline std::vector<uint8_t> SampleProgram(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = (i % 1000 < 600) ? static_cast<uint8_t>("MZsetup program body "[i % 21])
                                : static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

// Allocations above `bytes` fail while it lives (0: no ceiling).
class AllocationCeiling {
 public:
  explicit AllocationCeiling(size_t bytes) { SetAllocationLimitForTesting(bytes); }
  ~AllocationCeiling() { SetAllocationLimitForTesting(0); }
  AllocationCeiling(const AllocationCeiling&) = delete;
  AllocationCeiling& operator=(const AllocationCeiling&) = delete;
};

}  // namespace stub::test
