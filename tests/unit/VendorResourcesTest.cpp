#include "authoring/VendorResources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "authoring/PeResources.h"

namespace stub::writer {
namespace {

using icon::IconError;
using icon::IconImage;
using pe::PeError;
using version::VersionError;
using version::VersionInfo;

const std::string kManifest = "<assembly manifestVersion=\"1.0\"/>";

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }

// .ico files built in memory: each image a PNG (just the signature and
// IHDR, which is all the reader looks at) or a DIB header.
struct IcoImageSpec {
  uint32_t width, height;
  bool png;
};
std::vector<uint8_t> IcoFile(const std::vector<IcoImageSpec>& specs) {
  std::vector<uint8_t> file(6 + 16 * specs.size(), 0);
  Put16(file, 2, 1);
  Put16(file, 4, static_cast<uint16_t>(specs.size()));
  for (size_t i = 0; i < specs.size(); ++i) {
    std::vector<uint8_t> image;
    if (specs[i].png) {
      const uint8_t head[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
      image.assign(head, head + sizeof head);
      for (uint32_t v : {specs[i].width, specs[i].height}) {
        for (int s = 24; s >= 0; s -= 8) image.push_back(static_cast<uint8_t>(v >> s));
      }
      image.insert(image.end(), {8, 6, 0, 0, 0});
    } else {
      image.assign(40 + 4 * specs[i].width * specs[i].height, 0x5A);
      Put32(image, 0, 40);
      Put32(image, 4, specs[i].width);
      Put32(image, 8, 2 * specs[i].height);
      Put16(image, 12, 1);
      Put16(image, 14, 32);
    }
    const size_t e = 6 + 16 * i;
    file[e] = static_cast<uint8_t>(specs[i].width);
    file[e + 1] = static_cast<uint8_t>(specs[i].height);
    Put32(file, e + 8, static_cast<uint32_t>(image.size()));
    Put32(file, e + 12, static_cast<uint32_t>(file.size()));
    file.insert(file.end(), image.begin(), image.end());
  }
  return file;
}

VersionInfo SampleVersion() {
  return version::MakeVersionInfo({{"ProductName", "Grüße App"},
                                   {"CompanyName", "Example Ltd"},
                                   {"FileVersion", "1.2.3"},
                                   {"ProductVersion", "1.2"},
                                   {"LegalCopyright", "© 2026 Example"},
                                   {"OriginalFilename", "Setup.exe"}});
}

VendorResources Sample() {
  VendorResources v;
  v.icon = icon::ReadIcoFile(IcoFile({{16, 16, false}, {32, 32, false}, {256, 256, true}}));
  v.version = SampleVersion();
  return v;
}

// Every field that says where the resources are or how large the image is
// must agree with the resource section as written.
void ExpectConsistentHeaders(const std::vector<uint8_t>& image) {
  ASSERT_EQ(U32(image, 0x3C), 256u);
  for (size_t i = 128; i < 152; ++i) ASSERT_EQ(image[i], 0) << "offset " << i;
  const size_t opt = 256 + 24;
  const uint16_t sections = U16(image, 256 + 6);
  const size_t table = opt + U16(image, 256 + 20);
  const size_t last = table + 40 * (sections - 1);
  const uint32_t va = U32(image, last + 12), vsize = U32(image, last + 8);
  EXPECT_EQ(U32(image, opt + 96 + 16), va) << "resource directory address";
  EXPECT_EQ(U32(image, opt + 96 + 20), vsize) << "resource directory size";
  EXPECT_EQ(U32(image, last + 20) + U32(image, last + 16), image.size()) << "raw data end";
  EXPECT_EQ(U32(image, last + 16) % U32(image, opt + 36), 0u) << "raw size alignment";
  const uint32_t align = U32(image, opt + 32);
  EXPECT_EQ(U32(image, opt + 56), (va + vsize + align - 1) / align * align) << "SizeOfImage";
  EXPECT_EQ(U32(image, opt + 64), 0u) << "checksum";
}

TEST(VendorResources, StubKeepsManifestAndGainsIconAndVersion) {
  const std::vector<uint8_t> stub = pe::MinimalPeImage(kManifest);
  const std::vector<uint8_t> out = ApplyVendorResources(stub, Sample());
  ExpectConsistentHeaders(out);
  EXPECT_FALSE(StubProblem(out)) << *StubProblem(out);
  // Code and headers before the resource section are untouched but for the
  // size fields.
  EXPECT_TRUE(std::equal(stub.begin() + 0x400, stub.begin() + 0x600, out.begin() + 0x400));

  const ResourceSummary s = SummarizeResources(out);
  ASSERT_EQ(s.problem, "");
  EXPECT_TRUE(s.manifest);
  ASSERT_EQ(s.icons.size(), 3u);
  EXPECT_EQ(s.icons[0].width, 16u);
  EXPECT_EQ(s.icons[2].width, 256u);
  EXPECT_EQ(s.icons[2].height, 256u);
  ASSERT_TRUE(s.version);
  EXPECT_EQ(*s.version, SampleVersion());
  for (const pe::Resource& r : pe::ReadResources(out)) {
    if (r.type.id == pe::kRtManifest) {
      EXPECT_EQ(std::string(r.data.begin(), r.data.end()), kManifest);
    }
    if (r.type.id == pe::kRtIcon) {
      EXPECT_EQ(r.data, (*Sample().icon)[r.name.id - 1].bytes);
    }
  }
}

TEST(VendorResources, ReplacingTwiceEqualsReplacingOnce) {
  // A stub that already carries an icon and version (from an earlier build
  // step) ends up exactly as a clean one: no stale images, same bytes.
  const std::vector<uint8_t> stub = pe::MinimalPeImage(kManifest);
  VendorResources other;
  other.icon = icon::ReadIcoFile(IcoFile({{48, 48, true}, {24, 24, false}, {64, 64, true}, {8, 8, true}}));
  other.version = version::MakeVersionInfo({{"Comments", "old"}});
  const auto once = ApplyVendorResources(stub, Sample());
  const auto twice = ApplyVendorResources(ApplyVendorResources(stub, other), Sample());
  EXPECT_EQ(once, twice);
  EXPECT_EQ(ApplyVendorResources(stub, {}), stub);
}

TEST(VendorResources, PackageBuiltOnTheStubVerifies) {
  PackageRecipe recipe;
  recipe.stub = ApplyVendorResources(pe::MinimalPeImage(kManifest), Sample());
  recipe.x86 = std::vector<uint8_t>(5000, 7);
  const BuiltPackage package = BuildPackage(recipe);
  EXPECT_EQ(package.locator.packageOffset, recipe.stub.size());
  // The resources are still found through the headers of the whole file.
  EXPECT_EQ(SummarizeResources(package.bytes).icons.size(), 3u);
}

TEST(PeResources, MovesResourcesBehindBaseRelocations) {
  // The GNU linker's order: ..., .rsrc, .reloc. Build it from the minimal
  // image by appending a .reloc section.
  std::vector<uint8_t> image = pe::MinimalPeImage(kManifest);
  const size_t opt = 256 + 24, table = opt + 224;
  Put16(image, 256 + 6, 3);
  const size_t e = table + 80;
  std::memcpy(&image[e], ".reloc\0", 8);
  Put32(image, e + 8, 12);
  Put32(image, e + 12, 0x3000);
  Put32(image, e + 16, 0x200);
  Put32(image, e + 20, static_cast<uint32_t>(image.size()));
  Put32(image, e + 36, 0x42000040);
  Put32(image, opt + 96 + 40, 0x3000);
  Put32(image, opt + 96 + 44, 12);
  Put32(image, opt + 56, 0x4000);
  const uint8_t block[] = {0x00, 0x10, 0, 0, 12, 0, 0, 0, 0x00, 0x30, 0, 0};
  const size_t relocRaw = image.size();
  image.resize(relocRaw + 0x200, 0);
  std::memcpy(&image[relocRaw], block, sizeof block);
  const auto before = pe::ReadResources(image);
  EXPECT_FALSE(pe::ResourceLayoutProblem(image).empty());

  ASSERT_TRUE(pe::MoveResourcesLast(image));
  EXPECT_EQ(pe::ResourceLayoutProblem(image), "");
  ExpectConsistentHeaders(image);
  EXPECT_EQ(std::memcmp(&image[table + 40], ".reloc", 6), 0) << "table stays in address order";
  EXPECT_EQ(U32(image, table + 40 + 12), 0x2000u);
  EXPECT_EQ(U32(image, opt + 96 + 40), 0x2000u) << "relocation directory follows its section";
  EXPECT_EQ(std::memcmp(&image[U32(image, table + 40 + 20)], block, sizeof block), 0);
  const auto after = pe::ReadResources(image);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[0].data, before[0].data);
  EXPECT_FALSE(pe::MoveResourcesLast(image)) << "a second run changes nothing";
}

TEST(PeResources, RefusesLayoutsItCannotRewrite) {
  const std::vector<uint8_t> good = pe::MinimalPeImage(kManifest);
  std::vector<uint8_t> appended = good;
  appended.push_back(1);
  std::vector<uint8_t> signedImage = good;
  Put32(signedImage, 256 + 24 + 96 + 32, static_cast<uint32_t>(good.size()));
  Put32(signedImage, 256 + 24 + 96 + 36, 8);
  std::vector<uint8_t> noResources = good;
  Put32(noResources, 256 + 24 + 96 + 16, 0);
  const std::pair<std::vector<uint8_t>*, const char*> cases[] = {
      {&appended, "data follow"}, {&signedImage, "signed"}, {&noResources, "no resource section"}};
  for (const auto& [image, fragment] : cases) {
    try {
      pe::ReplaceResources(*image, {});
      ADD_FAILURE() << fragment << ": accepted";
    } catch (const PeError& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
  }
}

TEST(PeResources, DamagedTreesAreRefusedNotOverrun) {
  // Every cut and every single-byte change inside the resource section
  // either reads or throws PeError; AddressSanitizer watches the reads.
  const std::vector<uint8_t> good = ApplyVendorResources(pe::MinimalPeImage(kManifest), Sample());
  const size_t rsrc = 0x600;
  size_t refused = 0;
  for (size_t at = rsrc; at < rsrc + 0x100; ++at) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(at));
    std::vector<uint8_t> flipped = good;
    flipped[at] ^= 0xFF;
    for (const auto* image : {&cut, &flipped}) {
      try {
        pe::ReadResources(*image);
      } catch (const PeError&) {
        ++refused;
      }
      SummarizeResources(*image);
    }
  }
  EXPECT_GE(refused, 0x100u) << "every cut loses the section";
}

