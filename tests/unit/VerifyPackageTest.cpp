#include "package/VerifyPackage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "authoring/LauncherResource.h"
#include "authoring/PackageWriter.h"
#include "launcher/FatalMessages.h"
#include "package/CRC32.h"
#include "platform/memory/MemoryPlatform.h"
#include "platform/memory/Sha256.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

constexpr uint32_t kStubSize = 512;
constexpr uint32_t kSpanSize = 1000;

// A fake launcher image followed by a checksummed span, with a locator that
// describes it exactly as a package writer would.
struct Fixture {
  std::vector<uint8_t> bytes;
  PackageLocator locator;

  Fixture() : bytes(kStubSize + kSpanSize) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    for (uint32_t i = kLocatorOffset; i < kLocatorOffset + kLocatorSize; ++i) bytes[i] = 0;
    locator.packageOffset = kStubSize;
    locator.crcLength = kSpanSize;
    locator.crc = Crc32(bytes.data() + kStubSize, kSpanSize);
    locator.minSizeLow = static_cast<uint32_t>(bytes.size());
  }
  void StoreLocator() {
    uint8_t raw[kLocatorSize];
    EncodeLocator(locator, raw);
    std::copy(raw, raw + kLocatorSize, bytes.begin() + kLocatorOffset);
  }
};

enum class Outcome { kPasses, kDamaged, kTruncated };

struct VerifyCase {
  const char* name;
  std::function<void(Fixture&)> change;  // applied before the locator is stored
  std::function<void(std::vector<uint8_t>&)> damage;  // applied after
  Outcome outcome;
};

class VerifyPackageTest : public testing::TestWithParam<VerifyCase> {};

TEST_P(VerifyPackageTest, GivesTheExpectedVerdict) {
  const VerifyCase& c = GetParam();
  Fixture f;
  if (c.change) c.change(f);
  f.StoreLocator();
  if (c.damage) c.damage(f.bytes);

  test::LauncherScene scene(f.bytes);
  const MemoryPlatform& platform = scene.platform;
  bool ended = false;
  try {
    const PackageLocator result = VerifyPackage(scene.Context(), true);
    EXPECT_EQ(result.packageOffset, f.locator.packageOffset);
  } catch (const ProcessEnded& e) {
    ended = true;
    EXPECT_EQ(e.exitCode, 0);
  }
  switch (c.outcome) {
    case Outcome::kPasses:
      EXPECT_FALSE(ended);
      EXPECT_TRUE(platform.boxes.empty());
      break;
    case Outcome::kDamaged:
    case Outcome::kTruncated: {
      ASSERT_TRUE(ended);
      ASSERT_EQ(platform.boxes.size(), 1u);
      const auto expected = c.outcome == Outcome::kDamaged ? FatalMessage::kDamaged
                                                           : FatalMessage::kTruncated;
      EXPECT_EQ(platform.boxes[0].text, std::u16string(FatalMessageText(expected)));
      EXPECT_EQ(platform.boxes[0].caption, u"C:\\Downloads\\Setup.exe");
      EXPECT_EQ(platform.boxes[0].style, MemoryPlatform::kMbIconError);
      EXPECT_EQ(platform.boxes[0].reason, EndReasonOf(expected));
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Locators, VerifyPackageTest,
    testing::Values(
        VerifyCase{"SoundPackage", nullptr, nullptr, Outcome::kPasses},
        VerifyCase{"GrownFilePasses", nullptr,
                   [](std::vector<uint8_t>& b) { b.resize(b.size() + 5000, 0xAB); },
                   Outcome::kPasses},
        VerifyCase{"FlipInsideSpan", nullptr,
                   [](std::vector<uint8_t>& b) { b[kStubSize + 500] ^= 1; }, Outcome::kDamaged},
        VerifyCase{"FlipAfterSpanPasses",
                   [](Fixture& f) {
                     f.locator.crcLength = kSpanSize - 10;
                     f.locator.crc = Crc32(f.bytes.data() + kStubSize, kSpanSize - 10);
                   },
                   [](std::vector<uint8_t>& b) { b.back() ^= 0xFF; }, Outcome::kPasses},
        VerifyCase{"NoPackage", [](Fixture& f) { f.locator = PackageLocator{}; }, nullptr,
                   Outcome::kDamaged},
        VerifyCase{"FileShorterThanLocator", nullptr,
                   [](std::vector<uint8_t>& b) { b.resize(kLocatorOffset + 10); },
                   Outcome::kDamaged},
        // A cut beyond the span still counts as an incomplete download, and
        // the size test runs before the checksum.
        VerifyCase{"CutBehindSpan",
                   [](Fixture& f) { f.locator.minSizeLow += 100; }, nullptr,
                   Outcome::kTruncated},
        VerifyCase{"CutInsideSpan", nullptr,
                   [](std::vector<uint8_t>& b) { b.resize(b.size() - 1); }, Outcome::kTruncated},
        VerifyCase{"EmptySpanZeroCrc",
                   [](Fixture& f) { f.locator.crcLength = 0; f.locator.crc = 0; }, nullptr,
                   Outcome::kPasses},
        VerifyCase{"EmptySpanOtherCrc",
                   [](Fixture& f) { f.locator.crcLength = 0; f.locator.crc = 1; }, nullptr,
                   Outcome::kDamaged},
        VerifyCase{"DetachedMinimumAboveFile",
                   [](Fixture& f) {
                     f.locator.detachedMinSize = kStubSize + kSpanSize + 1;
                     f.locator.minSizeLow = 0;
                   },
                   nullptr, Outcome::kTruncated},
        VerifyCase{"DetachedMinimumOverridesLargerMinSize",
                   [](Fixture& f) {
                     f.locator.detachedMinSize = 100;
                     f.locator.minSizeHigh = 7;
                   },
                   nullptr, Outcome::kPasses},
        VerifyCase{"MinimumWithTopBitNeverTruncates",
                   [](Fixture& f) { f.locator.minSizeHigh = 0x80000000u; }, nullptr,
                   Outcome::kPasses},
        VerifyCase{"MinimumHighWordTruncates",
                   [](Fixture& f) { f.locator.minSizeHigh = 1; }, nullptr, Outcome::kTruncated},
        // A span that would reach past the file must be refused, not allocated.
        VerifyCase{"SpanBeyondFile",
                   [](Fixture& f) { f.locator.crcLength = 0xFFFFFFF0u; }, nullptr,
                   Outcome::kDamaged},
        VerifyCase{"SpanEndWrapsIn32Bits",
                   [](Fixture& f) {
                     f.locator.packageOffset = 0xFFFFFF00u;
                     f.locator.crcLength = 0x200;
                   },
                   nullptr, Outcome::kDamaged}),
    [](const testing::TestParamInfo<VerifyCase>& info) { return info.param.name; });

TEST(VerifyPackageTest, HugeSpanIsRefusedWithoutAllocatingIt) {
  Fixture f;
  f.locator.crcLength = 0x7FFFFFFF;
  f.StoreLocator();
  test::LauncherScene scene(f.bytes);
  const MemoryPlatform& platform = scene.platform;
  {
    test::AllocationCeiling ceiling(1 << 20);
    EXPECT_THROW(VerifyPackage(scene.Context(), true), ProcessEnded);
  }
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].text, std::u16string(FatalMessageText(FatalMessage::kDamaged)));
}

