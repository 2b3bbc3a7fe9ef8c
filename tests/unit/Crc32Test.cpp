#include "package/CRC32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/memory/MemoryPlatform.h"

namespace stub {
namespace {

TEST(Crc32Test, KnownValues) {
  EXPECT_EQ(Crc32("abc", 3), 0x352441C2u);
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(n);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

uint32_t Zlib(uint32_t crc, const uint8_t* data, size_t length) {
  return static_cast<uint32_t>(crc32_z(crc, data, length));
}

struct CrcPath {
  const char* name;
  uint32_t (*update)(uint32_t, const void*, size_t);
  bool needsFolding;
};

void PrintTo(const CrcPath& path, std::ostream* out) { *out << path.name; }

class Crc32PathTest : public testing::TestWithParam<CrcPath> {
 protected:
  void SetUp() override {
    if (GetParam().needsFolding && !detail::Crc32CanFold()) GTEST_SKIP() << "no PCLMULQDQ/SSE4.1 here";
  }
};

// Every length across the table loop, the single-lane folds and several
// four-lane rounds, at every alignment and from several starting checksums.
TEST_P(Crc32PathTest, MatchesZlibAtEveryLengthAlignmentAndStart) {
  const auto data = RandomBytes(1100 + 16, 7);
  const uint32_t starts[] = {0u, 0xFFFFFFFFu, 0x12345678u};
  for (uint32_t start : starts) {
    for (size_t offset = 0; offset < 16; ++offset) {
      for (size_t length = 0; length <= 1100; ++length) {
        const uint8_t* p = data.data() + offset;
        ASSERT_EQ(GetParam().update(start, p, length), Zlib(start, p, length))
            << "start " << start << " offset " << offset << " length " << length;
      }
    }
  }
}

// A large buffer in random pieces: each piece continues the last checksum.
TEST_P(Crc32PathTest, RandomSplitsContinueTheChecksum) {
  const auto data = RandomBytes(1 << 20, 11);
  const uint32_t whole = Zlib(0, data.data(), data.size());
  std::mt19937 rng(3);
  for (int round = 0; round < 20; ++round) {
    uint32_t crc = 0;
    size_t at = 0;
    while (at < data.size()) {
      const size_t piece = std::min<size_t>(data.size() - at, rng() % (round < 10 ? 200 : 70000));
      crc = GetParam().update(crc, data.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(crc, whole) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, Crc32PathTest,
                         testing::Values(CrcPath{"Dispatch", Crc32Update, false},
                                         CrcPath{"Portable", detail::Crc32UpdatePortable, false},
                                         CrcPath{"Folded", detail::Crc32UpdateFolded, true}),
                         [](const testing::TestParamInfo<CrcPath>& info) { return info.param.name; });

// The processor's word alone never takes the folded path: on a Windows that
// does not save the SSE registers (NT 4) its first instruction would fault.
TEST(Crc32Test, FoldsOnlyWhereWindowsAndTheProcessorBothAgree) {
#if defined(__i386__) || defined(__x86_64__)
  const bool processorCan = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#else
  const bool processorCan = false;
#endif
  for (const bool windowsSaves : {false, true}) {
    SetSse2SupportForTesting(windowsSaves);
    detail::Crc32ForgetProbe();
    EXPECT_EQ(detail::Crc32CanFold(), windowsSaves && processorCan) << "Windows saves: " << windowsSaves;
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  }
}

TEST(Crc32Test, UpdateContinuesAChecksum) {
  const char text[] = "The setup package has been truncated.";
  const size_t n = sizeof(text) - 1;
  for (size_t split = 0; split <= n; ++split) {
    EXPECT_EQ(Crc32Update(Crc32(text, split), text + split, n - split), Crc32(text, n));
  }
}

}  // namespace
}  // namespace stub
