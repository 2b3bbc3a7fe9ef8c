// UnpackPayload against `xz -dc` of the same stream, and Crc32 against zlib's
// crc32, each measured in the same run; prints the ratios and the memory the
// unpacking took against packed + unpacked + dictionary.
//
//   bench_core [MiB to unpack, default 64] [MiB to checksum, default 256]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "launcher/StubContext.h"
#include "package/CRC32.h"
#include "package/writer/PackageWriter.h"
#include "platform/memory/MemoryPlatform.h"
#include "unpack/LzmaUnpack.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Half text-like and compressible, half random: a setup program's mix of code,
// strings and already-compressed resources.
std::vector<uint8_t> MixedProgram(size_t size) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 rng(42);
  const char* words[] = {"Setup ", "install ", "program ", "files ", "Windows ", "version "};
  size_t i = 0;
  while (i < size) {
    const size_t run = std::min<size_t>(size - i, 4096 + rng() % 8192);
    if (rng() % 2) {
      for (size_t k = 0; k < run; ++k) bytes[i + k] = static_cast<uint8_t>(rng());
    } else {
      for (size_t k = 0; k < run;) {
        const char* w = words[rng() % 6];
        while (*w && k < run) bytes[i + k++] = static_cast<uint8_t>(*w++);
      }
    }
    i += run;
  }
  return bytes;
}

template <typename F>
double Best(int rounds, F f) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    const auto t = Clock::now();
    f();
    best = std::min(best, Seconds(t));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t unpackMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const size_t crcMiB = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
  const uint32_t dictionary = 1u << 22;

  // --- Unpacking ------------------------------------------------------------
  const std::vector<uint8_t> program = MixedProgram(unpackMiB << 20);
  const std::vector<uint8_t> packed =
      stub::writer::CompressRawLzma1(program, 6, dictionary, 3, 0, 2);
  const std::string lzmaPath = "/tmp/bench_core_payload.lzma";
  {
    // The same stream as an .lzma file: properties, size, data.
    std::ofstream out(lzmaPath, std::ios::binary);
    uint8_t head[13] = {0x5D};
    for (int k = 0; k < 4; ++k) head[1 + k] = static_cast<uint8_t>(dictionary >> (8 * k));
    for (int k = 0; k < 8; ++k) head[5 + k] = static_cast<uint8_t>(uint64_t(program.size()) >> (8 * k));
    out.write(reinterpret_cast<const char*>(head), 13);
    out.write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
  }

  stub::MemoryPlatform platform;
  platform.packageBytes = packed;
  platform.OpenPackageFile(stub::Text(u"p"));
  stub::StubContext context{platform, stub::ArgumentList(u"x", stub::Text(u"C:\\p.exe"))};
  stub::PackageHeader header;
  header.lzmaProperties = 0x5D;
  header.lzmaDictionarySize = dictionary;
  const stub::PayloadDescriptor payload{0, static_cast<uint32_t>(packed.size()),
                                        static_cast<uint32_t>(program.size())};
  bool same = false;
  const double ours = Best(3, [&] {
    stub::TStream input, output;
    stub::UnpackPayload(context, header, payload, input, output);
    same = output.Size == static_cast<int32_t>(program.size()) &&
           std::equal(program.begin(), program.end(), output.Memory);
  });
  const std::string xzCommand = "xz -dc " + lzmaPath + " > /dev/null";
  const double xz = Best(3, [&] {
    if (std::system(xzCommand.c_str()) != 0) std::fprintf(stderr, "xz -dc failed\n");
  });

  // Peak memory of one unpacking, in a fresh child so earlier work does not count.
  long peakKiB = 0;
  const pid_t child = fork();
  if (child == 0) {
    stub::TStream input, output;
    stub::UnpackPayload(context, header, payload, input, output);
    _exit(0);
  }
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  peakKiB = usage.ru_maxrss;
  const double budgetMiB =
      (packed.size() + program.size() + dictionary) / 1048576.0;

  std::printf("unpack %zu MiB mixed (packed %.1f MiB): ours %.3f s, xz -dc %.3f s, ratio %.3f (target <= 1.03)%s\n",
              unpackMiB, packed.size() / 1048576.0, ours, xz, ours / xz, same ? "" : "  OUTPUT DIFFERS");
  std::printf("unpack peak memory (whole child process, includes the packed copy it inherited): %.1f MiB; packed + unpacked + dictionary = %.1f MiB\n",
              peakKiB / 1024.0, budgetMiB);

  // --- Checksum -------------------------------------------------------------
  std::vector<uint8_t> data(crcMiB << 20);
  std::mt19937 rng(7);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  uint32_t a = 0, b = 0;
  const double crcOurs = Best(3, [&] { a = stub::Crc32(data.data(), data.size()); });
  const double crcZlib = Best(3, [&] {
    b = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
  });
  std::printf("crc32 %zu MiB: ours %.0f MB/s, zlib %.0f MB/s, throughput ratio %.2f (target >= 1.0)%s\n",
              crcMiB, data.size() / crcOurs / 1e6, data.size() / crcZlib / 1e6, crcZlib / crcOurs,
              a == b ? "" : "  MISMATCH");
  std::remove(lzmaPath.c_str());
  return same && a == b ? 0 : 1;
}
