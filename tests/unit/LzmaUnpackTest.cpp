#include "unpack/LzmaUnpack.h"

#include <gtest/gtest.h>
#include <lzma.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "launcher/FatalMessages.h"
#include "platform/Memory.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

using test::AllocationCeiling;
using test::SampleProgram;

constexpr uint32_t kOffset = 300;
constexpr int32_t kStep = TStream::CapacityStep;
const std::u16string kDamaged = FatalMessageText(FatalMessage::kDamaged);

int32_t RoundUp(uint32_t size) { return static_cast<int32_t>((size + kStep - 1) & ~uint32_t(kStep - 1)); }

// Output of the xz tool on `data`, run with `options`.
std::vector<uint8_t> RunXz(const std::string& options, const std::vector<uint8_t>& data) {
  // Test cases may run as parallel processes: each has its own file.
  const std::string path = testing::TempDir() + "/lzma_unpack_input_" + std::to_string(getpid()) + ".bin";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  std::vector<uint8_t> out;
  FILE* pipe = popen(("xz " + options + " -c '" + path + "'").c_str(), "r");
  if (!pipe) return out;
  uint8_t chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.insert(out.end(), chunk, chunk + n);
  EXPECT_EQ(pclose(pipe), 0) << "xz " << options;
  std::remove(path.c_str());
  return out;
}

// Raw LZMA1 with an end marker, from liblzma's own encoder.
std::vector<uint8_t> EncodeWithEndMarker(const std::vector<uint8_t>& data, uint32_t dictionary, uint8_t lc,
                                         uint8_t lp, uint8_t pb) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  options.dict_size = dictionary;
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::vector<uint8_t> out(data.size() + data.size() / 2 + 4096);
  size_t outPos = 0;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &outPos, out.size()),
            LZMA_OK);
  out.resize(outPos);
  return out;
}

struct Scene : test::LauncherScene {
  PackageHeader header;
  PayloadDescriptor payload;
};

struct Outcome {
  bool ok = false;
  std::optional<std::u16string> box;
  std::vector<uint8_t> output;
  int32_t outputCapacity = 0;
  std::vector<std::string> reads;  // the package reads made, as the platform logged them
};

// The packed bytes at kOffset of a package file; `edit` may change the file,
// the header and the descriptor before the run.
Outcome Unpack(const std::vector<uint8_t>& packed, uint8_t properties, uint32_t dictionary,
               uint32_t unpackedSize, const std::function<void(Scene&)>& edit = {},
               uint32_t pieceSize = kUnpackPieceSize) {
  Scene scene;
  scene.platform.commandLine = u"\"C:\\p.exe\"";
  scene.platform.modulePath = u"C:\\p.exe";
  scene.platform.packageBytes.assign(kOffset, 0);
  scene.platform.packageBytes.insert(scene.platform.packageBytes.end(), packed.begin(), packed.end());
  scene.platform.OpenPackageFile(FromU16(scene.platform.modulePath));
  scene.header.lzmaProperties = properties;
  scene.header.lzmaDictionarySize = dictionary;
  scene.payload = {kOffset, static_cast<uint32_t>(packed.size()), unpackedSize};
  if (edit) edit(scene);
  Outcome outcome;
  TStream output;
  try {
    UnpackPayload(scene.Context(), scene.header, scene.payload, output, pieceSize);
    outcome.ok = true;
    outcome.output.assign(output.Memory, output.Memory + output.Size);
  } catch (const ProcessEnded&) {
    if (!scene.platform.boxes.empty()) outcome.box = scene.platform.boxes[0].text;
  }
  outcome.outputCapacity = output.Capacity;
  for (const std::string& call : scene.platform.calls) {
    if (call.rfind("ReadPackageFile", 0) == 0) outcome.reads.push_back(call);
  }
  return outcome;
}

// The reads that take `packedSize` bytes from kOffset in pieces, each once
// and in order.
std::vector<std::string> PieceReads(uint32_t packedSize, uint32_t pieceSize = kUnpackPieceSize) {
  std::vector<std::string> reads;
  uint32_t at = 0;
  do {
    const uint32_t n = std::min(pieceSize, packedSize - at);
    reads.push_back("ReadPackageFile " + std::to_string(kOffset + at) + " " + std::to_string(n));
    at += n;
  } while (at < packedSize);
  return reads;
}

