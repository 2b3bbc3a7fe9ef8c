#include "unpack/LzmaUnpack.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "launcher/FatalMessages.h"
#include "package/writer/PackageWriter.h"
#include "platform/Memory.h"
#include "platform/memory/MemoryPlatform.h"

namespace stub {
namespace {

constexpr uint32_t kOffset = 300;

std::vector<uint8_t> SampleProgram(size_t size = 200000) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = (i % 1000 < 600) ? static_cast<uint8_t>("setup program "[i % 14]) : static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

// Raw LZMA1 with an end marker, which the writer never adds.
std::vector<uint8_t> CompressWithEndMarker(const std::vector<uint8_t>& data) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::vector<uint8_t> out(data.size() + data.size() / 2 + 4096);
  size_t outPos = 0;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &outPos,
                                   out.size()),
            LZMA_OK);
  out.resize(outPos);
  return out;
}

struct Outcome {
  bool ok = false;
  std::u16string box;
  std::vector<uint8_t> output;
};

Outcome Unpack(const std::vector<uint8_t>& packed, uint8_t properties, uint32_t dictionary,
               uint32_t unpackedSize, std::function<void(MemoryPlatform&, PayloadDescriptor&)> edit = {}) {
  MemoryPlatform platform;
  platform.packageBytes.assign(kOffset, 0);
  platform.packageBytes.insert(platform.packageBytes.end(), packed.begin(), packed.end());
  platform.OpenPackageFile(Text(u"p"));
  PackageHeader header;
  header.lzmaProperties = properties;
  header.lzmaDictionarySize = dictionary;
  PayloadDescriptor payload{kOffset, static_cast<uint32_t>(packed.size()), unpackedSize};
  if (edit) edit(platform, payload);
  StubContext context{platform, ArgumentList(u"x", Text(u"C:\\p.exe"))};
  Outcome outcome;
  TStream input, output;
  try {
    UnpackPayload(context, header, payload, input, output);
    outcome.ok = true;
    outcome.output.assign(output.Memory, output.Memory + output.Size);
  } catch (const ProcessEnded&) {
    outcome.box = platform.boxes.at(0).text;
  }
  return outcome;
}

const std::u16string kDamaged = FatalMessageText(FatalMessage::kDamaged);

TEST(LzmaUnpackTest, WriterPayloadRoundTrips) {
  const auto program = SampleProgram();
  const auto packed = writer::CompressRawLzma1(program, 6, 1 << 20, 3, 0, 2);
  const Outcome o = Unpack(packed, 0x5D, 1 << 20, static_cast<uint32_t>(program.size()));
  ASSERT_TRUE(o.ok) << writer::Utf16Le(o.box).size();
  EXPECT_EQ(o.output, program);
}

// The .lzma format of the xz tool is a properties block, a size field and the
// very raw data a package stores.
TEST(LzmaUnpackTest, XzToolStreamSplitIntoHeaderAndData) {
  const auto program = SampleProgram(300000);
  const std::string in = testing::TempDir() + "/unpack_sample.bin";
  const std::string out = in + ".lzma";
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(program.data()),
                                            static_cast<std::streamsize>(program.size()));
  std::remove(out.c_str());
  ASSERT_EQ(std::system(("xz --format=lzma --lzma1=preset=6,dict=1MiB -k -f '" + in + "'").c_str()), 0);
  std::ifstream file(out, std::ios::binary);
  std::vector<uint8_t> lzma((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(lzma.size(), 13u);
  const uint32_t dictionary = ReadU32(lzma.data() + 1);
  std::vector<uint8_t> data(lzma.begin() + 13, lzma.end());  // with the xz tool's end marker
  const Outcome o = Unpack(data, lzma[0], dictionary, static_cast<uint32_t>(program.size()));
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.output, program);
}

struct DamageCase {
  const char* label;
  std::function<void(std::vector<uint8_t>& packed, uint8_t& properties, uint32_t& dictionary,
                      uint32_t& unpackedSize)>
      change;
  std::function<void(MemoryPlatform&, PayloadDescriptor&)> edit;
  bool accepted;
};

class LzmaOutcomeTest : public testing::TestWithParam<DamageCase> {};

