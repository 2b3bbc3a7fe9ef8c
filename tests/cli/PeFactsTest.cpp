// What pkgtool tells from a file's bytes: the kind of program a setup
// program is and whether its slot takes it, a file that is no package, and
// where a signed package ended before it was signed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "authoring/PeResources.h"
#include "tools/pkgtool/PeFacts.h"

namespace pkgtool {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// The test program images keep their PE header at 128.
constexpr size_t kPe = 128;

struct ImageCase {
  const char* name;
  std::function<std::vector<uint8_t>()> bytes;
  const char* description;
  bool fitsX86, fitsX64;
  const char* builtFor = nullptr;  // checked where given
};
void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

class ImageTest : public testing::TestWithParam<ImageCase> {};

TEST_P(ImageTest, NamesTheKindAndTheSlotThatTakesIt) {
  const ImageCase& c = GetParam();
  const ProgramImage image = DescribeImage(c.bytes());
  EXPECT_EQ(image.description, c.description);
  EXPECT_EQ(FitsSlot(image, false), c.fitsX86);
  EXPECT_EQ(FitsSlot(image, true), c.fitsX64);
  if (c.builtFor) {
    EXPECT_EQ(BuiltFor(image), c.builtFor);
  }
}

std::vector<uint8_t> Changed(bool x64, size_t at, uint16_t value) {
  std::vector<uint8_t> image = stub::pe::MinimalProgramImage(x64);
  Put16(image, at, value);
  return image;
}

// An x64 image whose load configuration (in its one section, at file offset
// 0x400) names hybrid metadata at `chpe`, as Arm64EC and ARM64X images do.
std::vector<uint8_t> WithLoadConfig(uint16_t machine, uint32_t chpe) {
  std::vector<uint8_t> image = Changed(true, kPe + 4, machine);
  Put32(image, kPe + 24 + 112 + 8 * 10, 0x1000);  // the load configuration's RVA
  Put32(image, kPe + 24 + 112 + 8 * 10 + 4, 0x140);
  Put32(image, 0x400, 0x140);                      // its Size
  Put32(image, 0x400 + 200, chpe);                 // CHPEMetadataPointer, low half
  return image;
}

INSTANTIATE_TEST_SUITE_P(
    Programs, ImageTest,
    testing::Values(
        ImageCase{"X86", [] { return stub::pe::MinimalProgramImage(false); },
                  "a PE32 image for i386", true, false, "x86"},
        ImageCase{"X64", [] { return stub::pe::MinimalProgramImage(true); },
                  "a PE32+ image for AMD64", false, true, "x64"},
        ImageCase{"X64WithLoadConfig", [] { return WithLoadConfig(0x8664, 0); },
                  "a PE32+ image for AMD64", false, true, "x64"},
        ImageCase{"Arm64", [] { return Changed(true, kPe + 4, 0xAA64); }, "a PE32+ image for ARM64",
                  false, false, "arm64"},
        ImageCase{"Arm64ec", [] { return WithLoadConfig(0x8664, 0x1000); },
                  "a PE32+ image for ARM64EC", false, false, "arm64ec"},
        ImageCase{"Arm64x", [] { return WithLoadConfig(0xAA64, 0x1000); },
                  "a PE32+ image for ARM64", false, false, "arm64"},
        ImageCase{"UnknownMachine", [] { return Changed(false, kPe + 4, 0x1234); },
                  "a PE32 image for machine 0x1234", false, false, "machine 0x1234"},
        ImageCase{"Pe32ForAmd64", [] { return Changed(false, kPe + 4, 0x8664); },
                  "a PE32 image for AMD64", false, false},
        ImageCase{"Dll", [] { return Changed(false, kPe + 22, 0x2102); }, "a PE32 DLL for i386",
                  false, false},
        ImageCase{"NotExecutable", [] { return Changed(true, kPe + 22, 0x0020); },
                  "a PE32+ image for AMD64, not marked executable", false, false},
        ImageCase{"RomImage", [] { return Changed(false, kPe + 24, 0x107); },
                  "a PE image for i386 with an unknown optional header", false, false},
        ImageCase{"Text", [] { return std::vector<uint8_t>{'r', 'o', 'o', 't', ':', 'x'}; },
                  "not a Windows program (it does not begin with MZ)", false, false},
        ImageCase{"Empty", [] { return std::vector<uint8_t>{}; },
                  "not a Windows program (it does not begin with MZ)", false, false},
        ImageCase{"DosProgram", [] { return Changed(false, kPe, 0x4E4E); },
                  "not a Windows program (an MZ file without a PE header)", false, false},
        ImageCase{"PeOffsetPastTheEnd",
                  [] {
                    std::vector<uint8_t> image = stub::pe::MinimalProgramImage(false);
                    Put32(image, 0x3C, 0xFFFFFFF0);
                    return image;
                  },
                  "not a Windows program (an MZ file without a PE header)", false, false}),
    [](const testing::TestParamInfo<ImageCase>& info) { return info.param.name; });

std::vector<uint8_t> Package() {
  stub::writer::PackageRecipe recipe;
  recipe.stub = stub::writer::MinimalStubImage();
  recipe.x86 = stub::pe::MinimalProgramImage(false);
  return stub::writer::BuildPackage(recipe).bytes;
}

// A PE image as Microsoft's linker writes it: its "DanS" ... "Rich" record
// (masked with a key) from offset 128, where a package keeps its locator,
// and the PE header after it.
std::vector<uint8_t> LinkedByMicrosoft() {
  std::vector<uint8_t> image = stub::pe::MinimalPeImage("<assembly/>");
  const uint32_t key = 0x5A17C0DE;
  Put32(image, 0x80, 0x536E6144 ^ key);  // "DanS"
  for (size_t at = 0x84; at < 0x90; at += 4) Put32(image, at, key);
  Put32(image, 0x90, 0x00010203 ^ key);
  Put32(image, 0x94, 0x00000004 ^ key);
  std::memcpy(&image[0x98], "Rich", 4);
  Put32(image, 0x9C, key);
  return image;
}

struct PackageCase {
  const char* name;
  std::function<std::vector<uint8_t>()> bytes;
  const char* problem;  // "" : may be a package
};
void PrintTo(const PackageCase& c, std::ostream* os) { *os << c.name; }

class NotAPackageTest : public testing::TestWithParam<PackageCase> {};

TEST_P(NotAPackageTest, SaysWhyAFileCannotBeAPackage) {
  EXPECT_EQ(NotAPackage(GetParam().bytes()), GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Files, NotAPackageTest,
    testing::Values(
        PackageCase{"Package", Package, ""},
        PackageCase{"DamagedPackage",
                    [] {
                      std::vector<uint8_t> p = Package();
                      p[p.size() / 2] ^= 0xFF;
                      return p;
                    },
                    ""},
        PackageCase{"TruncatedPackage",
                    [] {
                      std::vector<uint8_t> p = Package();
                      p.resize(600);
                      return p;
                    },
                    ""},
        PackageCase{"Text", [] { return std::vector<uint8_t>(500, 'x'); },
                    "not a setup package: not a Windows program (it does not begin with MZ)"},
        PackageCase{"ShortMz", [] { return std::vector<uint8_t>{'M', 'Z', 0, 0}; },
                    "not a setup package: 4 bytes are too few to hold one"},
        PackageCase{"ProgramWithItsHeaderAt128", [] { return stub::pe::MinimalProgramImage(true); },
                    "not a setup package: a PE32+ image for AMD64 without package data"},
        PackageCase{"StubAlone", [] { return stub::pe::MinimalPeImage("<assembly/>"); },
                    "not a setup package: a PE32 image for i386 without package data"},
        PackageCase{"LinkedByMicrosoft", LinkedByMicrosoft,
                    "not a setup package: a PE32 image for i386 without package data"}),
    [](const testing::TestParamInfo<PackageCase>& info) { return info.param.name; });

TEST(CertificateTableTest, OnlyATableWithinTheFileCounts) {
  std::vector<uint8_t> image = stub::pe::MinimalPeImage("<assembly/>");
  const size_t entry = 256 + 24 + 96 + 8 * 4;  // PE32: the security directory
  EXPECT_FALSE(FindCertificateTable(image));
  const uint32_t at = static_cast<uint32_t>(image.size());
  image.resize(at + 16, 0);
  Put32(image, entry, at);
  Put32(image, entry + 4, 16);
  const auto table = FindCertificateTable(image);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->offset, at);
  EXPECT_EQ(table->size, 16u);
  EXPECT_EQ(table->signer, "");  // no PKCS #7 to read
  Put32(image, entry + 4, 17);   // one byte past the end
  EXPECT_FALSE(FindCertificateTable(image));
}

TEST(CertificateTableTest, TheSignersPaddingIsNotPartOfThePackage) {
  std::vector<uint8_t> file(100, 7);
  file.resize(104, 0);  // the signer pads 100 bytes to 104
  file.resize(120, 9);  // the table
  const CertificateTable table{104, 16, ""};
  EXPECT_EQ(UnsignedEnd(file, table, 100), 100u);
  EXPECT_EQ(UnsignedEnd(file, table, 104), 104u);
  EXPECT_EQ(UnsignedEnd(file, table, 96), 104u) << "more than padding lies between";
  file[101] = 1;
  EXPECT_EQ(UnsignedEnd(file, table, 100), 104u) << "padding is zeros";
}

}  // namespace
}  // namespace pkgtool