void ExpectAccepted(const Outcome& o, const std::vector<uint8_t>& program, uint32_t unpackedSize,
                    uint32_t packedSize, uint32_t pieceSize = kUnpackPieceSize) {
  ASSERT_TRUE(o.ok) << (o.box ? "damaged box" : "ended without a box");
  ASSERT_EQ(o.output.size(), unpackedSize);
  EXPECT_TRUE(std::equal(o.output.begin(), o.output.end(), program.begin()));
  EXPECT_EQ(o.outputCapacity, RoundUp(unpackedSize));
  // Every packed byte read, even those the decoder never needed.
  EXPECT_EQ(o.reads, packedSize ? PieceReads(packedSize, pieceSize) : std::vector<std::string>{});
}

// --- Streams made by the xz tool ---------------------------------------------

struct XzCase {
  const char* name;
  const char* options;
  size_t programSize;
  bool lzmaFormat;  // .lzma file: properties, 8-byte size, then the raw data
};
void PrintTo(const XzCase& c, std::ostream* os) { *os << c.name; }

class LzmaXzTest : public testing::TestWithParam<XzCase> {};

// xz ends every stream with an end marker: right after the last byte it is
// never read.
TEST_P(LzmaXzTest, UnpacksExactly) {
  const XzCase& c = GetParam();
  const auto program = SampleProgram(c.programSize);
  std::vector<uint8_t> packed = RunXz(c.options, program);
  uint8_t properties = 0x5D;
  uint32_t dictionary = 0;
  if (c.lzmaFormat) {
    ASSERT_GT(packed.size(), 13u);
    properties = packed[0];
    dictionary = ReadU32(packed.data() + 1);
    packed.erase(packed.begin(), packed.begin() + 13);
  } else {
    ASSERT_FALSE(packed.empty());
    const std::string opts = c.options;
    const size_t at = opts.find("dict=");
    dictionary = static_cast<uint32_t>(std::stoul(opts.substr(at + 5))) << 10;  // given in KiB
  }
  const auto size = static_cast<uint32_t>(program.size());
  ExpectAccepted(Unpack(packed, properties, dictionary, size), program, size,
                 static_cast<uint32_t>(packed.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Tool, LzmaXzTest,
    testing::Values(
        XzCase{"Raw4KiB", "--format=raw --lzma1=preset=6,lc=3,lp=0,pb=2,dict=4KiB", 50000, false},
        XzCase{"Raw64KiB", "--format=raw --lzma1=preset=6,lc=3,lp=0,pb=2,dict=64KiB", 300000, false},
        XzCase{"Raw4MiB", "--format=raw --lzma1=preset=6,lc=3,lp=0,pb=2,dict=4096KiB", 300000, false},
        XzCase{"RawManyPieces", "--format=raw --lzma1=preset=1,lc=3,lp=0,pb=2,dict=1024KiB",
               (5u << 20) + 12345, false},
        XzCase{"LzmaFile", "--format=lzma --lzma1=preset=6,dict=1MiB", 300000, true},
        XzCase{"LzmaFileOtherBits", "--format=lzma --lzma1=preset=6,lc=1,lp=2,pb=1,dict=256KiB", 100000, true}),
    [](const testing::TestParamInfo<XzCase>& info) { return info.param.name; });

// --- Outcomes judged by the output length -------------------------------------

enum class Verdict {
  kAccepted,
  kDamaged,
  kDamagedUnread,  // refused before any packed byte is read
};

struct OutcomeCase {
  const char* name;
  std::function<void(std::vector<uint8_t>& packed, Scene& scene)> change;
  Verdict verdict;
};
void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class LzmaOutcomeTest : public testing::TestWithParam<OutcomeCase> {
 protected:
  // Far above what a sound run of these programs needs, far below any size
  // a damaged field could ask for: a large allocation fails loudly.
  AllocationCeiling ceiling_{size_t{64} << 20};
};

TEST_P(LzmaOutcomeTest, AcceptsOnlyTheStatedSize) {
  const OutcomeCase& c = GetParam();
  const auto program = SampleProgram(200000);
  std::vector<uint8_t> packed = EncodeWithEndMarker(program, 1 << 20, 3, 0, 2);
  std::optional<PayloadDescriptor> seen;
  const Outcome o = Unpack(packed, 0x5D, 1 << 20, static_cast<uint32_t>(program.size()), [&](Scene& scene) {
    if (c.change) c.change(packed, scene);
    // The change may have grown or cut the packed bytes: store them again.
    if (scene.payload.offset == kOffset) {
      scene.platform.packageBytes.resize(kOffset);
      scene.platform.packageBytes.insert(scene.platform.packageBytes.end(), packed.begin(), packed.end());
    }
    seen = scene.payload;
  });
  if (c.verdict == Verdict::kAccepted) {
    ExpectAccepted(o, program, seen->unpackedSize, seen->packedSize);
    return;
  }
  EXPECT_FALSE(o.ok);
  // The damaged box, not the out-of-memory end a large allocation would give.
  EXPECT_EQ(o.box, kDamaged);
  EXPECT_EQ(o.reads.empty(), c.verdict == Verdict::kDamagedUnread);
}

void SetUnpacked(Scene& scene, uint32_t size) { scene.payload.unpackedSize = size; }

INSTANTIATE_TEST_SUITE_P(
    Streams, LzmaOutcomeTest,
    testing::Values(
        OutcomeCase{"EndMarkerRightAfterLastByte", nullptr, Verdict::kAccepted},
        OutcomeCase{"EarlyEndMarker", [](auto&, Scene& r) { SetUnpacked(r, r.payload.unpackedSize + 1); }, Verdict::kDamaged},
        // The output is bounded at the stated size: one byte less is the
        // program's prefix, which is all a stop before the next symbol yields.
        OutcomeCase{"OneByteLessIsAPrefix", [](auto&, Scene& r) { SetUnpacked(r, r.payload.unpackedSize - 1); },
                    Verdict::kAccepted},
        OutcomeCase{"TrailingBytesIgnored",
                    [](std::vector<uint8_t>& p, Scene& r) {
                      p.insert(p.end(), 100, 0xEE);
                      r.payload.packedSize += 100;
                    },
                    Verdict::kAccepted},
        // Data that run out before the program is complete.
        OutcomeCase{"TruncatedData",
                    [](std::vector<uint8_t>& p, Scene& r) {
                      p.resize(p.size() / 2);
                      r.payload.packedSize = static_cast<uint32_t>(p.size());
                    },
                    Verdict::kDamaged},
        // The file claims more than it holds: the last read comes back short,
        // although the decoder never needs those bytes.
        OutcomeCase{"ShortRead",
                    [](std::vector<uint8_t>&, Scene& r) {
                      r.platform.reportedFileSize = r.platform.packageBytes.size() + 10;
                      r.payload.packedSize += 10;
                    },
                    Verdict::kDamaged},
        OutcomeCase{"PackedSizePastEndOfFile", [](auto&, Scene& r) { r.payload.packedSize += 1; }, Verdict::kDamagedUnread},
        // Offset + size passes 4 GiB; 32-bit arithmetic would wrap below the
        // file size and ask for a block of nearly that much.
        OutcomeCase{"PackedEndWrapsIn32Bits",
                    [](auto&, Scene& r) {
                      r.payload.offset = 0xFFFFFF00u;
                      r.payload.packedSize = 0x1000;
                    },
                    Verdict::kDamagedUnread},
        // Within the stream's range but far past the file: refused before the
        // block is asked for, so no out-of-memory end.
        OutcomeCase{"HugePackedSizePastEndOfFile", [](auto&, Scene& r) { r.payload.packedSize = 0x7FFE0000u; },
                    Verdict::kDamagedUnread},
        OutcomeCase{"PackedSizeBeyondStreamRange",
                    [](auto&, Scene& r) {
                      r.platform.reportedFileSize = uint64_t{1} << 32;
                      r.payload.packedSize = 0x7FFE0001u;
                    },
                    Verdict::kDamagedUnread},
        OutcomeCase{"UnpackedSizeBeyondStreamRange", [](auto&, Scene& r) { SetUnpacked(r, 0x7FFE0001u); }, Verdict::kDamagedUnread},
        OutcomeCase{"UnpackedSizeNegative", [](auto&, Scene& r) { SetUnpacked(r, 0x80000000u); }, Verdict::kDamagedUnread},
        OutcomeCase{"UnpackedSizeAllOnes", [](auto&, Scene& r) { SetUnpacked(r, 0xFFFFFFFFu); }, Verdict::kDamagedUnread},
        // The largest size the stream takes, with 200000 bytes of data: the
        // output grows with the data, not with the claim.
        OutcomeCase{"HugeUnpackedSizeSmallData", [](auto&, Scene& r) { SetUnpacked(r, 0x7FFE0000u); }, Verdict::kDamaged},
        OutcomeCase{"PropertyByte225", [](auto&, Scene& r) { r.header.lzmaProperties = 225; }, Verdict::kDamagedUnread},
        // lc 8, lp 4, pb 4: valid settings, beyond what liblzma decodes.
        OutcomeCase{"PropertyByte224", [](auto&, Scene& r) { r.header.lzmaProperties = 224; }, Verdict::kDamagedUnread},
        OutcomeCase{"DictionaryTopBit", [](auto&, Scene& r) { r.header.lzmaDictionarySize = 0x80000000u; }, Verdict::kDamagedUnread},
        // The window is bounded by the program, so a claimed 2 GiB dictionary
        // costs no more than the program's size.
        OutcomeCase{"DictionaryLargestCostsOnlyTheProgram",
                    [](auto&, Scene& r) { r.header.lzmaDictionarySize = 0x7FFFFFFFu; }, Verdict::kAccepted}),
    [](const testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

// --- Settings ------------------------------------------------------------------

struct SettingsCase {
  const char* name;
  uint8_t lc, lp, pb;
  uint32_t encoderDictionary;
  uint32_t headerDictionary;
};
void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

class LzmaSettingsTest : public testing::TestWithParam<SettingsCase> {};

TEST_P(LzmaSettingsTest, DecodeWithTheHeaderSettings) {
  const SettingsCase& c = GetParam();
  const auto program = SampleProgram(150000, 7);
  const auto packed = EncodeWithEndMarker(program, c.encoderDictionary, c.lc, c.lp, c.pb);
  const auto properties = static_cast<uint8_t>(c.lc + 9 * c.lp + 45 * c.pb);
  const auto size = static_cast<uint32_t>(program.size());
  ExpectAccepted(Unpack(packed, properties, c.headerDictionary, size), program, size,
                 static_cast<uint32_t>(packed.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Header, LzmaSettingsTest,
    testing::Values(SettingsCase{"PropertyByte0", 0, 0, 0, 1 << 20, 1 << 20},
                    SettingsCase{"PropertyByte5D", 3, 0, 2, 1 << 22, 1 << 22},
                    SettingsCase{"Lc4Pb4", 4, 0, 4, 1 << 20, 1 << 20},
                    SettingsCase{"Lp4", 0, 4, 0, 1 << 20, 1 << 20},
                    // Dictionary 0 still gets the 4096-byte window.
                    SettingsCase{"Dictionary0", 3, 0, 2, 4096, 0},
                    SettingsCase{"DictionaryBelowWindowFloor", 3, 0, 2, 4096, 100}),
    [](const testing::TestParamInfo<SettingsCase>& info) { return info.param.name; });

// With the 4096-byte window that dictionary 0 gives, a stream that reaches
// further back is damaged.
TEST(LzmaUnpackTest, Dictionary0RefusesDistancesBeyondItsWindow) {
  auto program = SampleProgram(50000, 3);
  program.insert(program.end(), program.begin(), program.end());  // one match 50000 back
  const auto packed = EncodeWithEndMarker(program, 1 << 20, 3, 0, 2);
  ASSERT_EQ(Unpack(packed, 0x5D, 1 << 20, static_cast<uint32_t>(program.size())).output, program);
  EXPECT_EQ(Unpack(packed, 0x5D, 0, static_cast<uint32_t>(program.size())).box, kDamaged);
}

struct EmptyCase {
  const char* name;
  std::vector<uint8_t> packed;
};
void PrintTo(const EmptyCase& c, std::ostream* os) { *os << c.name; }

class LzmaEmptyTest : public testing::TestWithParam<EmptyCase> {};

// An empty program is accepted whatever the packed bytes, once they are read.
TEST_P(LzmaEmptyTest, EmptyProgramIsAccepted) {
  const EmptyCase& c = GetParam();
  ExpectAccepted(Unpack(c.packed, 0x5D, 1 << 20, 0), {}, 0, static_cast<uint32_t>(c.packed.size()));
}

INSTANTIATE_TEST_SUITE_P(Empty, LzmaEmptyTest,
                         testing::Values(EmptyCase{"NoPackedBytes", {}},
                                         EmptyCase{"AnyPackedBytes", {0xFF, 0x13, 0x00, 0x7A}}),
                         [](const testing::TestParamInfo<EmptyCase>& info) { return info.param.name; });

// --- Decisions ------------------------------------------------------------------

struct PropertiesCase {
  uint8_t value;
  uint32_t dictionary;
  LzmaSettings expected;
  bool accepted;
};

class PropertiesTest : public testing::TestWithParam<PropertiesCase> {};

TEST_P(PropertiesTest, DerivesSettings) {
  const PropertiesCase& c = GetParam();
  const uint8_t block[5] = {c.value, static_cast<uint8_t>(c.dictionary), static_cast<uint8_t>(c.dictionary >> 8),
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
                    PropertiesCase{44, 0x01020304, {8, 4, 0, 0x01020304}, true},
                    PropertiesCase{224, 4096, {8, 4, 4, 4096}, true},
                    PropertiesCase{225, 4096, {0, 0, 5, 4096}, false},
                    PropertiesCase{255, 4096, {3, 3, 5, 4096}, false},
                    PropertiesCase{0x5D, 0x7FFFFFFFu, {3, 0, 2, INT32_MAX}, true},
                    PropertiesCase{0x5D, 0x80000000u, {3, 0, 2, INT32_MIN}, false},
                    PropertiesCase{0x5D, 0xFFFFFFFFu, {3, 0, 2, -1}, false}));

struct WindowCase {
  int32_t dictionary;
  uint32_t unpacked;
  uint32_t window;
};

class WindowTest : public testing::TestWithParam<WindowCase> {};

TEST_P(WindowTest, DictionaryBetweenFloorAndProgram) {
  const WindowCase& c = GetParam();
  EXPECT_EQ(LzmaWindowSize(c.dictionary, c.unpacked), c.window);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WindowTest,
                         testing::Values(WindowCase{0x400000, 0x800000, 0x400000},
                                         WindowCase{0x400000, 0x280000, 0x280000},
                                         WindowCase{0, 100000, 4096}, WindowCase{100, 100000, 4096},
                                         WindowCase{0x400000, 0, 4096}, WindowCase{0x400000, 10, 4096},
                                         WindowCase{INT32_MAX, 0x7FFE0000u, 0x7FFE0000u}));

// --- Piece boundaries ---------------------------------------------------------

constexpr uint32_t kSmallPiece = 4096;

struct BoundaryCase {
  uint32_t programSize;
  int statedDelta;  // unpackedSize = programSize + statedDelta
  bool endMarker;   // the stream ends in an end marker, or just runs out of bytes
};
void PrintTo(const BoundaryCase& c, std::ostream* os) {
  *os << c.programSize << (c.statedDelta < 0 ? " stated-1" : c.statedDelta > 0 ? " stated+1" : " exact")
      << (c.endMarker ? " marker" : " no-marker");
}

class ExactSizeTest : public testing::TestWithParam<BoundaryCase> {};

// One byte short of the stream is its prefix, accepted as always; one byte
// more than the stream holds is damaged when the stream says it ended,
// wherever the pieces fall. A stream that simply runs out cannot always
// refute one byte more: the range coder's final state may still yield a
// symbol without reading, as it would for any decoder. Then the extra byte
// is all there is: never more than the stated size, never a read past the
// packed bytes.
TEST_P(ExactSizeTest, AcceptsExactlyWhatTheStreamHoldsAtEveryPieceBoundary) {
  const BoundaryCase& c = GetParam();
  const auto program = SampleProgram(c.programSize, c.programSize);
  const auto packed = c.endMarker ? EncodeWithEndMarker(program, 1 << 16, 3, 0, 2)
                                  : writer::CompressRawLzma1(program, 6, 1 << 16, 3, 0, 2);
  const uint32_t stated = c.programSize + c.statedDelta;
  const Outcome o = Unpack(packed, 0x5D, 1 << 16, stated, {}, kSmallPiece);
  if (c.statedDelta > 0 && (c.endMarker || !o.ok)) {
    EXPECT_EQ(o.box, kDamaged);
    EXPECT_FALSE(o.ok);
  } else if (c.statedDelta > 0) {
    ASSERT_EQ(o.output.size(), stated);
    EXPECT_TRUE(std::equal(program.begin(), program.end(), o.output.begin()));
    EXPECT_EQ(o.reads, PieceReads(static_cast<uint32_t>(packed.size()), kSmallPiece));
  } else {
    ExpectAccepted(o, program, stated, static_cast<uint32_t>(packed.size()), kSmallPiece);
  }
}

std::vector<BoundaryCase> BoundaryCases() {
  std::vector<BoundaryCase> cases;
  for (const uint32_t size : {1u, kSmallPiece - 1, kSmallPiece, kSmallPiece + 1, 3 * kSmallPiece,
                              3 * kSmallPiece + 1, 40 * kSmallPiece})
    for (const int delta : {-1, 0, 1})
      for (const bool marker : {false, true}) cases.push_back({size, delta, marker});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Pieces, ExactSizeTest, testing::ValuesIn(BoundaryCases()));

// Packed bytes that stop at a piece boundary before the program is complete,
// and packed bytes that fill their last piece exactly.
TEST(LzmaUnpackTest, PackedBytesEndingAtAPieceBoundary) {
  const auto program = SampleProgram(200000, 5);
  const auto packed = writer::CompressRawLzma1(program, 6, 1 << 16, 3, 0, 2);
  ASSERT_GT(packed.size(), 3 * kSmallPiece);
  const auto size = static_cast<uint32_t>(program.size());

  const std::vector<uint8_t> cut(packed.begin(), packed.begin() + 3 * kSmallPiece);
  const Outcome damaged = Unpack(cut, 0x5D, 1 << 16, size, {}, kSmallPiece);
  EXPECT_EQ(damaged.box, kDamaged);
  EXPECT_EQ(damaged.reads, PieceReads(3 * kSmallPiece, kSmallPiece));

  std::vector<uint8_t> padded = packed;
  padded.resize((packed.size() / kSmallPiece + 1) * kSmallPiece, 0xEE);
  ExpectAccepted(Unpack(padded, 0x5D, 1 << 16, size, {}, kSmallPiece), program, size,
                 static_cast<uint32_t>(padded.size()), kSmallPiece);
}

// --- Memory ---------------------------------------------------------------------

struct MemoryCase {
  const char* name;
  uint32_t dictionary;
  bool launches;
};
void PrintTo(const MemoryCase& c, std::ostream* os) { *os << c.name; }

class LauncherMemoryTest : public testing::TestWithParam<MemoryCase> {};

// A 12 MiB program launches with no block above 2 MiB to be had: memory is
// the window and the pieces, not the program. Only a window that cannot be
// had ends in the out-of-memory box, and then before any copy is made.
TEST_P(LauncherMemoryTest, OnlyTheWindowNeedsMemory) {
  const MemoryCase& c = GetParam();
  writer::PackageRecipe recipe;
  recipe.stub = writer::MinimalStubImage();
  recipe.x86 = SampleProgram(12 << 20);
  recipe.lzmaLevel = 1;
  recipe.dictionarySize = c.dictionary;
  recipe.detached = true;  // the copy stays, so its bytes can be checked
  MemoryPlatform platform;
  platform.packageBytes = writer::BuildPackage(recipe).bytes;
  platform.programManifest = test::AsInvokerManifest();
  {
    AllocationCeiling ceiling(size_t{2} << 20);
    RunOnMemoryPlatform(platform);
  }
  if (c.launches) {
    EXPECT_TRUE(platform.boxes.empty());
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.files.at(platform.tempPath + u"Setup.exe"), *recipe.x86);
  } else {
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, kMsgOutOfMemory);
    EXPECT_EQ(platform.boxes[0].reason, EndReason::kOutOfMemory);
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_FALSE(platform.CallMade("CreateCopy " + ToUtf8(platform.tempPath) + "Setup.exe"));
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, LauncherMemoryTest,
                         testing::Values(MemoryCase{"WindowFits", 1 << 20, true},
                                         MemoryCase{"WindowTooLarge", 4 << 20, false}),
                         [](const testing::TestParamInfo<MemoryCase>& info) { return info.param.name; });

}  // namespace
}  // namespace stub
