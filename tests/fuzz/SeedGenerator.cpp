// Writes the fuzzer's seed corpus: small sound packages from the package
// writer, each paired with a computer on which it reaches a different outcome
// (launch, expiry, wrong width, unsupported Windows, detached start, ...), so
// that mutations start from every stage of the main sequence.
//
//   fuzz_seeds <output folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "authoring/LauncherResource.h"
#include "authoring/PackageWriter.h"
#include "authoring/PeResources.h"
#include "authoring/VendorResources.h"
#include "tests/fuzz/FuzzScenario.h"

namespace stub::fuzz {
namespace {

// A stand-in setup program: an 'MZ' start, some text and repetition, so the
// packed data holds literals, matches and repeated matches.
std::vector<uint8_t> Program(size_t size, uint8_t salt) {
  std::vector<uint8_t> bytes(size);
  const char text[] = "MZ setup program; this program cannot be run in DOS mode. ";
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = i % 97 < 60 ? static_cast<uint8_t>(text[i % (sizeof text - 1)])
                           : static_cast<uint8_t>((i * 31 + salt) & 0xFF);
  }
  return bytes;
}

writer::PackageRecipe BaseRecipe() {
  writer::PackageRecipe recipe;
  recipe.stub = writer::MinimalStubImage();
  recipe.x86 = Program(300, 1);
  recipe.x64 = Program(420, 2);
  recipe.lzmaLevel = 1;
  // Small windows keep every run cheap; the fuzzer finds the large ones.
  recipe.dictionarySize = 1u << 12;
  recipe.expiredMessage = u"This package expired. Windows: %USER%.";
  recipe.wrongWidthMessage = u"This package does not fit your Windows.";
  recipe.unsupportedWindowsMessage = u"Not for %USER%; needs a %user% we allow.";
  return recipe;
}

Facts WithArguments(Facts facts, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0) {
  facts.arguments[0] = static_cast<uint8_t>(a | (b << 4));
  facts.arguments[1] = static_cast<uint8_t>(c | (d << 4));
  return facts;
}

struct Seed {
  const char* name;
  std::function<void(writer::PackageRecipe&)> recipe;
  std::function<void(Facts&)> facts;
};

const std::vector<Seed>& Seeds() {
  static const std::vector<Seed> seeds = {
      {"launch-win10-x64", nullptr, nullptr},
      {"launch-xp-direct",
       nullptr,
       [](Facts& f) {
         f.major = 5;
         f.minor = 1;
         f.flagsA &= ~kAWow64;
       }},
      {"launch-silent-runas", [](writer::PackageRecipe& s) { s.elevationMode = 1; },
       [](Facts& f) { f = WithArguments(f, 6); }},
      {"launch-temp-folder-taken",
       nullptr,
       [](Facts& f) {
         f = WithArguments(f, 2, 4, 1);
         f.flagsB |= kBPlainNameTaken | kBTakenAtCreation;
       }},
      {"launch-own-folder", nullptr, [](Facts& f) { f = WithArguments(f, 3); }},
      {"launch-detached",
       [](writer::PackageRecipe& s) { s.detached = true; }, nullptr},
      {"launch-win11-release",
       [](writer::PackageRecipe& s) {
         s.win11Min = 2209;
         s.win11Max = 2410;
       },
       [](Facts& f) {
         f.currentBuild = 26100;
         f.releaseChoice = 6;  // 24H2
       }},
      {"launch-lc0-lp2-pb0",
       [](writer::PackageRecipe& s) {
         s.lc = 0;
         s.lp = 2;
         s.pb = 0;
         s.dictionarySize = 1u << 16;
       },
       nullptr},
      {"launch-trailing-data",
       [](writer::PackageRecipe& s) { s.trailingData = Program(64, 9); }, nullptr},
      {"expired",
       [](writer::PackageRecipe& s) {
         s.expiryYear = 2025;
         s.expiryMonth = 12;
         s.expiryDay = 31;
       },
       nullptr},
      {"wrong-width-barred",
       [](writer::PackageRecipe& s) {
         s.x64.reset();
         s.barFrom64Bit = true;
       },
       nullptr},
      {"x86-only-with-32-switch",
       [](writer::PackageRecipe& s) { s.x64.reset(); },
       [](Facts& f) { f = WithArguments(f, 1, 8); }},
      {"unsupported-windows",
       [](writer::PackageRecipe& s) {
         s.allowedWindows = WindowsVersionSet{};
         s.allowedWindows.Add(kWin7);
       },
       nullptr},
      {"unsupported-release",
       [](writer::PackageRecipe& s) {
         s.win10Min = 2004;
         s.win10Max = 2009;
       },
       [](Facts& f) { f.releaseChoice = 0x90; }},  // ReleaseId 1909
      {"start-fails", nullptr, [](Facts& f) { f.flagsA |= kAStartFails; }},
      {"short-write",
       nullptr,
       [](Facts& f) {
         f.flagsB |= kBShortWrite;
         f.shortWriteBytes = 17;
       }},
      {"mapped-drive-admin",
       nullptr,
       [](Facts& f) {
         f.flagsB |= kBMappedDrive;
         f.flagsA |= kAAdministrator;
         f.flagsC = static_cast<uint8_t>((f.flagsC & 0x8F) | (3 << kCModulePathShift));
       }},
  };
  return seeds;
}

std::vector<uint8_t> SeedBytes(const Seed& seed) {
  writer::PackageRecipe recipe = BaseRecipe();
  if (seed.recipe) seed.recipe(recipe);
  Facts facts = TypicalFacts();
  if (seed.facts) seed.facts(facts);
  uint8_t prefix[kFactsSize];
  EncodeFacts(facts, prefix);
  const writer::BuiltPackage package = writer::BuildPackage(recipe);
  std::vector<uint8_t> bytes(prefix, prefix + kFactsSize);
  bytes.insert(bytes.end(), package.bytes.begin(), package.bytes.end());
  return bytes;
}

// The settings target's inputs: user languages, then a resource without its
// checksum (the target appends it).
writer::LauncherLanguage Entry(uint16_t id, std::u16string damaged, std::u16string oom = u"") {
  writer::LauncherLanguage l;
  l.language = id;
  l.texts[static_cast<int>(LauncherText::kDamaged)] = std::move(damaged);
  l.texts[static_cast<int>(LauncherText::kOutOfMemory)] = std::move(oom);
  return l;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> SettingsSeeds() {
  struct Case {
    const char* name;
    std::vector<uint16_t> user;
    writer::LauncherSettingsChoice choice;
  };
  const std::vector<Case> cases = {
      {"deployment-only", {0x0409}, {true, {}}},
      {"german-regions", {0x0807, 0x0407}, {false, {Entry(0x0407, u"de"), Entry(0x0C07, u"at", u"oom")}}},
      {"chinese-scripts",
       {0x0C04, 0x0804},
       {false, {Entry(0x0804, u"hans"), Entry(0x0404, u"hant", u"oom"), Entry(0x1404, u"mo")}}},
      {"serbian-scripts",
       {0x281A, 0x241A, 0x041A},
       {true, {Entry(0x041A, u"hr"), Entry(0x241A, u"latn"), Entry(0x1C1A, u"cyrl")}}},
      {"catalan-falls-back", {0x0403, 0x0C0A}, {false, {Entry(0x0C0A, u"es", u"memoria")}}},
  };
  std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes{static_cast<uint8_t>(c.user.size())};
    for (uint16_t id : c.user) {
      bytes.push_back(static_cast<uint8_t>(id));
      bytes.push_back(static_cast<uint8_t>(id >> 8));
    }
    std::vector<uint8_t> resource = writer::EncodeLauncherSettings(c.choice);
    bytes.insert(bytes.end(), resource.begin(), resource.end() - 4);
    seeds.emplace_back(c.name, std::move(bytes));
  }
  return seeds;
}

// The PE target's inputs: stubs with and without the vendor's resources, and
// both kinds of setup program.
std::vector<std::pair<std::string, std::vector<uint8_t>>> PeSeeds() {
  writer::VendorResources vendor;
  icon::IconImage image;
  image.width = image.height = 16;
  image.bitCount = 32;
  image.bytes.assign(40 + 16 * 16 * 4 + 16 * 4, 0);
  image.bytes[0] = 40;   // BITMAPINFOHEADER
  image.bytes[4] = 16;   // width
  image.bytes[8] = 32;   // height, both halves
  image.bytes[12] = 1;   // planes
  image.bytes[14] = 32;  // bits
  vendor.icon = std::vector<icon::IconImage>{image};
  vendor.version = version::MakeVersionInfo({{"ProductName", "Fuzz"}, {"FileVersion", "1.2.3"}});
  vendor.launcher = writer::LauncherSettingsChoice{true, {Entry(0x0407, u"kaputt")}};
  return {
      {"minimal-stub", writer::MinimalStubImage()},
      {"stub-with-vendor-resources", writer::ApplyVendorResources(pe::MinimalPeImage("<assembly/>"), vendor)},
      {"manifest-only", pe::MinimalPeImage("<assembly/>")},
      {"program-x86", pe::MinimalProgramImage(false)},
      {"program-x64", pe::MinimalProgramImage(true)},
  };
}

}  // namespace
}  // namespace stub::fuzz