TEST_P(LzmaOutcomeTest, OnlyTheExactSizeIsAccepted) {
  const DamageCase& c = GetParam();
  const auto program = SampleProgram();
  std::vector<uint8_t> packed = CompressWithEndMarker(program);
  uint8_t properties = 0x5D;
  uint32_t dictionary = 1 << 23;
  auto unpackedSize = static_cast<uint32_t>(program.size());
  if (c.change) c.change(packed, properties, dictionary, unpackedSize);
  SetAllocationLimitForTesting(64u << 20);
  const Outcome o = Unpack(packed, properties, dictionary, unpackedSize, c.edit);
  SetAllocationLimitForTesting(0);
  EXPECT_EQ(o.ok, c.accepted);
  if (!c.accepted) {
    EXPECT_EQ(o.box, kDamaged);
  }
  if (c.accepted) {
    EXPECT_EQ(o.output.size(), unpackedSize);
    EXPECT_TRUE(std::equal(o.output.begin(), o.output.end(), program.begin()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LzmaOutcomeTest,
    testing::Values(
        DamageCase{"EndMarkerRightAfterLastByte", nullptr, nullptr, true},
        DamageCase{"EarlyEndMarker",
                   [](auto&, auto&, auto&, uint32_t& size) { size += 1; }, nullptr, false},
        DamageCase{"ShorterSizeIsAPrefix",
                   [](auto&, auto&, auto&, uint32_t& size) { size -= 1000; }, nullptr, true},
        DamageCase{"TrailingBytesIgnored",
                   [](std::vector<uint8_t>& p, auto&, auto&, auto&) { p.insert(p.end(), 100, 0xEE); },
                   nullptr, true},
        DamageCase{"TruncatedData",
                   [](std::vector<uint8_t>& p, auto&, auto&, auto&) { p.resize(p.size() / 2); },
                   nullptr, false},
        DamageCase{"PackedSizePastEndOfFile", nullptr,
                   [](MemoryPlatform&, PayloadDescriptor& d) { d.packedSize += 1; }, false},
        DamageCase{"PackedSizeWrapsPastFile", nullptr,
                   [](MemoryPlatform&, PayloadDescriptor& d) { d.packedSize = 0xFFFFFF00u; }, false},
        DamageCase{"UnpackedSizeBeyondStreamRange",
                   [](auto&, auto&, auto&, uint32_t& size) { size = 0x7FFE0001u; }, nullptr, false},
        DamageCase{"UnpackedSizeNegative",
                   [](auto&, auto&, auto&, uint32_t& size) { size = 0x80000000u; }, nullptr, false},
        // A huge announced size must not be allocated before data arrives.
        DamageCase{"HugeSizeSmallData",
                   [](auto&, auto&, auto&, uint32_t& size) { size = 0x7FFE0000u; }, nullptr, false},
        DamageCase{"PropertyByte225",
                   [](auto&, uint8_t& p, auto&, auto&) { p = 225; }, nullptr, false},
        DamageCase{"PropertyByte224BeyondDecoder",
                   [](auto&, uint8_t& p, auto&, auto&) { p = 224; }, nullptr, false},
        DamageCase{"DictionaryTopBit",
                   [](auto&, auto&, uint32_t& d, auto&) { d = 0x80000000u; }, nullptr, false}),
    [](const testing::TestParamInfo<DamageCase>& info) { return info.param.label; });

TEST(LzmaUnpackTest, DictionaryZeroGetsA4KiBWindow) {
  std::vector<uint8_t> small(3000);
  for (size_t i = 0; i < small.size(); ++i) small[i] = static_cast<uint8_t>('a' + i % 26);
  const Outcome o = Unpack(writer::CompressRawLzma1(small, 6, 4096, 3, 0, 2), 0x5D, 0, 3000);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.output, small);
}

TEST(LzmaUnpackTest, EmptyProgramWithNoPackedBytes) {
  const Outcome o = Unpack({}, 0x5D, 1 << 20, 0);
  EXPECT_TRUE(o.ok);
  EXPECT_TRUE(o.output.empty());
}

struct PropertiesCase {
  uint8_t value;
  uint32_t dictionary;
  LzmaSettings expected;
  bool accepted;
};

class PropertiesTest : public testing::TestWithParam<PropertiesCase> {};

TEST_P(PropertiesTest, DerivesSettings) {
  const PropertiesCase& c = GetParam();
  uint8_t block[5] = {c.value, static_cast<uint8_t>(c.dictionary), static_cast<uint8_t>(c.dictionary >> 8),
                      static_cast<uint8_t>(c.dictionary >> 16), static_cast<uint8_t>(c.dictionary >> 24)};
  LzmaSettings s;
  EXPECT_EQ(DecodeLzmaProperties(block, s), c.accepted);
  EXPECT_EQ(s.lc, c.expected.lc);
  EXPECT_EQ(s.lp, c.expected.lp);
  EXPECT_EQ(s.pb, c.expected.pb);
  EXPECT_EQ(s.dictionarySize, c.expected.dictionarySize);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, PropertiesTest,
    testing::Values(PropertiesCase{0x5D, 0x00400000, {3, 0, 2, 0x00400000}, true},
                    PropertiesCase{0, 0, {0, 0, 0, 0}, true},
                    PropertiesCase{224, 4096, {8, 4, 4, 4096}, true},
                    PropertiesCase{225, 4096, {0, 0, 5, 4096}, false},
                    PropertiesCase{0x5D, 0x80000000u, {3, 0, 2, INT32_MIN}, false}));

TEST(LzmaUnpackTest, ExhaustedMemoryDuringGrowthShowsOurBox) {
  const auto program = SampleProgram(4 << 20);
  const auto packed = writer::CompressRawLzma1(program, 1, 1 << 20, 3, 0, 2);
  MemoryPlatform platform;
  platform.packageBytes.assign(kOffset, 0);
  platform.packageBytes.insert(platform.packageBytes.end(), packed.begin(), packed.end());
  platform.OpenPackageFile(Text(u"p"));
  StubContext context{platform, ArgumentList(u"x", Text(u"C:\\p.exe"))};
  PackageHeader header;
  header.lzmaProperties = 0x5D;
  header.lzmaDictionarySize = 1 << 20;
  const PayloadDescriptor payload{kOffset, static_cast<uint32_t>(packed.size()),
                                  static_cast<uint32_t>(program.size())};
  SetAllocationLimitForTesting(3 << 20);
  SetMemoryExhaustedHandler([] { throw ProcessEnded{0}; });
  TStream input, output;
  EXPECT_THROW(UnpackPayload(context, header, payload, input, output), ProcessEnded);
  SetAllocationLimitForTesting(0);
  SetMemoryExhaustedHandler(nullptr);
  EXPECT_TRUE(platform.boxes.empty());  // the handler, not a damaged-package box
}

}  // namespace
}  // namespace stub
