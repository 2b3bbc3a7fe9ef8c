#include "authoring/PackageWriter.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "launcher/FatalMessages.h"
#include "package/CRC32.h"
#include "package/VerifyPackage.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub::writer {
namespace {

using test::SampleProgram;

PackageLocator LocatorIn(const std::vector<uint8_t>& bytes) {
  uint8_t raw[kLocatorSize];
  std::memcpy(raw, bytes.data() + kLocatorOffset, kLocatorSize);
  return DecodeLocator(raw);
}

PackageHeader HeaderIn(const std::vector<uint8_t>& bytes, uint32_t at) {
  uint8_t raw[kHeaderSize];
  std::memcpy(raw, bytes.data() + at, kHeaderSize);
  return DecodeHeader(raw);
}

std::u16string TextAt(const std::vector<uint8_t>& bytes, const MessageDescriptor& d) {
  std::u16string text;
  for (uint32_t i = 0; i < d.length; ++i) text += static_cast<char16_t>(ReadU16(&bytes[d.offset + 2 * i]));
  return text;
}

std::vector<uint8_t> Unpacked(const BuiltPackage& p, const PayloadDescriptor& d) {
  return DecompressRawLzma1(p.bytes.data() + d.offset, d.packedSize, p.header.lzmaProperties,
                            p.header.lzmaDictionarySize, d.unpackedSize);
}

// The launcher's own integrity check over the written bytes.
std::u16string LauncherVerdict(const std::vector<uint8_t>& bytes) {
  test::LauncherScene scene(bytes);
  try {
    VerifyPackage(scene.Context(), true);
  } catch (const ProcessEnded&) {
    return scene.Box().value_or(u"?");
  }
  return u"";
}

PackageRecipe BasicRecipe() {
  PackageRecipe recipe;
  recipe.stub = MinimalStubImage();
  recipe.x86 = SampleProgram(70000, 1);
  recipe.expiredMessage = u"This package has expired.";
  recipe.wrongWidthMessage = u"Wrong width.";
  recipe.unsupportedWindowsMessage = u"Not on %USER%.";
  return recipe;
}

struct RoundTripCase {
  const char* name;
  std::function<void(PackageRecipe&)> change;
};

class PackageWriterRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(PackageWriterRoundTrip, EveryPartReadsBackAsWritten) {
  PackageRecipe recipe = BasicRecipe();
  GetParam().change(recipe);
  const BuiltPackage p = BuildPackage(recipe);
  const auto& b = p.bytes;

  // Locator and header as stored are what the writer says it stored.
  const PackageLocator l = LocatorIn(b);
  EXPECT_EQ(l.packageOffset, recipe.stub.size());
  EXPECT_EQ(l.crcLength, p.locator.crcLength);
  EXPECT_EQ(l.crc, p.locator.crc);
  EXPECT_EQ((static_cast<uint64_t>(l.minSizeHigh) << 32) | l.minSizeLow, b.size());
  const PackageHeader h = HeaderIn(b, l.packageOffset);
  uint8_t stored[kHeaderSize], reported[kHeaderSize];
  EncodeHeader(h, stored);
  EncodeHeader(p.header, reported);
  EXPECT_EQ(0, std::memcmp(stored, reported, kHeaderSize));

  // The stub survives untouched apart from the locator room.
  for (size_t i = 0; i < recipe.stub.size(); ++i) {
    if (i >= kLocatorOffset && i < kLocatorOffset + kLocatorSize) continue;
    ASSERT_EQ(b[i], recipe.stub[i]) << "stub byte " << i;
  }

  // Header fields carry the recipe.
  EXPECT_EQ(h.lzmaProperties, (recipe.pb * 5 + recipe.lp) * 9 + recipe.lc);
  EXPECT_EQ(h.lzmaDictionarySize, recipe.dictionarySize);
  EXPECT_EQ(0, std::memcmp(h.allowedWindows.bytes, recipe.allowedWindows.bytes, 8));
  EXPECT_EQ(h.win10MinRelease, recipe.win10Min);
  EXPECT_EQ(h.win10MaxRelease, recipe.win10Max);
  EXPECT_EQ(h.win11MinRelease, recipe.win11Min);
  EXPECT_EQ(h.win11MaxRelease, recipe.win11Max);
  EXPECT_EQ(h.elevationMode, recipe.elevationMode);
  EXPECT_EQ(h.expiryYear, recipe.expiryYear);
  EXPECT_EQ(h.expiryMonth, recipe.expiryMonth);
  EXPECT_EQ(h.expiryDay, recipe.expiryDay);

