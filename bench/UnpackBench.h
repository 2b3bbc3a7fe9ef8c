#pragma once

#include <cstddef>
#include <string>

namespace bench {

// Unpacks a `mib` MiB mixed program and prints its time against `xz -dc`, its
// peak memory against packed + unpacked + window, and the bytes its output
// growth puts at stake against plain 128 KiB steps. Nonzero when the output differs
// from the program or xz fails.
int RunUnpackBench(size_t mib);

// The child side of the fresh-process measurement ("--fresh FILE.lzma"):
// prints the resident KiB before one unpacking, the peak after it, and its
// wall and CPU seconds.
int FreshChild(const std::string& lzmaPath);

// Crc32 against zlib's crc32 over `mib` MiB; nonzero when they disagree.
int RunCrcBench(size_t mib);

}  // namespace bench
