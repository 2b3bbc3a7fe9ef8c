// What the benchmarks share: test data, clocks, and child processes measured
// by the kernel. Every figure a benchmark prints is a ratio against a
// reference measured in the same run, so the machine's speed cancels out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Text-like runs (words from a small vocabulary) alternating with random
// runs of 4 to 12 KiB, about half of each: a setup program's mix of code,
// strings and already-compressed resources. The same size and seed always
// give the same bytes.
std::vector<uint8_t> MixedProgram(size_t size, uint32_t seed = 42);

struct Times {
  double wall = 0;  // seconds
  double cpu = 0;   // user + system seconds
};

// Wall and CPU time of this process since `Start()`.
struct Stopwatch {
  Stopwatch();
  Times Elapsed() const;

 private:
  double wall0_, cpu0_;
};

// Runs `argv` to completion with stdout sent to `stdoutPath` (or /dev/null)
// and returns its times and peak resident set (KiB) as the kernel counted
// them for that child.
struct ChildRun {
  bool ok = false;  // exit status 0
  Times times;
  long peakKiB = 0;
};
ChildRun RunChild(const std::vector<std::string>& argv, const std::string& stdoutPath = "/dev/null");

// RunChild through a small copy of this executable: a child forked straight
// from a benchmark that holds hundreds of MiB is charged their pages in its
// peak, one forked from the small copy is not. The executable's main() must
// give MeasureMode() the first look at its arguments.
ChildRun RunMeasured(const std::vector<std::string>& argv);
// Serves "--measure REPORT COMMAND..." and returns true; false otherwise.
bool MeasureMode(int argc, char** argv);

// The peak resident set of this process so far (VmHWM), and the resident
// set now (VmRSS), in KiB.
long PeakResidentKiB();
long ResidentKiB();

// Path of the running executable.
std::string SelfPath();

// The best (least CPU) of `rounds` runs of `f`, which returns its own Times.
template <typename F>
Times Best(int rounds, F f) {
  Times best{1e30, 1e30};
  for (int r = 0; r < rounds; ++r) {
    const Times t = f();
    if (t.cpu < best.cpu) best = t;
  }
  return best;
}

}  // namespace bench