// The span is checked in pieces: however long, it needs no block larger than
// one piece, every byte counts, and the pieces follow on from each other.
struct PieceCase {
  const char* name;
  uint32_t spanSize;
  int64_t damagedAt;  // offset within the span, or -1
};
void PrintTo(const PieceCase& c, std::ostream* os) { *os << c.name; }

class ChecksumPiecesTest : public testing::TestWithParam<PieceCase> {};

TEST_P(ChecksumPiecesTest, ChecksCoverEveryByteWithinOnePieceOfMemory) {
  const PieceCase& c = GetParam();
  std::vector<uint8_t> bytes(kStubSize + c.spanSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  PackageLocator locator;
  locator.packageOffset = kStubSize;
  locator.crcLength = c.spanSize;
  locator.crc = Crc32(bytes.data() + kStubSize, c.spanSize);
  locator.minSizeLow = static_cast<uint32_t>(bytes.size());
  uint8_t raw[kLocatorSize];
  EncodeLocator(locator, raw);
  std::copy(raw, raw + kLocatorSize, bytes.begin() + kLocatorOffset);
  if (c.damagedAt >= 0) bytes[kStubSize + static_cast<size_t>(c.damagedAt)] ^= 0x01;

  test::LauncherScene scene(bytes);
  const MemoryPlatform& platform = scene.platform;
  bool passed = true;
  try {
    test::AllocationCeiling ceiling(kChecksumPiece);
    VerifyPackage(scene.Context(), true);
  } catch (const ProcessEnded&) {
    passed = false;
  }
  EXPECT_EQ(passed, c.damagedAt < 0);
  if (!passed) {
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, std::u16string(FatalMessageText(FatalMessage::kDamaged)));
  }
  // After the locator, the reads walk the span in order, in whole pieces.
  uint64_t next = kStubSize;
  for (const std::string& call : platform.calls) {
    if (call.rfind("ReadPackageFile ", 0) != 0 || call == "ReadPackageFile 128 24") continue;
    unsigned long long offset = 0, count = 0;
    ASSERT_EQ(std::sscanf(call.c_str(), "ReadPackageFile %llu %llu", &offset, &count), 2) << call;
    EXPECT_EQ(offset, next);
    EXPECT_LE(count, kChecksumPiece);
    next = offset + count;
  }
  EXPECT_EQ(next, kStubSize + uint64_t{c.spanSize});
}

