// What the unit tests of the launcher's stages share: a scene with the
// in-memory platform and the context the stages take, UTF-16 packing, a
// sample setup program, a program handed over in pieces and a scoped
// allocation ceiling.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "launcher/StubContext.h"
#include "package/CRC32.h"
#include "package/LauncherSettings.h"
#include "package/StubTypes.h"
#include "platform/memory/MemoryPlatform.h"
#include "unpack/ProgramSource.h"

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

  StubContext& Context() {
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

// The private folder name an administrator's launcher draws first on the
// in-memory platform, whose random bytes run 0x00, 0x01, ... unless scripted.
inline const std::u16string kFirstPrivateName = u"000102030405060708090a0b0c0d0e0f";

// The manifest of a setup program that asks for no more rights than its
// caller has, so that a plain user's start raises nothing.
inline std::vector<uint8_t> AsInvokerManifest() {
  const std::string text = "<requestedExecutionLevel level=\"asInvoker\"/>";
  return {text.begin(), text.end()};
}
inline std::vector<uint8_t> RequireAdministratorManifest() {
  const std::string text = "<requestedExecutionLevel level=\"requireAdministrator\"/>";
  return {text.begin(), text.end()};
}

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

// A setup program handed to the copy step in fixed pieces, as the decoder
// hands it, optionally failing after a number of pieces.
class ProgramPieces final : public ProgramSource {
 public:
  static constexpr size_t kNever = SIZE_MAX;

  explicit ProgramPieces(std::vector<uint8_t> bytes, uint32_t pieceSize = 3,
                         size_t failAfter = kNever, Step failure = Step::kDamaged)
      : bytes_(std::move(bytes)), pieceSize_(pieceSize), failAfter_(failAfter), failure_(failure) {}

  uint32_t Size() const override { return static_cast<uint32_t>(bytes_.size()); }
  Step Next(const uint8_t*& piece, uint32_t& count) override {
    count = 0;
    if (delivered == failAfter_) return failure_;
    if (at_ == bytes_.size()) return Step::kDone;
    piece = bytes_.data() + at_;
    count = static_cast<uint32_t>(std::min<size_t>(pieceSize_, bytes_.size() - at_));
    at_ += count;
    ++delivered;
    return Step::kPiece;
  }

  size_t delivered = 0;  // pieces handed out so far

 private:
  std::vector<uint8_t> bytes_;
  uint32_t pieceSize_;
  size_t failAfter_;
  Step failure_;
  size_t at_ = 0;
};

// A launcher-settings resource of 75,214 bytes in the first format (seven
// texts an entry): 4,700 entries without text bytes whose lengths add up to
// exactly 2^32 bytes, and a matching checksum. A sum kept in 32 bits wraps
// to the table's end and finds it exactly full.
inline std::vector<uint8_t> WrappingSettingsResource() {
  constexpr uint32_t kEntries = 4700;
  constexpr int kTexts = kLauncherTextCount - 1;
  constexpr uint32_t kEntrySize = 2 + 2 * kTexts;
  std::vector<uint8_t> bytes(kSettingsHeaderSize + kEntries * kEntrySize + 4);
  WriteU32(bytes.data(), kSettingsMagic);
  WriteU16(bytes.data() + 4, kSettingsVersionSevenTexts);
  WriteU16(bytes.data() + 8, kEntries);
  uint64_t units = uint64_t{1} << 31;  // of two bytes each
  for (uint32_t i = 0; i < kEntries && units != 0; ++i) {
    uint8_t* entry = bytes.data() + kSettingsHeaderSize + i * kEntrySize;
    WriteU16(entry, 0x0407);
    for (int t = 0; t < kTexts && units != 0; ++t) {
      const uint16_t length = units > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(units);
      WriteU16(entry + 2 + 2 * t, length);
      units -= length;
    }
  }
  WriteU32(bytes.data() + bytes.size() - 4, Crc32(bytes.data(), bytes.size() - 4));
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
