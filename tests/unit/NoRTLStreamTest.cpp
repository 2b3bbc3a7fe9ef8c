#include "unpack/NoRTLStream.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <type_traits>
#include <vector>

#include "platform/Memory.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

static_assert(std::has_virtual_destructor_v<TStream>);

struct Shape {
  int32_t size, position, capacity;
};

void ExpectShape(const TStream& s, Shape expected) {
  EXPECT_EQ(s.Size, expected.size);
  EXPECT_EQ(s.Position, expected.position);
  EXPECT_EQ(s.Capacity, expected.capacity);
  EXPECT_EQ(s.Memory == nullptr, s.Capacity == 0);
}

TEST(TStreamTest, FieldsAreInTheirOrderAndANewStreamIsEmpty) {
  TStream s;
  EXPECT_LT(reinterpret_cast<const char*>(&s.Memory), reinterpret_cast<const char*>(&s.Size));
  EXPECT_LT(reinterpret_cast<const char*>(&s.Size), reinterpret_cast<const char*>(&s.Position));
  EXPECT_LT(reinterpret_cast<const char*>(&s.Position), reinterpret_cast<const char*>(&s.Capacity));
  ExpectShape(s, {0, 0, 0});
}

// One operation on a stream; `a` and `b` as the operation takes them.
enum class Op { kSetSize, kSetCapacity, kWrite, kRead, kSeek, kGetSize, kPosition, kClear };
struct Step {
  Op op;
  int32_t a = 0;
  int32_t b = 0;
};

// Writes bytes that depend on where they land, so a lost or shifted byte shows.
uint8_t PatternAt(int64_t offset) { return static_cast<uint8_t>(offset * 131 + 7); }

int32_t Apply(TStream& s, const Step& step) {
  switch (step.op) {
    case Op::kSetSize:
      s.SetSize(step.a);
      return 0;
    case Op::kSetCapacity:
      s.SetCapacity(step.a);
      return 0;
    case Op::kWrite: {
      std::vector<uint8_t> bytes(step.a > 0 ? static_cast<size_t>(step.a) : 1);
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = PatternAt(int64_t{s.Position} + int64_t(i));
      return s.Write(bytes.data(), step.a);
    }
    case Op::kRead: {
      std::vector<uint8_t> buffer(step.a > 0 ? static_cast<size_t>(step.a) : 1, 0xEE);
      const int32_t start = s.Position;
      const int32_t n = s.Read(buffer.data(), step.a);
      for (int32_t i = 0; i < n; ++i) EXPECT_EQ(buffer[i], PatternAt(int64_t{start} + i)) << i;
      // A read that returns 0 leaves the buffer alone.
      if (n == 0) {
        EXPECT_EQ(buffer[0], 0xEE);
      }
      return n;
    }
    case Op::kSeek:
      return s.Seek(step.a, step.b);
    case Op::kGetSize:
      return s.GetSize();
    case Op::kPosition:
      s.Position = step.a;
      return 0;
    case Op::kClear:
      s.Clear();
      return 0;
  }
  return 0;
}

struct StreamCase;
void PrintTo(const StreamCase& c, std::ostream* os);

