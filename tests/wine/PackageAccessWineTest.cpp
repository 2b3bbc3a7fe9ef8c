// The real stub under Wine finding and checking its package: damaged,
// truncated and missing packages show their one error box; sound ones start
// the setup program.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>

#include "authoring/PeResources.h"
#include "authoring/VendorResources.h"
#include "tests/unit/LauncherTestSupport.h"
#include "tests/wine/WineTestSupport.h"

namespace winetest {
namespace {

using stub::FatalMessage;

// Bytes of a sound package, changed the way a bad download or a careless
// copy changes them.
struct BrokenPackageCase {
  const char* name;
  std::function<std::vector<uint8_t>(const stub::writer::BuiltPackage&)> make;
  FatalMessage message;
};
void PrintTo(const BrokenPackageCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint8_t> FlipInsideChecksumSpan(const stub::writer::BuiltPackage& built) {
  auto bytes = built.bytes;
  // The middle of the span lies in the packed setup program.
  bytes[built.locator.packageOffset + built.locator.crcLength / 2] ^= 0x01;
  return bytes;
}

std::vector<uint8_t> FlipLastByteOfSpan(const stub::writer::BuiltPackage& built) {
  auto bytes = built.bytes;
  bytes[built.locator.packageOffset + built.locator.crcLength - 1] ^= 0x80;
  return bytes;
}

std::vector<uint8_t> CutLastByte(const stub::writer::BuiltPackage& built) {
  return std::vector<uint8_t>(built.bytes.begin(), built.bytes.end() - 1);
}

std::vector<uint8_t> CutInsideHeader(const stub::writer::BuiltPackage& built) {
  return std::vector<uint8_t>(built.bytes.begin(), built.bytes.begin() + built.locator.packageOffset + 10);
}

std::vector<uint8_t> StubAlone(const stub::writer::BuiltPackage&) { return Harness::Get().Stub(); }

std::vector<uint8_t> LocatorZeroed(const stub::writer::BuiltPackage& built) {
  auto bytes = built.bytes;
  std::fill(bytes.begin() + stub::kLocatorOffset, bytes.begin() + stub::kLocatorOffset + stub::kLocatorSize,
            0);
  return bytes;
}

class BrokenPackageWineTest : public WineTest, public ::testing::WithParamInterface<BrokenPackageCase> {};

TEST_P(BrokenPackageWineTest, ShowsOneErrorBoxAndEndsWithZero) {
  const auto built = stub::writer::BuildPackage(RunnableRecipe());
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, GetParam().make(built));
  const RunResult run = wine.Run(kPackagePath, {});
  ExpectOneErrorBox(run, Fatal(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Packages, BrokenPackageWineTest,
    ::testing::Values(BrokenPackageCase{"FlippedByteInSpan", FlipInsideChecksumSpan, FatalMessage::kDamaged},
                      BrokenPackageCase{"FlippedLastByteOfSpan", FlipLastByteOfSpan, FatalMessage::kDamaged},
                      BrokenPackageCase{"LastByteCut", CutLastByte, FatalMessage::kTruncated},
                      BrokenPackageCase{"CutInsideHeader", CutInsideHeader, FatalMessage::kTruncated},
                      BrokenPackageCase{"BareStub", StubAlone, FatalMessage::kDamaged},
                      BrokenPackageCase{"LocatorZeroed", LocatorZeroed, FatalMessage::kDamaged}),
    [](const auto& info) { return std::string(info.param.name); });

// A package whose data were swapped for those of another sound package and
// sealed again, checksum and all: only the digest that the launcher's own
// image records can tell. With it, the damaged box and nothing started;
// without it (packages from before the digest), the other program starts,
// which is what the digest is there to stop.
class SwappedDataWineTest : public WineTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SwappedDataWineTest, OnlyTheDigestTellsSwappedData) {
  const bool digest = GetParam();
  auto recipe = RunnableRecipe();
  const std::vector<uint8_t> stub = recipe.stub;
  stub::writer::VendorResources vendor;
  vendor.launcher.emplace();
  if (digest) vendor.launcher->packageDigest.emplace();
  recipe.stub = stub::writer::ApplyVendorResources(stub, vendor);
  if (digest) {
    recipe.stubWithDigest = [&](const stub::writer::PackageDigest& d) {
      vendor.launcher->packageDigest = d;
      return stub::writer::ApplyVendorResources(stub, vendor);
    };
  }
  const auto genuine = stub::writer::BuildPackage(recipe);
  auto other = recipe;
  other.x86->insert(other.x86->end(), 4096, 0x5A);  // the same program with data behind it
  const auto forged = stub::writer::BuildPackage(other);
  // The genuine stub, the other package's locator and data.
  std::vector<uint8_t> bytes(genuine.bytes.begin(), genuine.bytes.begin() + genuine.locator.packageOffset);
  std::copy(forged.bytes.begin() + stub::kLocatorOffset,
            forged.bytes.begin() + stub::kLocatorOffset + stub::kLocatorSize, bytes.begin() + stub::kLocatorOffset);
  bytes.insert(bytes.end(), forged.bytes.begin() + forged.locator.packageOffset, forged.bytes.end());
  ASSERT_EQ(genuine.locator.packageOffset, forged.locator.packageOffset);

  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, bytes);
  const RunResult run = wine.Run(kPackagePath, {});
  if (digest) {
    ExpectOneErrorBox(run, Fatal(FatalMessage::kDamaged));
    EXPECT_TRUE(run.starts.empty());
  } else {
    ExpectOneFinishedStart(run, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Stubs, SwappedDataWineTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "WithDigest" : "WithoutDigest"); });

// A settings resource whose text lengths wrap a 32-bit sum to exactly its
// end: the launcher refuses it whole, as any damaged resource.
TEST_F(WineTest, SettingsWhoseLengthsWrapShowTheDamagedBox) {
  auto recipe = RunnableRecipe();
  std::vector<stub::pe::Resource> resources = stub::pe::ReadResources(recipe.stub);
  stub::pe::Resource settings;
  settings.type.id = 10;
  settings.name.name = stub::kSettingsResourceName;
  settings.data = stub::test::WrappingSettingsResource();
  resources.push_back(settings);
  recipe.stub = stub::pe::ReplaceResources(recipe.stub, resources);
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, stub::writer::BuildPackage(recipe).bytes);
  ExpectOneErrorBox(wine.Run(kPackagePath, {}), Fatal(FatalMessage::kDamaged));
}

// The launcher checks a package by folding it with PCLMULQDQ where the
// processor has that and SSE4.1, and through tables elsewhere. The suite runs
// on a processor model with both; these cases run the 32-bit stub on one with
// neither, so the table path, too, runs as 32-bit code.
struct TablePathCase {
  const char* name;
  std::function<std::vector<uint8_t>(const stub::writer::BuiltPackage&)> make;
  bool damaged;
};
void PrintTo(const TablePathCase& c, std::ostream* os) { *os << c.name; }

class TablePathWineTest : public WineTest, public ::testing::WithParamInterface<TablePathCase> {};

TEST_P(TablePathWineTest, ChecksThePackageWithoutPclmulqdq) {
  const Harness& harness = Harness::Get();
  if (harness.StubIs64Bit() || harness.CpuModels().size() < 2) {
    GTEST_SKIP() << "no processor model can be chosen for the 32-bit stub here ("
                 << (harness.StubIs64Bit() ? "the stub under test is the 64-bit test build"
                                           : harness.WhyNoCpuModels())
                 << "); the checksum takes the path of the machine's own processor, and the unit tests run both";
  }
  const auto built = stub::writer::BuildPackage(RunnableRecipe());
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, GetParam().make(built));
  RunOptions options;
  options.cpu = harness.CpuModels()[1];
  const RunResult run = wine.Run(kPackagePath, options);
  if (GetParam().damaged) {
    ExpectOneErrorBox(run, Fatal(FatalMessage::kDamaged));
  } else {
    ExpectOneFinishedStart(run);
  }
}

