// The launcher's decoder, driven as the launcher drives it (packed bytes
// read and program bytes handed on in pieces), against `xz -dc` of the same
// .lzma stream, in the same run: time and peak memory.
#include "bench/UnpackBench.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "bench/BenchSupport.h"
#include "launcher/StubContext.h"
#include "platform/memory/MemoryPlatform.h"
#include "unpack/LzmaUnpack.h"

namespace bench {

namespace {

constexpr uint32_t kDictionary = 4u << 20;  // the example dictionary of a package
constexpr size_t kLzmaHeader = 13;          // properties, dictionary, 64-bit size

uint64_t ReadLe(const std::vector<uint8_t>& bytes, size_t at, int width) {
  uint64_t value = 0;
  for (int k = width - 1; k >= 0; --k) value = (value << 8) | bytes[at + static_cast<size_t>(k)];
  return value;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// An .lzma file is exactly a package's payload with its properties block and
// size in front: the platform holds the whole file, the descriptor points
// past the 13 bytes.
struct PayloadRun {
  stub::MemoryPlatform platform;
  stub::PackageHeader header;
  stub::PayloadDescriptor payload;

  explicit PayloadRun(std::vector<uint8_t> file) {
    platform.packageBytes = std::move(file);
    const auto& bytes = platform.packageBytes;
    header.lzmaProperties = bytes[0];
    header.lzmaDictionarySize = static_cast<uint32_t>(ReadLe(bytes, 1, 4));
    payload = {static_cast<uint32_t>(kLzmaHeader), static_cast<uint32_t>(bytes.size() - kLzmaHeader),
               static_cast<uint32_t>(ReadLe(bytes, 5, 8))};
    platform.OpenPackageFile(stub::Text(u"p"));
  }

  // Every piece goes to `sink` (the launcher's copy, here nothing or a
  // comparison). False when the payload is damaged.
  template <typename Sink>
  bool Unpack(Sink&& sink) {
    stub::StubContext context{platform, stub::ArgumentList(u"\"C:\\p.exe\"", stub::Text(u"C:\\p.exe"))};
    stub::PayloadDecoder program(context, header, payload);
    const uint8_t* piece = nullptr;
    uint32_t count = 0;
    for (;;) {
      switch (program.Next(piece, count)) {
        case stub::ProgramSource::Step::kPiece:
          sink(piece, count);
          continue;
        case stub::ProgramSource::Step::kDone:
          return true;
        default:
          return false;
      }
    }
  }
};

// The packed stream is cached beside the executable: compressing 64 MiB at
// level 6 takes far longer than the measurement.
std::string PreparePayload(const std::vector<uint8_t>& program, size_t mib) {
  const std::string self = SelfPath();
  const std::string path =
      self.substr(0, self.rfind('/') + 1) + "bench_unpack_" + std::to_string(mib) + "MiB.lzma";
  const std::vector<uint8_t> cached = ReadFile(path);
  if (cached.size() > kLzmaHeader && ReadLe(cached, 5, 8) == program.size()) return path;

  std::fprintf(stderr, "compressing %zu MiB once (cached in %s)...\n", mib, path.c_str());
  const std::vector<uint8_t> packed = stub::writer::CompressRawLzma1(program, 6, kDictionary, 3, 0, 2);
  std::vector<uint8_t> file(kLzmaHeader);
  file[0] = 0x5D;
  for (int k = 0; k < 4; ++k) file[1 + k] = static_cast<uint8_t>(kDictionary >> (8 * k));
  for (int k = 0; k < 8; ++k) file[5 + k] = static_cast<uint8_t>(uint64_t{program.size()} >> (8 * k));
  file.insert(file.end(), packed.begin(), packed.end());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return path;
}

double MiB(double bytes) { return bytes / 1048576.0; }

}  // namespace

int FreshChild(const std::string& lzmaPath) {
  PayloadRun run(ReadFile(lzmaPath));
  const long before = ResidentKiB();
  Stopwatch watch;
  // A sink that reads each piece, as the write of the copy does.
  volatile uint8_t seen = 0;
  if (!run.Unpack([&](const uint8_t* piece, uint32_t count) { seen = seen ^ piece[count - 1]; })) return 1;
  const Times t = watch.Elapsed();
  const long peak = PeakResidentKiB();
  // What touching that much fresh memory costs this process by itself:
  // on a virtual machine each new page may cost a trip to the host.
  const size_t held = static_cast<size_t>(peak - before) << 10;
  void* block = mmap(nullptr, held, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  Stopwatch touch;
  if (block != MAP_FAILED) std::memset(block, 1, held);
  const Times touched = touch.Elapsed();
  if (block != MAP_FAILED) munmap(block, held);
  std::printf("%ld %ld %.6f %.6f %.6f\n", before, peak, t.wall, t.cpu, touched.cpu);
  return 0;
}

int RunUnpackBench(size_t mib) {
  const std::vector<uint8_t> program = MixedProgram(mib << 20);
  const std::string path = PreparePayload(program, mib);
  PayloadRun run(ReadFile(path));
  const double packed = run.payload.packedSize;
  const double window = stub::LzmaWindowSize(static_cast<int32_t>(run.header.lzmaDictionarySize),
                                             run.payload.unpackedSize);

  // Correctness: the pieces put together are the program.
  size_t at = 0;
  bool same = run.Unpack([&](const uint8_t* piece, uint32_t count) {
    if (at + count > program.size() || !std::equal(piece, piece + count, program.begin() + at)) at = SIZE_MAX - count;
    at += count;
  });
  same = same && at == program.size();

  // As the launcher runs, one unpacking in a new process, against one
  // `xz -dc` process. Rounds alternate between the two, so that a change in
  // the machine's load weighs on both alike; the best round of each counts.
  // Both hold their window and a few buffers, whatever the program's size.
  const std::string report = "/tmp/bench_unpack_fresh_" + std::to_string(getpid()) + ".txt";
  Times fresh{1e30, 1e30}, xz{1e30, 1e30};
  double touch = 1e30;
  long before = 0, after = 0, xzPeakKiB = 0;
  bool childOk = true, xzOk = true;
  for (int round = 0; round < 9; ++round) {
    Times t;
    double touched = 0;
    childOk &= RunChild({SelfPath(), "--fresh", path}, report).ok;
    std::ifstream(report) >> before >> after >> t.wall >> t.cpu >> touched;
    if (t.cpu < fresh.cpu) fresh = t;
    touch = std::min(touch, touched);

    const ChildRun child = RunMeasured({"xz", "-dc", path});
    xzOk &= child.ok;
    xzPeakKiB = child.peakKiB;
    if (child.times.cpu < xz.cpu) xz = child.times;
  }
  std::remove(report.c_str());
  const double budget = window + 2.0 * stub::kUnpackPieceSize;
  const double grown = (after - before) * 1024.0;

  std::printf("unpack %zu MiB mixed: packed %.1f MiB, dictionary %.0f MiB%s\n", mib, MiB(packed),
              MiB(run.header.lzmaDictionarySize), same ? "" : "  OUTPUT DIFFERS");
  std::printf("  time    ours %.3f s cpu (%.3f wall), xz -dc %.3f s cpu (%.3f wall)%s\n", fresh.cpu,
              fresh.wall, xz.cpu, xz.wall, childOk && xzOk ? "" : "  A CHILD FAILED");
  std::printf("          ratio ours/xz: cpu %.3f, wall %.3f (target <= 1.03)\n", fresh.cpu / xz.cpu,
              fresh.wall / xz.wall);
  std::printf("          first touch of the %.0f MiB ours holds costs %.3f s cpu by itself;"
              " ours without it %.3f s, ratio %.3f\n",
              MiB((after - before) * 1024.0), touch, fresh.cpu - touch, (fresh.cpu - touch) / xz.cpu);
  std::printf("  memory  ours +%.1f MiB, window + two pieces %.1f MiB: ratio %.3f"
              " (xz -dc: peak %.1f MiB)\n",
              MiB(grown), MiB(budget), grown / budget, xzPeakKiB / 1024.0);
  return same && childOk && xzOk ? 0 : 1;
}

}  // namespace bench