struct StreamCase {
  const char* name;
  std::vector<Step> before;
  Step act;
  int32_t result;
  Shape expected;
  // Leading bytes that must hold what was written (-1: all of Size once
  // anything was written).
  int32_t known = -1;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class TStreamOperationTest : public testing::TestWithParam<StreamCase> {};

// Every written byte that is still within Size must read back as written:
// growing, trimming and refused requests all keep the block's content.
TEST_P(TStreamOperationTest, GivesTheResultAndShape) {
  const StreamCase& c = GetParam();
  TStream s;
  bool wrote = c.act.op == Op::kWrite;
  for (const Step& step : c.before) {
    Apply(s, step);
    wrote |= step.op == Op::kWrite;
  }
  EXPECT_EQ(Apply(s, c.act), c.result);
  ExpectShape(s, c.expected);
  const int32_t known = c.known >= 0 ? c.known : wrote ? s.Size : 0;
  for (int32_t i = 0; i < known; ++i) ASSERT_EQ(s.Memory[i], PatternAt(i)) << "byte " << i;
}

constexpr int32_t kStep = 131072;

INSTANTIATE_TEST_SUITE_P(
    Numbers, TStreamOperationTest,
    testing::Values(
        StreamCase{"SetSizeOneOnNew", {}, {Op::kSetSize, 1}, 0, {1, 0, kStep}},
        StreamCase{"SetSizeOneStep", {}, {Op::kSetSize, kStep}, 0, {kStep, 0, kStep}},
        StreamCase{"SetSizeOneStepAndOne", {}, {Op::kSetSize, kStep + 1}, 0, {kStep + 1, 0, 2 * kStep}},
        StreamCase{"SetSizeBelowPosition", {{Op::kPosition, 50}}, {Op::kSetSize, 5}, 0, {5, 5, kStep}},
        StreamCase{"SetSizeAbovePosition", {{Op::kPosition, 3}}, {Op::kSetSize, 5}, 0, {5, 3, kStep}},
        // A different size rounds, shrinking included.
        StreamCase{"ShrinkRounds", {{Op::kWrite, 200000}}, {Op::kSetSize, 10}, 0, {10, 10, kStep}},
        // The current size again trims the block to exactly that, bytes kept.
        StreamCase{"SameSizeTrims", {{Op::kWrite, 1000}}, {Op::kSetSize, 1000}, 0, {1000, 1000, 1000}},
        StreamCase{"SetSizeZeroReleases", {{Op::kWrite, 1000}}, {Op::kSetSize, 0}, 0, {0, 0, 0}},
        StreamCase{"SetCapacityOfSizeIsExact", {{Op::kWrite, 70000}}, {Op::kSetCapacity, 70000}, 0,
                   {70000, 70000, 70000}},
        StreamCase{"SetCapacityRoundsOtherwise", {{Op::kWrite, 70000}}, {Op::kSetCapacity, 70001}, 0,
                   {70000, 70000, kStep}},
        StreamCase{"WriteFiveOnNew", {}, {Op::kWrite, 5}, 5, {5, 5, kStep}},
        StreamCase{"WritePastFullStep", {{Op::kWrite, kStep}}, {Op::kWrite, 1}, 1,
                   {kStep + 1, kStep + 1, 2 * kStep}},
        StreamCase{"WriteInsideKeepsSize", {{Op::kWrite, 100}, {Op::kPosition, 10}}, {Op::kWrite, 20}, 20,
                   {100, 30, kStep}},
        StreamCase{"WriteNothingAtZero", {}, {Op::kWrite, 0}, 0, {0, 0, 0}},
        StreamCase{"WriteNothingAtTen", {{Op::kPosition, 10}}, {Op::kWrite, 0}, 0, {10, 10, kStep}, 0},
        StreamCase{"WriteNegativeCount", {{Op::kWrite, 3}}, {Op::kWrite, -1}, 0, {3, 3, kStep}},
        StreamCase{"WriteAtNegativePosition", {{Op::kWrite, 3}, {Op::kPosition, -1}}, {Op::kWrite, 3}, 0,
                   {3, -1, kStep}},
        StreamCase{"ReadNegativeCount", {{Op::kWrite, 3}, {Op::kPosition, 0}}, {Op::kRead, -2}, 0,
                   {3, 0, kStep}},
        StreamCase{"ReadAtNegativePosition", {{Op::kWrite, 3}, {Op::kPosition, -1}}, {Op::kRead, 2}, 0,
                   {3, -1, kStep}},
        StreamCase{"ReadWhatIsLeft", {{Op::kWrite, 10}, {Op::kPosition, 6}}, {Op::kRead, 10}, 4,
                   {10, 10, kStep}},
        StreamCase{"ReadAtEnd", {{Op::kWrite, 10}}, {Op::kRead, 1}, 0, {10, 10, kStep}},
        StreamCase{"ReadBeyondEnd", {{Op::kWrite, 10}, {Op::kPosition, 20}}, {Op::kRead, 1}, 0,
                   {10, 20, kStep}},
        StreamCase{"SeekFromEndStandsUnclamped", {{Op::kWrite, 3}}, {Op::kSeek, -5, FromEnd}, -2,
                   {3, -2, kStep}},
        StreamCase{"SeekFromCurrent", {{Op::kWrite, 3}}, {Op::kSeek, 4, FromCurrent}, 7, {3, 7, kStep}},
        StreamCase{"SeekFromBeginning", {{Op::kWrite, 3}}, {Op::kSeek, 1, FromBeginning}, 1, {3, 1, kStep}},
        StreamCase{"SeekUnknownOrigin", {{Op::kWrite, 3}}, {Op::kSeek, 7, 3}, 3, {3, 3, kStep}},
        StreamCase{"SeekWrapsWithoutTrapping", {{Op::kPosition, 1}}, {Op::kSeek, INT32_MAX, FromCurrent},
                   INT32_MIN, {0, INT32_MIN, 0}},
        StreamCase{"GetSizeBeyondSize", {{Op::kWrite, 3}, {Op::kPosition, 50}}, {Op::kGetSize}, 3,
                   {3, 50, kStep}},
        StreamCase{"ClearReleases", {{Op::kWrite, 3}}, {Op::kClear}, 0, {0, 0, 0}}),
    [](const testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

// Requests outside 0..MaxSize, and writes whose end would pass MaxSize or
// wrap in 32 bits, leave the stream exactly as it was: no wrapped small block
// followed by a large copy.
INSTANTIATE_TEST_SUITE_P(
    OutOfRange, TStreamOperationTest,
    testing::Values(
        StreamCase{"SetSizeNegative", {{Op::kWrite, 3}}, {Op::kSetSize, -1}, 0, {3, 3, kStep}},
        StreamCase{"SetSizeAboveMax", {{Op::kWrite, 3}}, {Op::kSetSize, TStream::MaxSize + 1}, 0,
                   {3, 3, kStep}},
        StreamCase{"SetSizeLargest", {{Op::kWrite, 3}}, {Op::kSetSize, INT32_MAX}, 0, {3, 3, kStep}},
        StreamCase{"SetCapacityNegative", {{Op::kWrite, 3}}, {Op::kSetCapacity, -5}, 0, {3, 3, kStep}},
        StreamCase{"SetCapacityAboveMax", {{Op::kWrite, 3}}, {Op::kSetCapacity, TStream::MaxSize + 1}, 0,
                   {3, 3, kStep}},
        StreamCase{"WriteEndWraps", {{Op::kWrite, 3}, {Op::kPosition, INT32_MAX - 1}}, {Op::kWrite, 3}, 0,
                   {3, INT32_MAX - 1, kStep}},
        StreamCase{"WriteEndOnePastMax", {{Op::kWrite, 3}, {Op::kPosition, TStream::MaxSize}},
                   {Op::kWrite, 1}, 0, {3, TStream::MaxSize, kStep}},
        StreamCase{"WriteEmptyPastMax", {{Op::kWrite, 3}, {Op::kPosition, TStream::MaxSize + 1}},
                   {Op::kWrite, 0}, 0, {3, TStream::MaxSize + 1, kStep}}),
    [](const testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

// A block that cannot be had ends the process through MemoryExhausted; the
// stream is never left pointing at a missing block. MaxSize itself is in
// range, so it is asked for (and fails under the ceiling) rather than refused.
struct ExhaustionCase {
  const char* name;
  std::vector<Step> before;
  Step act;
};

void PrintTo(const ExhaustionCase& c, std::ostream* os) { *os << c.name; }

class TStreamExhaustionTest : public testing::TestWithParam<ExhaustionCase> {
 protected:
  test::LauncherScene scene_;  // an exhausted allocation ends on its platform
  test::AllocationCeiling ceiling_{size_t{64} << 20};
};

TEST_P(TStreamExhaustionTest, EndsTheProcessAndKeepsTheOldBlock) {
  const ExhaustionCase& c = GetParam();
  TStream s;
  for (const Step& step : c.before) Apply(s, step);
  const Shape before{s.Size, s.Position, s.Capacity};
  EXPECT_THROW(Apply(s, c.act), ProcessEnded);
  ExpectShape(s, before);
  for (int32_t i = 0; i < s.Size; ++i) ASSERT_EQ(s.Memory[i], PatternAt(i));
}

INSTANTIATE_TEST_SUITE_P(
    Ceiling, TStreamExhaustionTest,
    testing::Values(ExhaustionCase{"NewBlockOfMaxSize", {}, {Op::kSetSize, TStream::MaxSize}},
                    ExhaustionCase{"GrowingToMaxSize", {{Op::kWrite, 1000}}, {Op::kSetSize, TStream::MaxSize}},
                    ExhaustionCase{"WriteEndingAtMaxSize",
                                   {{Op::kWrite, 1000}, {Op::kPosition, TStream::MaxSize - 1}},
                                   {Op::kWrite, 1}},
                    ExhaustionCase{"CapacityOfMaxSize", {{Op::kWrite, 1000}},
                                   {Op::kSetCapacity, TStream::MaxSize}}),
    [](const testing::TestParamInfo<ExhaustionCase>& info) { return info.param.name; });

}  // namespace
}  // namespace stub
