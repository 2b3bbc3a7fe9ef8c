#include "tools/pefix/PeFix.h"

#include <gtest/gtest.h>

#include <cstring>

namespace pefix {
namespace {

// A PE image reduced to what the fixer reads: DOS header, DOS stub, headers
// at e_lfanew and one 512-byte block of raw data per section.
struct ImageShape {
  const char* name;
  uint32_t lfanew = 0x80;
  uint16_t sections = 10;
  uint16_t optionalSize = 224;
  uint16_t magic = 0x10B;
  uint32_t sizeOfHeaders = 0x400;
  uint32_t firstRawData = 0x400;
};

constexpr uint32_t kRawBlock = 0x200;

uint32_t Read32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}
void Write16(std::vector<uint8_t>& b, size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }
void Write32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

uint32_t HeaderLength(const ImageShape& s) { return 24u + s.optionalSize + 40u * s.sections; }

std::vector<uint8_t> BuildImage(const ImageShape& s) {
  std::vector<uint8_t> image(s.firstRawData + kRawBlock * s.sections, 0);
  image[0] = 'M';
  image[1] = 'Z';
  for (size_t i = 0x40; i < 0x80; ++i) image[i] = 0xCC;  // DOS stub program
  // Other linkers leave data between the stub and the header (a signature
  // of the build tools, say); it sits where the locator must go.
  for (size_t i = 0x80; i < s.lfanew; ++i) image[i] = 0xEE;
  Write32(image, 0x3C, s.lfanew);
  const size_t pe = s.lfanew;
  std::memcpy(&image[pe], "PE\0\0", 4);
  Write16(image, pe + 4, s.magic == 0x10B ? 0x14C : 0x8664);
  Write16(image, pe + 6, s.sections);
  Write16(image, pe + 20, s.optionalSize);
  const size_t optional = pe + 24;
  for (size_t i = 2; i < s.optionalSize; ++i) image[optional + i] = static_cast<uint8_t>(i | 1);
  Write16(image, optional, s.magic);
  Write32(image, optional + 60, s.sizeOfHeaders);
  Write32(image, optional + 64, 0x00012345);  // checksum
  for (uint16_t i = 0; i < s.sections; ++i) {
    const size_t entry = optional + s.optionalSize + 40u * i;
    image[entry] = '.';
    image[entry + 1] = static_cast<uint8_t>('a' + i);
    Write32(image, entry + 16, kRawBlock);
    Write32(image, entry + 20, s.firstRawData + kRawBlock * i);
  }
  for (size_t i = s.firstRawData; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  return image;
}

void PrintTo(const ImageShape& shape, std::ostream* out) { *out << shape.name; }

class PeFixAccepts : public testing::TestWithParam<ImageShape> {};

TEST_P(PeFixAccepts, MovesHeadersToOffset256AndClearsTheLocatorRoom) {
  const ImageShape& shape = GetParam();
  const std::vector<uint8_t> original = BuildImage(shape);
  std::vector<uint8_t> image = original;

  const Outcome outcome = RelocatePeHeaders(image);
  ASSERT_TRUE(outcome.ok) << outcome.error;
  ASSERT_EQ(image.size(), original.size());

  EXPECT_EQ(Read32(image, 0x3C), 256u);
  for (size_t i = 128; i < 256; ++i) ASSERT_EQ(image[i], 0) << "offset " << i;
  // The DOS stub survives unless the old header sat on it.
  for (size_t i = 0x40; i < 0x80; ++i) {
    ASSERT_EQ(image[i], i < shape.lfanew ? 0xCC : 0) << "DOS stub offset " << i;
  }

  // The block arrives intact, only its checksum cleared.
  const uint32_t length = HeaderLength(shape);
  std::vector<uint8_t> expected(original.begin() + shape.lfanew,
                                original.begin() + shape.lfanew + length);
  Write32(expected, 24 + 64, 0);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.begin() + 256));