  // Layout: payloads right behind the header, messages behind them, the
  // trailing data last and outside the checksum.
  uint32_t next = l.packageOffset + kHeaderSize;
  if (recipe.x86) {
    EXPECT_EQ(h.payload32.offset, next);
    EXPECT_EQ(h.payload32.unpackedSize, recipe.x86->size());
    EXPECT_EQ(Unpacked(p, h.payload32), *recipe.x86);
    next += h.payload32.packedSize;
  } else {
    EXPECT_EQ(h.payload32.offset, 0u);
  }
  if (recipe.x64) {
    EXPECT_EQ(h.payload64.offset, next);
    EXPECT_EQ(h.payload64.unpackedSize, recipe.x64->size());
    EXPECT_EQ(Unpacked(p, h.payload64), *recipe.x64);
    next += h.payload64.packedSize;
  } else {
    EXPECT_EQ(h.payload64.offset, recipe.barFrom64Bit ? kBarredFrom64Bit : 0u);
  }
  const std::pair<const MessageDescriptor*, const std::u16string*> messages[] = {
      {&h.expiredMessage, &recipe.expiredMessage},
      {&h.wrongWidthMessage, &recipe.wrongWidthMessage},
      {&h.unsupportedWindowsMessage, &recipe.unsupportedWindowsMessage}};
  for (const auto& [descriptor, text] : messages) {
    EXPECT_EQ(descriptor->offset, next);
    EXPECT_EQ(TextAt(b, *descriptor), *text);
    next += 2u * descriptor->length;
  }
  EXPECT_EQ(h.afterMessages, next);
  EXPECT_EQ(l.crcLength, next - l.packageOffset);
  EXPECT_EQ(l.crc, Crc32(b.data() + l.packageOffset, l.crcLength));
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + next, b.end()), recipe.trailingData);

  EXPECT_EQ(l.detachedMinSize,
            recipe.detachedMinSize ? recipe.detachedMinSize
                                 : (recipe.detached ? static_cast<uint32_t>(b.size()) : 0u));
  if (!recipe.detachedMinSize) {
    EXPECT_EQ(LauncherVerdict(b), u"");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Packages, PackageWriterRoundTrip,
    testing::Values(
        RoundTripCase{"X86Only", [](PackageRecipe&) {}},
        RoundTripCase{"X64Only",
                      [](PackageRecipe& s) {
                        s.x86.reset();
                        s.x64 = SampleProgram(50000, 2);
                      }},
        RoundTripCase{"Both", [](PackageRecipe& s) { s.x64 = SampleProgram(90000, 3); }},
        RoundTripCase{"BarredFrom64Bit", [](PackageRecipe& s) { s.barFrom64Bit = true; }},
        RoundTripCase{"TrailingData",
                      [](PackageRecipe& s) {
                        s.x64 = SampleProgram(1000, 4);
                        s.trailingData = SampleProgram(3000, 5);
                      }},
        RoundTripCase{"EmptyMessagesAndProgram",
                      [](PackageRecipe& s) {
                        s.x86 = std::vector<uint8_t>();
                        s.expiredMessage.clear();
                        s.wrongWidthMessage.clear();
                        s.unsupportedWindowsMessage.clear();
                      }},
        RoundTripCase{"NonAsciiMessages",
                      [](PackageRecipe& s) {
                        s.expiredMessage = u"Abgelaufen \u00e4\u00f6\u00fc \u20ac";
                        s.unsupportedWindowsMessage = u"\U0001F600 %USER% \u65e5\u672c";
                      }},
        RoundTripCase{"EveryHeaderField",
                      [](PackageRecipe& s) {
                        s.allowedWindows = WindowsVersionSet{};
                        s.allowedWindows.Add(kWinXp);
                        s.allowedWindows.Add(kWin11);
                        s.win10Min = 1809;
                        s.win10Max = 2111;
                        s.win11Min = 2209;
                        s.win11Max = 2410;
                        s.elevationMode = 2;
                        s.expiryYear = 2027;
                        s.expiryMonth = 2;
                        s.expiryDay = 28;
                      }},
        RoundTripCase{"Detached", [](PackageRecipe& s) { s.detached = true; }},
        RoundTripCase{"DetachedMinSizeGiven", [](PackageRecipe& s) { s.detachedMinSize = 1234; }},
        RoundTripCase{"StoreLevelTinyDictionary",
                      [](PackageRecipe& s) {
                        s.lzmaLevel = 0;
                        s.dictionarySize = 4096;
                        s.lc = 0;
                        s.lp = 0;
                        s.pb = 0;
                      }},
        RoundTripCase{"HighPositionBits",
                      [](PackageRecipe& s) {
                        s.lzmaLevel = 9;
                        s.dictionarySize = 1u << 20;
                        s.lc = 0;
                        s.lp = 4;
                        s.pb = 4;
                        s.x64 = SampleProgram(20000, 6);
                      }},
        RoundTripCase{"OddDictionary",
                      [](PackageRecipe& s) {
                        s.dictionarySize = 65537;
                        s.lc = 4;
                      }},
        RoundTripCase{"LargerStub",
                      [](PackageRecipe& s) {
                        s.stub.resize(4099, 0xCC);
                      }}),
    [](const testing::TestParamInfo<RoundTripCase>& info) { return info.param.name; });