INSTANTIATE_TEST_SUITE_P(
    Spans, ChecksumPiecesTest,
    testing::Values(PieceCase{"OneByte", 1, -1}, PieceCase{"OnePieceLessOne", kChecksumPiece - 1, -1},
                    PieceCase{"OnePiece", kChecksumPiece, -1},
                    PieceCase{"OnePieceAndOne", kChecksumPiece + 1, -1},
                    PieceCase{"ThreePiecesAndSome", 3 * kChecksumPiece + 5, -1},
                    PieceCase{"DamageInTheFirstPiece", 3 * kChecksumPiece + 5, 7},
                    PieceCase{"DamageOnAPieceBoundary", 3 * kChecksumPiece + 5, 2 * kChecksumPiece},
                    PieceCase{"DamageInTheLastByte", 3 * kChecksumPiece + 5, 3 * kChecksumPiece + 4}),
    [](const testing::TestParamInfo<PieceCase>& info) { return info.param.name; });

// A package whose settings record the SHA-256 of its data: the whole
// launcher on it, after the data or the span were changed.
struct DigestCase {
  const char* name;
  // Changes the built package; the checksum is then computed again (only a
  // forger's change keeps it matching). Null: the package as built.
  std::function<void(writer::BuiltPackage&)> change;
  bool recordDigest;          // whether the settings carry a digest
  bool digestOfChangedSpan;   // of the span after the change (else of the data as built)
  bool digestUnavailable;     // Windows cannot compute SHA-256
  std::optional<EndReason> ending;  // nothing: the setup program starts
  bool elevated = true;       // the launcher runs elevated
};
void PrintTo(const DigestCase& c, std::ostream* os) { *os << c.name; }

class PackageDigestTest : public testing::TestWithParam<DigestCase> {};

// The span made to end where `end` says, checksum and digest made to match
// it: a package whose own seal leaves part of what it uses outside.
std::function<void(writer::BuiltPackage&)> SpanEndsAt(std::function<uint32_t(const PackageHeader&)> end) {
  return [end](writer::BuiltPackage& p) {
    p.locator.crcLength = end(p.header) - p.locator.packageOffset;
  };
}

TEST_P(PackageDigestTest, NothingTheLauncherUsesEscapesTheDigest) {
  const DigestCase& c = GetParam();
  writer::PackageRecipe recipe;
  recipe.stub = writer::MinimalStubImage();
  recipe.x86 = test::SampleProgram(3000, 1);
  recipe.x64 = test::SampleProgram(4000, 2);
  recipe.expiredMessage = u"Expired.";
  recipe.expiryYear = 2020;  // the launcher shows the expired message
  recipe.expiryMonth = recipe.expiryDay = 1;
  writer::BuiltPackage package = writer::BuildPackage(recipe);
  auto spanDigest = [&] {
    return Sha256Of(package.bytes.data() + package.locator.packageOffset, package.locator.crcLength);
  };
  // The digest pkgtool recorded: of the data as written, or, where the case
  // is a span that leaves something out, of that span.
  writer::LauncherSettingsChoice settings;
  if (c.recordDigest) settings.packageDigest = spanDigest();
  if (c.change) {
    c.change(package);
    writer::Reseal(package);
    if (c.recordDigest && c.digestOfChangedSpan) settings.packageDigest = spanDigest();
  }

  MemoryPlatform platform;
  platform.packageBytes = package.bytes;
  platform.settingsResource = writer::EncodeLauncherSettings(settings);
  platform.digestUnavailable = c.digestUnavailable;
  platform.administrator = c.elevated;
  platform.today = {2026, 6, 1};
  RunOnMemoryPlatform(platform);
  if (c.ending) {
    ASSERT_EQ(platform.ends.size(), 1u);
    EXPECT_EQ(platform.ends[0].reason, *c.ending);
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_TRUE(platform.copies.empty());
  } else {
    EXPECT_TRUE(platform.ends.empty());
    EXPECT_EQ(platform.starts.size(), 1u);
  }
  // The digest goes over the span once, with the checksum, in an elevated
  // launcher only.
  EXPECT_EQ(platform.CallMade("DigestBegin"), c.recordDigest && c.elevated);
  if (c.recordDigest && c.elevated && !c.digestUnavailable) {
    EXPECT_EQ(platform.digested, package.locator.crcLength);
  }
}

