// Crc32 against zlib's crc32 over the same buffer, in the same run.
#include <zlib.h>

#include <cstdio>
#include <random>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/UnpackBench.h"
#include "package/CRC32.h"

namespace bench {

int RunCrcBench(size_t mib) {
  std::vector<uint8_t> data(mib << 20);
  std::mt19937 rng(7);
  for (auto& b : data) b = static_cast<uint8_t>(rng());

  uint32_t ours = 0, zlib = 0;
  const Times ourTime = Best(5, [&] {
    Stopwatch watch;
    ours = stub::Crc32(data.data(), data.size());
    return watch.Elapsed();
  });
  const Times zlibTime = Best(5, [&] {
    Stopwatch watch;
    zlib = static_cast<uint32_t>(crc32_z(0, data.data(), data.size()));
    return watch.Elapsed();
  });

  const double mb = static_cast<double>(data.size()) / 1e6;
  std::printf("crc32 %zu MiB: ours %.0f MB/s, zlib %.0f MB/s%s\n", mib, mb / ourTime.cpu, mb / zlibTime.cpu,
              ours == zlib ? "" : "  MISMATCH");
  std::printf("  throughput ratio ours/zlib: %.3f (target >= 1.0)\n", zlibTime.cpu / ourTime.cpu);
  return ours == zlib ? 0 : 1;
}

}  // namespace bench
