// Wraps the test setup program into a package for the planted-DLL test: a
// 32-bit program only (so it runs on 32-bit and 64-bit Wine alike), no expiry,
// every Windows allowed, so that the launcher goes all the way to the start.
//
//   make_planted_package <stub> <setup program> <output> [MiB]
//
// MiB: that much random data appended to the setup program (it still runs),
// so that unpacking it takes long enough for the progress window to show.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "authoring/PackageWriter.h"

namespace {

bool ReadFile(const char* path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s <stub> <setup program> <output> [MiB]\n", argv[0]);
    return 2;
  }
  stub::writer::PackageRecipe recipe;
  std::vector<uint8_t> program;
  if (!ReadFile(argv[1], recipe.stub) || !ReadFile(argv[2], program)) {
    std::fprintf(stderr, "cannot read %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  if (argc == 5) {
    // Random bytes are the slowest to unpack, and pack at once at level 0.
    uint32_t x = 12345;
    const size_t padding = static_cast<size_t>(std::atoi(argv[4])) << 20;
    for (size_t i = 0; i < padding; ++i) {
      x = x * 1103515245u + 12345u;
      program.push_back(static_cast<uint8_t>(x >> 24));
    }
    recipe.lzmaLevel = 0;
  }
  recipe.x86 = program;
  recipe.dictionarySize = 1u << 16;
  try {
    const stub::writer::BuiltPackage package = stub::writer::BuildPackage(recipe);
    std::ofstream out(argv[3], std::ios::binary);
    out.write(reinterpret_cast<const char*>(package.bytes.data()),
              static_cast<std::streamsize>(package.bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", argv[3]);
      return 1;
    }
  } catch (const stub::writer::WriterError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
