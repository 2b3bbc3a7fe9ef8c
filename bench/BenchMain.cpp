// One entry for the three benchmark programs; the build chooses which parts
// each one runs.
//
//   bench_unpack [MiB to unpack, default 64]
//   bench_crc    [MiB to checksum, default 256]
//   bench_core   [MiB to unpack, default 64] [MiB to checksum, default 256]
#include <cstdlib>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/UnpackBench.h"

namespace {

size_t Argument(int argc, char** argv, int index, size_t fallback) {
  return argc > index ? std::strtoul(argv[index], nullptr, 10) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  if (bench::MeasureMode(argc, argv)) return 0;
#if BENCH_UNPACK
  if (argc == 3 && std::string(argv[1]) == "--fresh") return bench::FreshChild(argv[2]);
#endif
  int failures = 0;
  int next = 1;
#if BENCH_UNPACK
  failures += bench::RunUnpackBench(Argument(argc, argv, next++, 64));
#endif
#if BENCH_CRC
  failures += bench::RunCrcBench(Argument(argc, argv, next++, 256));
#endif
  return failures ? 1 : 0;
}
