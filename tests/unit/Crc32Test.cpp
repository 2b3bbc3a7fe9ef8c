#include "package/CRC32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace stub {
namespace {

TEST(Crc32Test, KnownValues) {
  EXPECT_EQ(Crc32("abc", 3), 0x352441C2u);
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
}

// Every length around the 16-byte stride and every alignment, against zlib.
TEST(Crc32Test, MatchesZlibAtEveryLengthAndAlignment) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data(4096 + 64);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t length = 0; length < 300; ++length) {
      const uint32_t expected =
          static_cast<uint32_t>(crc32(0, data.data() + offset, static_cast<uInt>(length)));
      ASSERT_EQ(Crc32(data.data() + offset, length), expected)
          << "offset " << offset << " length " << length;
    }
  }
  EXPECT_EQ(Crc32(data.data(), data.size()),
            static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))));
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