std::vector<uint8_t> Unchanged(const stub::writer::BuiltPackage& built) { return built.bytes; }

INSTANTIATE_TEST_SUITE_P(Packages, TablePathWineTest,
                         ::testing::Values(TablePathCase{"AsWritten", Unchanged, false},
                                           TablePathCase{"FlippedByteInSpan", FlipInsideChecksumSpan, true},
                                           TablePathCase{"FlippedLastByteOfSpan", FlipLastByteOfSpan, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Packages that differ from the written one only where the launcher does not
// look: they still run.
struct SoundPackageCase {
  const char* name;
  std::function<std::vector<uint8_t>(const stub::writer::BuiltPackage&)> make;
};
void PrintTo(const SoundPackageCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint8_t> AsWritten(const stub::writer::BuiltPackage& built) { return built.bytes; }

std::vector<uint8_t> BytesAppended(const stub::writer::BuiltPackage& built) {
  auto bytes = built.bytes;
  bytes.insert(bytes.end(), 4096, 0xA5);
  return bytes;
}

std::vector<uint8_t> FlipAfterSpan(const stub::writer::BuiltPackage& built) {
  // The setup program's trailing data lies behind the span.
  auto bytes = built.bytes;
  bytes[built.locator.packageOffset + built.locator.crcLength] ^= 0xFF;
  return bytes;
}

// Authenticode signing appends the signature behind everything else and
// touches only the PE header, which lies outside the checked span. Empty when
// the signing tools are missing.
std::vector<uint8_t> Signed(const stub::writer::BuiltPackage& built) {
  if (std::system("command -v osslsigncode >/dev/null 2>&1 && command -v openssl >/dev/null 2>&1") != 0) {
    return {};
  }
  char pattern[] = "/tmp/wine-sign.XXXXXX";
  if (!mkdtemp(pattern)) return {};
  const fs::path dir = pattern;
  {
    std::ofstream out(dir / "in.exe", std::ios::binary);
    out.write(reinterpret_cast<const char*>(built.bytes.data()),
              static_cast<std::streamsize>(built.bytes.size()));
  }
  const std::string d = dir.string();
  const std::string command =
      "cd '" + d +
      "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
      "-subj '/CN=Throwaway test signer' >/dev/null 2>&1 && osslsigncode sign -certs cert.pem -key key.pem "
      "-in in.exe -out out.exe >/dev/null 2>&1";
  std::vector<uint8_t> bytes;
  if (std::system(command.c_str()) == 0) {
    std::ifstream in(dir / "out.exe", std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return bytes;
}

// The vendor's icon and version information rewrite the stub's last
// section; the package must still start, and still once signed.
std::vector<uint8_t> WithIconAndVersionSigned(const stub::writer::BuiltPackage&) {
  // One 16x16 32-bit bitmap image with its AND mask.
  std::vector<uint8_t> image(40 + 16 * 16 * 4 + 16 * 4, 0x80);
  const uint8_t header[16] = {40, 0, 0, 0, 16, 0, 0, 0, 32, 0, 0, 0, 1, 0, 32, 0};
  std::copy(std::begin(header), std::end(header), image.begin());
  std::fill(image.begin() + 16, image.begin() + 40, 0);
  std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0};
  for (uint32_t v : {static_cast<uint32_t>(image.size()), 22u}) {
    for (int i = 0; i < 4; ++i) ico.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  ico.insert(ico.end(), image.begin(), image.end());
  stub::writer::VendorResources vendor;
  vendor.icon = stub::icon::ReadIcoFile(ico);
  vendor.version = stub::version::MakeVersionInfo(
      {{"ProductName", "Wine case"}, {"FileVersion", "1.2.3"}, {"CompanyName", "Example Ltd"}});
  auto recipe = RunnableRecipe();
  recipe.trailingData = std::vector<uint8_t>(64, 0x5A);
  recipe.stub = stub::writer::ApplyVendorResources(recipe.stub, vendor);
  return Signed(stub::writer::BuildPackage(recipe));
}

class SoundPackageWineTest : public WineTest, public ::testing::WithParamInterface<SoundPackageCase> {};

TEST_P(SoundPackageWineTest, StartsTheSetupProgramAndWaitsForIt) {
  auto recipe = RunnableRecipe();
  recipe.trailingData = std::vector<uint8_t>(64, 0x5A);
  const auto built = stub::writer::BuildPackage(recipe);
  const auto bytes = GetParam().make(built);
  if (bytes.empty()) GTEST_SKIP() << "osslsigncode or openssl is missing";
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, bytes);
  RunOptions options;
  options.arguments = {"/x", "two words"};
  // A launcher that does not wait would end before the setup program does.
  options.environment["SETUPPROG_SLEEP_MS"] = "1500";
  const RunResult run = wine.Run(kPackagePath, options);
  ExpectOneFinishedStart(run);
  if (run.setupAtExit.empty()) return;
  const SetupStart& setup = run.setupAtExit[0];
  EXPECT_EQ(setup.arch, ExpectedArch(Width::k64));
  const std::string copy = setup.module;
  EXPECT_FALSE(PrivateFolderOf(copy, WineMachineTempFolder()).empty());
  EXPECT_EQ(setup.commandLine, "\"" + copy + "\" \"" + kPackagePath + "\" /x \"two words\"");
  EXPECT_FALSE(wine.Exists(copy)) << "the temporary copy outlived the setup program";
  EXPECT_TRUE(wine.Exists(kPackagePath));
}

INSTANTIATE_TEST_SUITE_P(Packages, SoundPackageWineTest,
                         ::testing::Values(SoundPackageCase{"AsWritten", AsWritten},
                                           SoundPackageCase{"BytesAppended", BytesAppended},
                                           SoundPackageCase{"FlippedByteAfterSpan", FlipAfterSpan},
                                           SoundPackageCase{"Signed", Signed},
                                           SoundPackageCase{"IconAndVersionSigned",
                                                            WithIconAndVersionSigned}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace winetest
