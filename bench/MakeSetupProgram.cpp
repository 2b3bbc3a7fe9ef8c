// Makes a large stand-in setup program for the launcher benchmarks: a small
// real program (it ends at once) followed by generated data up to the size
// asked for. Windows maps only the program's own sections, so the data cost
// the launcher everything (read, check, unpack, write) and the started
// program nothing beyond its file size.
//
//   MakeSetupProgram PROGRAM OUTPUT MIB TEXT_PERCENT [SEED]
//
// The data alternate, in 1 MiB blocks, between text-like runs (words from a
// small vocabulary, which LZMA packs about 4:1) and random bytes (which it
// cannot pack), TEXT_PERCENT of the blocks being text. The same arguments
// always give the same file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Random {
  uint64_t state;
  uint64_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
};

constexpr size_t kBlock = 1 << 20;

const char* const kWords[] = {
    "setup",   "program", "install", "windows", "version", "release", "folder",  "registry",
    "update",  "package", "service", "driver",  "display", "network", "memory",  "system",
    "file",    "path",    "value",   "key",     "user",    "admin",   "launch",  "copy",
    "the",     "and",     "of",      "to",      "a",       "in",      "is",      "for",
    "with",    "on",      "that",    "this",    "from",    "by",      "be",      "are",
    "error",   "message", "option",  "default", "current", "machine", "product", "vendor",
    "license", "agree",   "next",    "back",    "cancel",  "finish",  "select",  "feature",
    "space",   "disk",    "require", "restart", "complete", "progress", "status", "component"};

void FillText(std::vector<uint8_t>& block, Random& random) {
  size_t at = 0;
  while (at < block.size()) {
    const uint64_t r = random.Next();
    const char* word = kWords[r % (sizeof(kWords) / sizeof(kWords[0]))];
    const size_t length = std::strlen(word);
    for (size_t i = 0; i < length && at < block.size(); ++i) block[at++] = static_cast<uint8_t>(word[i]);
    if (at < block.size()) block[at++] = (r >> 32) % 11 == 0 ? '\n' : ' ';
  }
}

void FillRandom(std::vector<uint8_t>& block, Random& random) {
  for (size_t at = 0; at < block.size(); at += 8) {
    const uint64_t r = random.Next();
    std::memcpy(block.data() + at, &r, 8);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::cerr << "usage: MakeSetupProgram PROGRAM OUTPUT MIB TEXT_PERCENT [SEED]\n";
    return 2;
  }
  std::ifstream programFile(argv[1], std::ios::binary);
  const std::vector<uint8_t> program((std::istreambuf_iterator<char>(programFile)),
                                     std::istreambuf_iterator<char>());
  const uint64_t total = std::strtoull(argv[3], nullptr, 10) << 20;
  const unsigned textPercent = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
  Random random{argc > 5 ? std::strtoull(argv[5], nullptr, 10) | 1 : 0x9E3779B97F4A7C15ull};
  if (program.empty() || total < program.size() || textPercent > 100) {
    std::cerr << "MakeSetupProgram: bad program or sizes\n";
    return 2;
  }

  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
  uint64_t written = program.size();
  std::vector<uint8_t> block(kBlock);
  // Bresenham-style spread: text and random blocks interleave evenly.
  unsigned credit = 0;
  while (written < total) {
    credit += textPercent;
    const bool text = credit >= 100;
    if (text) credit -= 100;
    const size_t n = total - written < kBlock ? static_cast<size_t>(total - written) : kBlock;
    block.resize(n);
    if (text) FillText(block, random); else FillRandom(block, random);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    written += n;
  }
  out.close();
  if (!out) {
    std::cerr << "MakeSetupProgram: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