TEST(IconFile, ReadsEveryImageAtItsOwnSize) {
  const auto images = icon::ReadIcoFile(IcoFile({{16, 16, false}, {256, 256, true}, {48, 32, true}}));
  ASSERT_EQ(images.size(), 3u);
  EXPECT_FALSE(images[0].png);
  EXPECT_EQ(images[0].height, 16u) << "a DIB's height counts the mask too";
  EXPECT_EQ(images[0].bitCount, 32u);
  EXPECT_EQ(images[1].width, 256u);
  EXPECT_EQ(images[2].height, 32u);
  const auto group = icon::ReadGroupIconData(icon::GroupIconData(images, 1));
  ASSERT_EQ(group.size(), 3u);
  EXPECT_EQ(group[1].width, 256u) << "256 travels as 0";
  EXPECT_EQ(group[2].id, 3u);
  EXPECT_EQ(group[2].bytes, images[2].bytes.size());
}

TEST(IconFile, RefusesWhatIsNotAnIconWindowsCouldShow) {
  std::vector<uint8_t> outside = IcoFile({{16, 16, true}});
  Put32(outside, 6 + 12, 5000);
  std::vector<uint8_t> junk = IcoFile({{16, 16, true}});
  junk[22] = 'X';
  const std::pair<std::vector<uint8_t>, const char*> cases[] = {
      {std::vector<uint8_t>{'P', 'K', 3, 4, 0, 0, 0}, "no .ico header"},
      {IcoFile({}), "no images"},
      {outside, "image 1 lies outside the file"},
      {junk, "image 1 is neither PNG nor a bitmap"},
      {IcoFile({{16, 16, true}, {257, 257, true}}), "image 2 is 257x257 pixels; icons are at most 256x256"},
      {IcoFile({{512, 16, false}}), "512x16"},
  };
  for (const auto& [file, fragment] : cases) {
    try {
      icon::ReadIcoFile(file);
      ADD_FAILURE() << fragment << ": accepted";
    } catch (const IconError& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
  }
}

TEST(VersionResource, VersionNumbers) {
  using version::ParseVersionNumber;
  using Q = version::Quad;
  EXPECT_EQ(ParseVersionNumber("7"), (Q{7, 0, 0, 0}));
  EXPECT_EQ(ParseVersionNumber("1.2.3.4"), (Q{1, 2, 3, 4}));
  EXPECT_EQ(ParseVersionNumber("65535.0.65535.00012"), (Q{65535, 0, 65535, 12}));
  for (const char* bad : {"", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "1.2b", "v1", "1,2", " 1", "-1"}) {
    EXPECT_FALSE(ParseVersionNumber(bad)) << "'" << bad << "'";
  }
}

TEST(VersionResource, RoundTripAndNumbersFromText) {
  const VersionInfo info = SampleVersion();
  EXPECT_EQ(info.fileVersion, (version::Quad{1, 2, 3, 0}));
  EXPECT_EQ(info.productVersion, (version::Quad{1, 2, 0, 0}));
  EXPECT_EQ(info.strings.front().first, "ProductName") << "strings in the keys' order";
  EXPECT_EQ(version::DecodeVersionInfo(version::EncodeVersionInfo(info)), info);
  const VersionInfo german = version::MakeVersionInfo({{"ProductVersion", "3.1"}}, 0x0407);
  EXPECT_EQ(german.fileVersion, german.productVersion) << "the missing number takes the other";
  const auto bytes = version::EncodeVersionInfo(german);
  EXPECT_EQ(U16(bytes, 0), bytes.size()) << "the root's length covers the whole resource";
  const std::u16string table = u"040704b0";
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), reinterpret_cast<const uint8_t*>(table.data()),
                        reinterpret_cast<const uint8_t*>(table.data() + table.size())),
            bytes.end());
  EXPECT_EQ(version::DecodeVersionInfo(bytes).language, 0x0407);
}

TEST(VersionResource, RefusesBadSettings) {
  const std::pair<std::vector<std::pair<std::string, std::string>>, const char*> cases[] = {
      {{{"Product", "x"}}, "unknown key 'Product'; the keys are ProductName, CompanyName"},
      {{{"Comments", "a"}, {"Comments", "b"}}, "Comments is given twice"},
      {{{"FileVersion", "1.2.3 beta"}}, "FileVersion: '1.2.3 beta' is not a version"},
      {{{"ProductVersion", "1.70000"}}, "ProductVersion: '1.70000'"},
      {{{"CompanyName", "bad \xC3\x28"}}, "CompanyName: the value is not valid UTF-8"},
  };
  for (const auto& [settings, fragment] : cases) {
    try {
      version::MakeVersionInfo(settings);
      ADD_FAILURE() << fragment << ": accepted";
    } catch (const VersionError& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(version::SplitSetting("ProductName"), VersionError);
  EXPECT_EQ(version::SplitSetting("Comments=a=b").second, "a=b");
}

}  // namespace
}  // namespace stub::writer
