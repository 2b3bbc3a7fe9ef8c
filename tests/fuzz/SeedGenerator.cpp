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

#include "package/writer/PackageWriter.h"
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
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s <launcher seed folder> [<package seed folder>]\n", argv[0]);
    return 2;
  }
  // The package folder gets each distinct package once, without the
  // computer, for the targets that read a package file as pkgtool does.
  const std::filesystem::path folder = argv[1];
  const std::filesystem::path packages = argc == 3 ? argv[2] : "";
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