  // Nothing stale between the block and the first section, and the sections
  // themselves untouched.
  for (size_t i = 256 + length; i < shape.firstRawData; ++i) ASSERT_EQ(image[i], 0) << "offset " << i;
  EXPECT_TRUE(std::equal(original.begin() + shape.firstRawData, original.end(),
                         image.begin() + shape.firstRawData));
}

TEST_P(PeFixAccepts, SecondRunChangesNothing) {
  std::vector<uint8_t> image = BuildImage(GetParam());
  ASSERT_TRUE(RelocatePeHeaders(image).ok);
  const std::vector<uint8_t> once = image;

  const Outcome again = RelocatePeHeaders(image);
  EXPECT_TRUE(again.ok) << again.error;
  EXPECT_FALSE(again.changed);
  EXPECT_EQ(image, once);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PeFixAccepts,
    testing::Values(
        ImageShape{"GnuLinkerPe32"},
        ImageShape{"Pe32PlusFewSections", 0x80, 3, 240, 0x20B},
        // 256 + 24 + 224 + 13 * 40 = 0x400: ends exactly at SizeOfHeaders.
        ImageShape{"FillsTheHeadersExactly", 0x80, 13},
        ImageShape{"HeaderBelowTheRoom", 0x40, 6},
        ImageShape{"HeaderAboveTheTarget", 0x180, 4},
        ImageShape{"AlreadyInPlace", 0x100, 5}),
    [](const testing::TestParamInfo<ImageShape>& info) { return std::string(info.param.name); });

struct Refusal {
  const char* name;
  void (*damage)(std::vector<uint8_t>&);
  ImageShape shape;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class PeFixRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(PeFixRefuses, LeavesTheImageUntouched) {
  const Refusal& refusal = GetParam();
  std::vector<uint8_t> image = BuildImage(refusal.shape);
  if (refusal.damage) refusal.damage(image);
  const std::vector<uint8_t> before = image;

  const Outcome outcome = RelocatePeHeaders(image);
  EXPECT_FALSE(outcome.ok);
  EXPECT_FALSE(outcome.error.empty());
  EXPECT_EQ(image, before);
}

INSTANTIATE_TEST_SUITE_P(
    Images, PeFixRefuses,
    testing::Values(
        // One section more than FillsTheHeadersExactly: 40 bytes past 0x400.
        Refusal{"TooManySectionsForSizeOfHeaders", nullptr, ImageShape{"", 0x80, 14}},
        Refusal{"SectionDataStartsBeforeTheHeadersEnd", nullptr,
                ImageShape{"", 0x80, 10, 224, 0x10B, 0x400, 0x300}},
        Refusal{"SizeOfHeadersTooSmall", nullptr, ImageShape{"", 0x80, 4, 224, 0x10B, 0x200, 0x400}},
        Refusal{"NotMz", [](std::vector<uint8_t>& b) { b[0] = 'X'; }, ImageShape{}},
        Refusal{"NoPeSignature", [](std::vector<uint8_t>& b) { b[0x81] = 'X'; }, ImageShape{}},
        Refusal{"LfanewPastTheEnd",
                [](std::vector<uint8_t>& b) { Write32(b, 0x3C, static_cast<uint32_t>(b.size())); },
                ImageShape{}},
        Refusal{"LfanewInsideDosHeader", [](std::vector<uint8_t>& b) { Write32(b, 0x3C, 0x20); },
                ImageShape{}},
        Refusal{"TruncatedToDosHeader", [](std::vector<uint8_t>& b) { b.resize(40); }, ImageShape{}},
        Refusal{"SectionTablePastTheEnd", [](std::vector<uint8_t>& b) { b.resize(0x200); },
                ImageShape{}},
        Refusal{"UnknownOptionalHeaderMagic", [](std::vector<uint8_t>& b) { Write16(b, 0x80 + 24, 0x107); },
                ImageShape{}},
        // Something the linker left behind the section table (bound imports,
        // say) would be overwritten by the moved block.
        Refusal{"DataBehindTheSectionTable", [](std::vector<uint8_t>& b) { b[0x80 + 648 + 10] = 1; },
                ImageShape{}}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pefix