// Swaps a byte of the 64-bit setup program's packed data.
void SwapPayload(writer::BuiltPackage& p) { p.bytes[p.header.payload64.offset + 40] ^= 0x20; }

INSTANTIATE_TEST_SUITE_P(
    Packages, PackageDigestTest,
    testing::Values(
        DigestCase{"Matches", nullptr, true, false, false, EndReason::kExpired},
        DigestCase{"WithoutDigestAsEver", nullptr, false, false, false, EndReason::kExpired},
        DigestCase{"PayloadSwappedChecksumRecomputed", SwapPayload, true, false, false, EndReason::kDamaged},
        // A launcher without rights has none a swapped file could borrow.
        DigestCase{"SwappedNotElevated", SwapPayload, true, false, false, EndReason::kExpired, false},
        // Where Windows cannot say, the launcher goes on as the gates do.
        DigestCase{"SwappedButWindowsCannotDigest", SwapPayload, true, false, true, EndReason::kExpired},
        DigestCase{"MessageOutsideSpan",
                   SpanEndsAt([](const PackageHeader& h) { return h.expiredMessage.offset; }), true,
                   true, false, EndReason::kDamaged},
        DigestCase{"MessageOutsideSpanWithoutDigestAsEver",
                   SpanEndsAt([](const PackageHeader& h) { return h.expiredMessage.offset; }), false,
                   false, false, EndReason::kExpired},
        DigestCase{"HeaderOutsideSpan",
                   SpanEndsAt([](const PackageHeader& h) { return h.payload32.offset - 1; }), true,
                   true, false, EndReason::kDamaged},
        // Checked even where Windows cannot compute the digest: the rule is
        // the package's, not the computer's.
        DigestCase{"HeaderOutsideSpanWindowsCannotDigest",
                   SpanEndsAt([](const PackageHeader& h) { return h.payload32.offset - 1; }), true,
                   true, true, EndReason::kDamaged},
        DigestCase{"HeaderOutsideSpanNotElevated",
                   SpanEndsAt([](const PackageHeader& h) { return h.payload32.offset - 1; }), true,
                   true, false, EndReason::kDamaged, false}),
    [](const testing::TestParamInfo<DigestCase>& info) { return info.param.name; });

// The chosen program outside the span, on a package that does not expire.
TEST(PackageDigestTest, ChosenProgramOutsideTheSpanIsDamagedTheOtherIsNotRead) {
  for (const bool x64Outside : {false, true}) {
    writer::PackageRecipe recipe;
    recipe.stub = writer::MinimalStubImage();
    recipe.x86 = test::SampleProgram(3000, 1);
    recipe.x64 = test::SampleProgram(4000, 2);
    writer::BuiltPackage package = writer::BuildPackage(recipe);
    // The 64-bit program's packed data follow the 32-bit program's.
    package.locator.crcLength = package.header.payload64.offset + (x64Outside ? 0 : package.header.payload64.packedSize) -
                                package.locator.packageOffset;
    writer::Reseal(package);
    writer::LauncherSettingsChoice settings;
    settings.packageDigest = Sha256Of(package.bytes.data() + package.locator.packageOffset, package.locator.crcLength);
    for (const bool wow64 : {false, true}) {
      MemoryPlatform platform;
      platform.packageBytes = package.bytes;
      platform.settingsResource = writer::EncodeLauncherSettings(settings);
      platform.wow64 = wow64;
      platform.administrator = true;
      RunOnMemoryPlatform(platform);
      const bool damaged = wow64 && x64Outside;
      EXPECT_EQ(platform.starts.size(), damaged ? 0u : 1u) << x64Outside << wow64;
      if (damaged) {
        ASSERT_EQ(platform.boxes.size(), 1u);
        EXPECT_EQ(platform.boxes[0].reason, EndReason::kDamaged);
      }
    }
  }
}

TEST(JudgeFileSizeTest, DetachedUsesOnlyTheLowWordOfTheFileSize) {
  PackageLocator l;
  l.detachedMinSize = 10;
  EXPECT_EQ(JudgeFileSize(l, 0x100000005ull), SizeVerdict::kTruncated);
  EXPECT_EQ(JudgeFileSize(l, 10), SizeVerdict::kLargeEnough);
  EXPECT_EQ(JudgeFileSize(l, 9), SizeVerdict::kTruncated);
}

}  // namespace
}  // namespace stub
