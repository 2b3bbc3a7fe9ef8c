// pefix FILE: moves the PE headers of a linked stub to offset 256 and clears
// offsets 128..255 for the package locator, then makes the resources the
// image's last section, so that pkgtool can replace them (icon, version
// information) without moving anything else. Rewrites FILE in place; exits 1
// and leaves it alone when the image cannot take either move.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "authoring/PeResources.h"
#include "tools/pefix/PeFix.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pefix FILE\n");
    return 2;
  }
  const char* path = argv[1];
  std::vector<uint8_t> image;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "pefix: cannot open %s\n", path);
      return 1;
    }
    image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const pefix::Outcome outcome = pefix::RelocatePeHeaders(image);
  if (!outcome.ok) {
    std::fprintf(stderr, "pefix: %s: %s\n", path, outcome.error.c_str());
    return 1;
  }
  bool changed = outcome.changed;
  try {
    changed = stub::pe::MoveResourcesLast(image) || changed;
  } catch (const stub::pe::PeError& e) {
    std::fprintf(stderr, "pefix: %s: %s\n", path, e.what());
    return 1;
  }
  if (!changed) return 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "pefix: cannot write %s\n", path);
    return 1;
  }
  return 0;
}