struct RefusalCase {
  const char* name;
  std::function<void(PackageRecipe&)> change;
  const char* mentions;  // a word the error message must carry
};

class PackageWriterRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(PackageWriterRefusal, ThrowsWriterErrorWithAReason) {
  PackageRecipe recipe = BasicRecipe();
  GetParam().change(recipe);
  try {
    BuildPackage(recipe);
    FAIL() << "the writer accepted it";
  } catch (const WriterError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().mentions), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, PackageWriterRefusal,
    testing::Values(
        RefusalCase{"StubNotMz", [](PackageRecipe& s) { s.stub[0] = 'Z'; }, "MZ"},
        RefusalCase{"StubTooShort", [](PackageRecipe& s) { s.stub.resize(40); }, "MZ"},
        RefusalCase{"LocatorRoomInUse", [](PackageRecipe& s) { s.stub[140] = 1; }, "128..151"},
        RefusalCase{"LocatorRoomLastByteInUse", [](PackageRecipe& s) { s.stub[151] = 1; },
                    "128..151"},
        RefusalCase{"PeHeaderInLocatorRoom",
                    [](PackageRecipe& s) {
                      WriteU32(s.stub.data() + 0x3C, 128);
                      std::memcpy(s.stub.data() + 128, "PE\0\0", 4);
                    },
                    "PE header"},
        RefusalCase{"PeHeaderJustBeforeLocatorEnd",
                    [](PackageRecipe& s) { WriteU32(s.stub.data() + 0x3C, 151); }, "PE header"},
        RefusalCase{"NoPeSignature", [](PackageRecipe& s) { s.stub[256] = 'X'; }, "PE header"},
        RefusalCase{"PeOffsetPastEnd",
                    [](PackageRecipe& s) { WriteU32(s.stub.data() + 0x3C, 0xFFFFFFF0u); },
                    "PE header"},
        RefusalCase{"NoSetupProgram", [](PackageRecipe& s) { s.x86.reset(); }, "at least one"},
        RefusalCase{"X64OnlyBarredFrom64Bit",
                    [](PackageRecipe& s) {
                      s.x86.reset();
                      s.x64 = SampleProgram(10, 1);
                      s.barFrom64Bit = true;
                    },
                    "barred"},
        RefusalCase{"BothBarredFrom64Bit",
                    [](PackageRecipe& s) {
                      s.x64 = SampleProgram(10, 1);
                      s.barFrom64Bit = true;
                    },
                    "barred"},
        RefusalCase{"MessageTooLong",
                    [](PackageRecipe& s) { s.unsupportedWindowsMessage.assign(65536, u'x'); },
                    "65535"},
        RefusalCase{"LevelAboveNine", [](PackageRecipe& s) { s.lzmaLevel = 10; }, "level"},
        RefusalCase{"DictionaryTooSmall", [](PackageRecipe& s) { s.dictionarySize = 4095; },
                    "dictionary"},
        RefusalCase{"LcPlusLpAboveFour",
                    [](PackageRecipe& s) {
                      s.lc = 3;
                      s.lp = 2;
                    },
                    "lc"},
        RefusalCase{"PbAboveFour", [](PackageRecipe& s) { s.pb = 5; }, "pb"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(PackageWriterTest, MessageOfExactly65535UnitsFits) {
  PackageRecipe recipe = BasicRecipe();
  recipe.expiredMessage.assign(65535, u'y');
  const BuiltPackage p = BuildPackage(recipe);
  EXPECT_EQ(p.header.expiredMessage.length, 65535);
  EXPECT_EQ(TextAt(p.bytes, p.header.expiredMessage), recipe.expiredMessage);
}

TEST(PackageWriterTest, SameRecipeGivesSameBytesAndProgressDoesNotMatter) {
  PackageRecipe recipe = BasicRecipe();
  recipe.x86 = SampleProgram(120000, 7);
  recipe.x64 = SampleProgram(160000, 8);
  recipe.trailingData = {1, 2, 3};
  const BuiltPackage first = BuildPackage(recipe);

  uint64_t last = 0, reportedTotal = 0;
  bool decreased = false;
  recipe.progress = [&](uint64_t consumed, uint64_t total) {
    if (consumed < last) decreased = true;
    last = consumed;
    reportedTotal = total;
  };
  const BuiltPackage second = BuildPackage(recipe);
  EXPECT_EQ(first.bytes, second.bytes);
  EXPECT_FALSE(decreased);
  EXPECT_EQ(reportedTotal, 280000u);
  EXPECT_EQ(last, 280000u);
}

// The encoder is fed a piece at a time so that its progress follows the
// work; its output must be what one call over the whole input gives.
TEST(PackageWriterTest, PiecewiseCompressionMatchesOneCallAndReportsAsItGoes) {
  const std::vector<uint8_t> program = SampleProgram((7u << 19) + 12345, 3);  // 3.5 MiB and a bit
  std::vector<uint64_t> reports;
  const std::vector<uint8_t> packed = CompressRawLzma1(
      program, 1, 1u << 20, 3, 0, 2, [&](uint64_t consumed) { reports.push_back(consumed); });

  lzma_options_lzma options;
  ASSERT_FALSE(lzma_lzma_preset(&options, 1));
  options.dict_size = 1u << 20;
#ifdef LZMA_FILTER_LZMA1EXT
  options.ext_flags = 0;
  options.ext_size_low = 0;
  options.ext_size_high = 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
#else
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
#endif
  std::vector<uint8_t> whole(program.size() + (1u << 16));
  size_t wholeSize = 0;
  ASSERT_EQ(lzma_raw_buffer_encode(filters, nullptr, program.data(), program.size(), whole.data(),
                                   &wholeSize, whole.size()),
            LZMA_OK);
  whole.resize(wholeSize);
  EXPECT_EQ(packed, whole);

  ASSERT_FALSE(reports.empty());
  EXPECT_LT(reports.front(), program.size() / 2) << "the first report came after half the work";
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_EQ(reports.back(), program.size());
}

TEST(PackageWriterTest, SettingsChangeTheBytes) {
  const PackageRecipe base = BasicRecipe();
  PackageRecipe other = base;
  other.lzmaLevel = 1;
  EXPECT_NE(BuildPackage(base).bytes, BuildPackage(other).bytes);
}

TEST(PackageWriterTest, StoreHeaderKeepsTheSealAndAdjustLocatorCanBreakIt) {
  PackageRecipe recipe = BasicRecipe();
  BuiltPackage p = BuildPackage(recipe);
  PackageHeader h = p.header;
  h.expiryYear = 2001;
  StoreHeader(p, h);
  EXPECT_EQ(HeaderIn(p.bytes, p.locator.packageOffset).expiryYear, 2001);
  EXPECT_EQ(LauncherVerdict(p.bytes), u"");

  recipe.adjustLocator = [](PackageLocator& l) { l.crc ^= 1; };
  EXPECT_EQ(LauncherVerdict(BuildPackage(recipe).bytes), FatalMessageText(FatalMessage::kDamaged));

  // A header edit made before sealing is covered by the checksum.
  recipe.adjustLocator = nullptr;
  recipe.adjustHeader = [](PackageHeader& header) { header.elevationMode = 7; };
  const BuiltPackage edited = BuildPackage(recipe);
  EXPECT_EQ(HeaderIn(edited.bytes, edited.locator.packageOffset).elevationMode, 7);
  EXPECT_EQ(LauncherVerdict(edited.bytes), u"");
}

TEST(PackageWriterTest, DecompressStopsShortOnDamagedData) {
  const PackageRecipe recipe = BasicRecipe();
  const BuiltPackage p = BuildPackage(recipe);
  const PayloadDescriptor d = p.header.payload32;
  // Cut the packed data in half: fewer bytes come out than were put in.
  const auto out = DecompressRawLzma1(p.bytes.data() + d.offset, d.packedSize / 2,
                                      p.header.lzmaProperties, p.header.lzmaDictionarySize,
                                      d.unpackedSize);
  EXPECT_LT(out.size(), d.unpackedSize);
}

}  // namespace
}  // namespace stub::writer