namespace {

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (out) return true;
  std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) {
    std::fprintf(stderr,
                 "usage: %s <launcher seed folder> [<package seed folder> [<settings seed folder> "
                 "[<PE seed folder>]]]\n",
                 argv[0]);
    return 2;
  }
  for (int i = 3; i < argc; ++i) {
    const std::filesystem::path out = argv[i];
    std::filesystem::create_directories(out);
    for (const auto& [name, bytes] : i == 3 ? stub::fuzz::SettingsSeeds() : stub::fuzz::PeSeeds()) {
      if (!WriteFile(out / name, bytes)) return 1;
    }
  }
  // The package folder gets each distinct package once, without the
  // computer, for the targets that read a package file as pkgtool does.
  const std::filesystem::path folder = argv[1];
  const std::filesystem::path packages = argc >= 3 ? argv[2] : "";
  std::filesystem::create_directories(folder);
  if (!packages.empty()) std::filesystem::create_directories(packages);
  for (const auto& seed : stub::fuzz::Seeds()) {
    const std::vector<uint8_t> bytes = stub::fuzz::SeedBytes(seed);
    if (!WriteFile(folder / seed.name, bytes)) return 1;
    const bool distinctPackage = seed.recipe || &seed == &stub::fuzz::Seeds().front();
    if (!packages.empty() && distinctPackage &&
        !WriteFile(packages / seed.name,
                   std::vector<uint8_t>(bytes.begin() + stub::fuzz::kFactsSize, bytes.end()))) {
      return 1;
    }
  }
  std::printf("%zu seeds in %s\n", stub::fuzz::Seeds().size(), folder.c_str());
  return 0;
}
