// Sizes and offsets that would wrap around in 32 bits. Each case takes a
// sound package, changes one field of the locator or the header so that
// offset + length passes 4 GiB (or 2 GiB, where the file is positioned with a
// signed distance), keeps the checksum sealed where the field lies inside
// it, and runs the whole main sequence under a small allocation ceiling.
// The outcome must be the damaged (or truncated) box, reached at the stage
// that reads the field: an allocation of the wrapped size would show the
// out-of-memory box instead, and a wrapped bounds check would start the
// setup program or read the wrong bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "launcher/FatalMessages.h"
#include "package/CRC32.h"
#include "platform/Memory.h"
#include "platform/memory/MemoryPlatform.h"

namespace stub {
namespace {

using writer::BuiltPackage;
using writer::PackageRecipe;

const std::u16string kPackagePath = u"C:\\Downloads\\Setup.exe";
// Far above what the sound package needs (a 64 KiB window, 1 MiB of output),
// far below any wrapped size.
constexpr size_t kCeiling = size_t{16} << 20;

std::vector<uint8_t> Program(char tag) {
  std::vector<uint8_t> bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(tag + (i % 11) * (i % 5));
  return bytes;
}

// Which stage the changed field belongs to: the package is made to reach it.
enum class Stage { kLocator, kPayload, kExpiredMessage, kWrongWidthMessage, kUnsupportedMessage };

PackageRecipe RecipeFor(Stage stage) {
  PackageRecipe recipe;
  recipe.stub = writer::MinimalStubImage();
  recipe.x86 = Program('a');
  recipe.x64 = Program('b');
  recipe.dictionarySize = 1u << 16;
  recipe.expiredMessage = u"Expired.";
  recipe.wrongWidthMessage = u"Wrong width.";
  recipe.unsupportedWindowsMessage = u"Not for %USER%.";
  switch (stage) {
    case Stage::kExpiredMessage:
      recipe.expiryYear = 2020;
      recipe.expiryMonth = 1;
      recipe.expiryDay = 1;
      break;
    case Stage::kWrongWidthMessage:
      recipe.x64.reset();
      recipe.barFrom64Bit = true;
      break;
    case Stage::kUnsupportedMessage:
      recipe.allowedWindows = WindowsVersionSet{};
      break;
    default:
      break;
  }
  return recipe;
}

// The call that shows the stage holding the field was reached: the damage
// must come from that field, not from a broken seal earlier on.
const char* ReachedCall(Stage stage) {
  switch (stage) {
    case Stage::kLocator:
      return "ReadPackageFile 128 24";
    case Stage::kExpiredMessage:
      return "GetLocalTime";
    case Stage::kWrongWidthMessage:
      return "Machine";
    case Stage::kPayload:
    case Stage::kUnsupportedMessage:
      break;
  }
  return "GetVersion";
}

// Rewrites the locator; the checksum is recomputed over whatever part of the
// new span the file holds, so that only the size arithmetic can refuse it.
void PatchLocator(BuiltPackage& package, const std::function<void(PackageLocator&)>& change) {
  PackageLocator locator = package.locator;
  change(locator);
  const uint64_t begin = std::min<uint64_t>(locator.packageOffset, package.bytes.size());
  const uint64_t end = std::min<uint64_t>(begin + locator.crcLength, package.bytes.size());
  locator.crc = Crc32(package.bytes.data() + begin, static_cast<size_t>(end - begin));
  uint8_t raw[kLocatorSize];
  EncodeLocator(locator, raw);
  std::copy(raw, raw + kLocatorSize, package.bytes.begin() + kLocatorOffset);
}

// Rewrites the header and reseals the package, so the changed field is read
// as the package's own.
void PatchHeader(BuiltPackage& package, const std::function<void(PackageHeader&)>& change) {
  PackageHeader header = package.header;
  change(header);
  writer::StoreHeader(package, header);
}

struct WrapCase {
  const char* name;
  Stage stage;
  std::function<void(BuiltPackage&)> patch;
  FatalMessage expected;
};

MessageDescriptor& MessageOf(PackageHeader& header, Stage stage) {
  switch (stage) {
    case Stage::kExpiredMessage:
      return header.expiredMessage;
    case Stage::kWrongWidthMessage:
      return header.wrongWidthMessage;
    default:
      return header.unsupportedWindowsMessage;
  }
}

// The same damaged descriptor for each of the three messages.
std::function<void(BuiltPackage&)> Message(Stage stage, uint32_t offset, uint16_t length) {
  return [=](BuiltPackage& p) {
    PatchHeader(p, [&](PackageHeader& h) { MessageOf(h, stage) = {offset, length}; });
  };
}

// Byte count of the file, known only once built; offsets relative to its end
// are resolved at patch time.
uint32_t FileSize(const BuiltPackage& p) { return static_cast<uint32_t>(p.bytes.size()); }

class WrapTest : public testing::TestWithParam<WrapCase> {
 protected:
  void SetUp() override { SetAllocationLimitForTesting(kCeiling); }
  void TearDown() override { SetAllocationLimitForTesting(0); }
};

MemoryPlatform PlatformFor(Stage stage, const std::vector<uint8_t>& bytes) {
  MemoryPlatform platform;
  platform.packageBytes = bytes;
  platform.modulePath = kPackagePath;
  platform.commandLine = u"\"" + kPackagePath + u"\"";
  platform.files[kPackagePath] = bytes;
  // 32-bit Windows picks payload32; 64-bit Windows meets the barred package.
  platform.wow64 = stage == Stage::kWrongWidthMessage;
  platform.version = {true, 10, 0, 2};
  platform.SetRegistryText(u"CurrentBuild", u"19045");
  return platform;
}

TEST_P(WrapTest, EndsInTheExpectedBoxWithoutAHugeAllocation) {
  const WrapCase& c = GetParam();
  BuiltPackage package = writer::BuildPackage(RecipeFor(c.stage));
  c.patch(package);
  MemoryPlatform platform = PlatformFor(c.stage, package.bytes);

  EXPECT_EQ(RunOnMemoryPlatform(platform), 0);

  EXPECT_TRUE(platform.starts.empty());
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(ToUtf8(platform.boxes[0].text), ToUtf8(FatalMessageText(c.expected)))
      << "the out-of-memory box here means the wrapped size was allocated";
  EXPECT_TRUE(platform.CallMade(ReachedCall(c.stage)))
      << "the package was refused before the stage that reads the field";
  // Every read needs its buffer first. Beyond the file, only a message may
  // ask for its stated length, at most 2 * 0xFFFF bytes.
  const uint64_t largestRead = std::max<uint64_t>(package.bytes.size(), 2 * 0xFFFF);
  for (const std::string& call : platform.calls) {
    if (call.rfind("ReadPackageFile ", 0) != 0) continue;
    const uint64_t count = std::stoull(call.substr(call.rfind(' ') + 1));
    EXPECT_LE(count, largestRead) << call;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, WrapTest,
    testing::Values(
        // --- locator ---
        WrapCase{"SpanEndPasses4GiB", Stage::kLocator,
                 [](BuiltPackage& p) {
                   PatchLocator(p, [](PackageLocator& l) {
                     l.packageOffset = 0xFFFFFF00u;
                     l.crcLength = 0x200;
                   });
                 },
                 FatalMessage::kDamaged},
        // In 32 bits offset + length is 1: inside any file.
        WrapCase{"SpanLengthWrapsToOneByte", Stage::kLocator,
                 [](BuiltPackage& p) {
                   PatchLocator(p, [](PackageLocator& l) {
                     l.crcLength = 0u - l.packageOffset + 1u;
                   });
                 },
                 FatalMessage::kDamaged},
        WrapCase{"SpanLengthNearly4GiB", Stage::kLocator,
                 [](BuiltPackage& p) {
                   PatchLocator(p, [](PackageLocator& l) { l.crcLength = 0xFFFFFFF0u; });
                 },
                 FatalMessage::kDamaged},
        // Positioned with a signed distance, 0x80000000 is -2 GiB.
        WrapCase{"PackageOffsetAt2GiB", Stage::kLocator,
                 [](BuiltPackage& p) {
                   PatchLocator(p, [](PackageLocator& l) {
                     l.packageOffset = 0x80000000u;
                     l.crcLength = 0;
                     l.minSizeLow = 0;
                   });
                 },
                 FatalMessage::kDamaged},
        // 4 GiB minimum: only its high word says so.
        WrapCase{"MinimumSizeAbove4GiB", Stage::kLocator,
                 [](BuiltPackage& p) {
                   PatchLocator(p, [](PackageLocator& l) {
                     l.minSizeHigh = 1;
                     l.minSizeLow = 0;
                   });
                 },
                 FatalMessage::kTruncated},
        // --- payload ---
        WrapCase{"PayloadEndPasses4GiB", Stage::kPayload,
                 [](BuiltPackage& p) {
                   PatchHeader(p, [](PackageHeader& h) {
                     h.payload32.offset = 0xFFFFFF00u;
                     h.payload32.packedSize = 0x200;
                   });
                 },
                 FatalMessage::kDamaged},
        // Just below 2 GiB apart: a 32-bit end of 0 would pass any bounds
        // check and size the input stream at its limit.
        WrapCase{"PayloadEndWrapsToZero", Stage::kPayload,
                 [](BuiltPackage& p) {
                   PatchHeader(p, [](PackageHeader& h) {
                     h.payload32.offset = 0x80020000u;
                     h.payload32.packedSize = 0x7FFE0000u;
                   });
                 },
                 FatalMessage::kDamaged},
        WrapCase{"PackedSizeWrapsPastTheOffset", Stage::kPayload,
                 [](BuiltPackage& p) {
                   PatchHeader(p, [](PackageHeader& h) {
                     h.payload32.packedSize = 0u - h.payload32.offset + 0x10u;
                   });
                 },
                 FatalMessage::kDamaged},
        WrapCase{"PackedSizeAtTheStreamLimit", Stage::kPayload,
                 [](BuiltPackage& p) {
                   PatchHeader(p, [](PackageHeader& h) { h.payload32.packedSize = 0x7FFE0000u; });
                 },
                 FatalMessage::kDamaged},
        WrapCase{"PackedSizeNegativeAsSigned", Stage::kPayload,
                 [](BuiltPackage& p) {
                   PatchHeader(p, [](PackageHeader& h) { h.payload32.packedSize = 0x80000000u; });
                 },
                 FatalMessage::kDamaged},
        WrapCase{"PayloadOffsetAt2GiB", Stage::kPayload,
                 [](BuiltPackage& p) {
                   PatchHeader(p, [](PackageHeader& h) { h.payload32.offset = 0x80000000u; });
                 },
                 FatalMessage::kDamaged},
        // The packed bytes are sound; only the stated size is out of range.
        WrapCase{"UnpackedSizeAtTheStreamLimit", Stage::kPayload,
                 [](BuiltPackage& p) {
                   PatchHeader(p, [](PackageHeader& h) { h.payload32.unpackedSize = 0x7FFE0000u; });
                 },
                 FatalMessage::kDamaged},
        WrapCase{"UnpackedSizeNegativeAsSigned", Stage::kPayload,
                 [](BuiltPackage& p) {
                   PatchHeader(p, [](PackageHeader& h) { h.payload32.unpackedSize = 0xFFFFFFFFu; });
                 },
                 FatalMessage::kDamaged},
        WrapCase{"DictionarySizeNegativeAsSigned", Stage::kPayload,
                 [](BuiltPackage& p) {
                   PatchHeader(p, [](PackageHeader& h) { h.lzmaDictionarySize = 0xFFFFFFFFu; });
                 },
                 FatalMessage::kDamaged},
        // --- messages: the longest text at offsets where offset + 2 * length
        // wraps, passes 2 GiB, or runs past the end of the file ---
        WrapCase{"ExpiredTextWrapsPast4GiB", Stage::kExpiredMessage,
                 Message(Stage::kExpiredMessage, 0xFFFFFFF0u, 0xFFFF), FatalMessage::kDamaged},
        WrapCase{"ExpiredTextAt2GiB", Stage::kExpiredMessage,
                 Message(Stage::kExpiredMessage, 0x7FFFFFF0u, 0xFFFF), FatalMessage::kDamaged},
        WrapCase{"WrongWidthTextWrapsPast4GiB", Stage::kWrongWidthMessage,
                 Message(Stage::kWrongWidthMessage, 0xFFFFFF00u, 0x100), FatalMessage::kDamaged},
        WrapCase{"WrongWidthTextAt2GiB", Stage::kWrongWidthMessage,
                 Message(Stage::kWrongWidthMessage, 0x80000000u, 0xFFFF), FatalMessage::kDamaged},
        WrapCase{"UnsupportedTextWrapsPast4GiB", Stage::kUnsupportedMessage,
                 Message(Stage::kUnsupportedMessage, 0xFFFFFFF0u, 0xFFFF), FatalMessage::kDamaged},
        // 2 * 0x8000 units is 0 in 16 bits: an empty box instead of damage.
        WrapCase{"ExpiredTextByteCountPasses16Bits", Stage::kExpiredMessage,
                 [](BuiltPackage& p) {
                   Message(Stage::kExpiredMessage, p.header.expiredMessage.offset, 0x8000)(p);
                 },
                 FatalMessage::kDamaged},
        WrapCase{"UnsupportedTextRunsPastTheFile", Stage::kUnsupportedMessage,
                 [](BuiltPackage& p) {
                   const uint32_t nearEnd = FileSize(p) - 10;
                   Message(Stage::kUnsupportedMessage, nearEnd, 0xFFFF)(p);
                 },
                 FatalMessage::kDamaged}),
    [](const testing::TestParamInfo<WrapCase>& info) { return info.param.name; });

// The unchanged package reaches the start in every setup above, so each
// refusal there comes from the one field that was changed.
class WrapBaselineTest : public testing::TestWithParam<Stage> {};

TEST_P(WrapBaselineTest, UnchangedPackageGetsAsFarAsTheStage) {
  const Stage stage = GetParam();
  SetAllocationLimitForTesting(kCeiling);
  BuiltPackage package = writer::BuildPackage(RecipeFor(stage));
  MemoryPlatform platform = PlatformFor(stage, package.bytes);
  RunOnMemoryPlatform(platform);
  SetAllocationLimitForTesting(0);

  EXPECT_TRUE(platform.CallMade(ReachedCall(stage)));
  if (stage == Stage::kLocator || stage == Stage::kPayload) {
    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_EQ(platform.starts.size(), 1u);
  } else {
    // The package's own refusal, read whole from where the header says.
    ASSERT_EQ(platform.boxes.size(), 1u);
    const std::u16string stored = stage == Stage::kExpiredMessage      ? u"Expired."
                                  : stage == Stage::kWrongWidthMessage ? u"Wrong width."
                                                                       : u"Not for Windows 10.";
    EXPECT_EQ(ToUtf8(platform.boxes[0].text), ToUtf8(stored));
  }
}

INSTANTIATE_TEST_SUITE_P(Stages, WrapBaselineTest,
                         testing::Values(Stage::kLocator, Stage::kPayload,
                                         Stage::kExpiredMessage, Stage::kWrongWidthMessage,
                                         Stage::kUnsupportedMessage));

}  // namespace
}  // namespace stub
