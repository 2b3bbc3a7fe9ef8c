#include "unpack/NoRTLStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace stub {
namespace {

struct Shape {
  int32_t size, position, capacity;
};

void ExpectShape(const TStream& s, Shape expected) {
  EXPECT_EQ(s.Size, expected.size);
  EXPECT_EQ(s.Position, expected.position);
  EXPECT_EQ(s.Capacity, expected.capacity);
  EXPECT_EQ(s.Memory == nullptr, s.Capacity == 0);
}

TEST(TStreamTest, FieldsAreInTheirOrder) {
  TStream s;
  const auto* base = reinterpret_cast<const char*>(&s.Memory);
  EXPECT_LT(base, reinterpret_cast<const char*>(&s.Size));
  EXPECT_LT(reinterpret_cast<const char*>(&s.Size), reinterpret_cast<const char*>(&s.Position));
  EXPECT_LT(reinterpret_cast<const char*>(&s.Position), reinterpret_cast<const char*>(&s.Capacity));
}

struct SizeCase {
  int32_t initialSize;  // set first (exact capacity follows via a second SetSize)
  int32_t position;
  int32_t newSize;
  Shape expected;
};

class SetSizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(SetSizeTest, RoundsCapacityAndClampsPosition) {
  const SizeCase& c = GetParam();
  TStream s;
  if (c.initialSize) s.SetSize(c.initialSize);
  s.Position = c.position;
  s.SetSize(c.newSize);
  ExpectShape(s, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, SetSizeTest,
    testing::Values(SizeCase{0, 0, 1, {1, 0, 131072}},
                    SizeCase{0, 0, 131072, {131072, 0, 131072}},
                    SizeCase{0, 0, 131073, {131073, 0, 262144}},
                    SizeCase{0, 50, 5, {5, 5, 131072}},
                    SizeCase{0, 3, 5, {5, 3, 131072}},
                    // Shrinking to a different size rounds too.
                    SizeCase{200000, 0, 10, {10, 0, 131072}},
                    // The current size again trims the block to exactly that.
                    SizeCase{1000, 0, 1000, {1000, 0, 1000}},
                    SizeCase{1000, 7, 0, {0, 0, 0}}));

TEST(TStreamTest, TrimKeepsTheBytes) {
  TStream s;
  const char text[] = "0123456789";
  s.Write(text, 10);
  s.SetSize(10);
  ASSERT_EQ(s.Capacity, 10);
  EXPECT_EQ(std::memcmp(s.Memory, text, 10), 0);
}

TEST(TStreamTest, WritesGrowInSteps) {
  TStream s;
  EXPECT_EQ(s.Write("abcde", 5), 5);
  ExpectShape(s, {5, 5, 131072});

  std::vector<uint8_t> block(131072, 0x5A);
  TStream t;
  t.Write(block.data(), 131072);
  ExpectShape(t, {131072, 131072, 131072});
  EXPECT_EQ(t.Write("x", 1), 1);
  ExpectShape(t, {131073, 131073, 262144});
  EXPECT_EQ(std::memcmp(t.Memory, block.data(), block.size()), 0);
  EXPECT_EQ(t.Memory[131072], 'x');
}

TEST(TStreamTest, ZeroByteWrites) {
  TStream s;
  EXPECT_EQ(s.Write("", 0), 0);
  ExpectShape(s, {0, 0, 0});
  s.Position = 10;
  EXPECT_EQ(s.Write("", 0), 0);
  ExpectShape(s, {10, 10, 131072});
}

TEST(TStreamTest, NegativeCountsAndPositionsChangeNothing) {
  TStream s;
  s.Write("abc", 3);
  char buffer[4] = {'z', 'z', 'z', 'z'};
  EXPECT_EQ(s.Write("abc", -1), 0);
  s.Position = -1;
  EXPECT_EQ(s.Write("abc", 3), 0);
  EXPECT_EQ(s.Read(buffer, 2), 0);
  s.Position = 0;
  EXPECT_EQ(s.Read(buffer, -2), 0);
  ExpectShape(s, {3, 0, 131072});
  EXPECT_EQ(buffer[0], 'z');
}

TEST(TStreamTest, ReadsWhatIsLeft) {
  TStream s;
  s.Write("0123456789", 10);
  s.Position = 6;
  char buffer[10] = {};
  EXPECT_EQ(s.Read(buffer, 10), 4);
  EXPECT_EQ(std::memcmp(buffer, "6789", 4), 0);
  EXPECT_EQ(s.Position, 10);
  EXPECT_EQ(s.Read(buffer, 1), 0);
  s.Position = 20;
  EXPECT_EQ(s.Read(buffer, 1), 0);
}

TEST(TStreamTest, SeekIsUnclampedAndGetSizeKeepsThePosition) {
  TStream s;
  s.Write("abc", 3);
  EXPECT_EQ(s.Seek(-5, FromEnd), -2);
  EXPECT_EQ(s.Seek(4, FromCurrent), 2);
  EXPECT_EQ(s.Seek(7, 3), 2);
  s.Position = 50;
  EXPECT_EQ(s.GetSize(), 3);
  EXPECT_EQ(s.Position, 50);
}

// Sizes outside the signed range the launcher uses are refused, never
// wrapped into a small block followed by a large copy.
TEST(TStreamTest, OutOfRangeRequestsAreRefused) {
  TStream s;
  s.Write("abc", 3);
  s.SetSize(-1);
  s.SetSize(TStream::MaxSize + 1);
  s.SetCapacity(INT32_MAX);
  ExpectShape(s, {3, 3, 131072});
  s.Position = INT32_MAX - 1;
  EXPECT_EQ(s.Write("abc", 3), 0);
  s.Position = TStream::MaxSize;
  EXPECT_EQ(s.Write("a", 1), 0);
  EXPECT_EQ(s.Size, 3);
}

TEST(TStreamTest, ClearReleasesTheBlock) {
  TStream s;
  s.Write("abc", 3);
  s.Clear();
  ExpectShape(s, {0, 0, 0});
}

}  // namespace
}  // namespace stub
