#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>

namespace bench {

namespace {

double Now(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

}  // namespace

std::vector<uint8_t> MixedProgram(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 rng(seed);
  const char* words[] = {"Setup ", "install ", "program ", "files ", "Windows ", "version ",
                         "registry ", "folder ", "\r\n", "0x00401000 ", "kernel32.dll "};
  size_t i = 0;
  while (i < size) {
    const size_t run = std::min<size_t>(size - i, 4096 + rng() % 8192);
    if (rng() % 2) {
      for (size_t k = 0; k < run; ++k) bytes[i + k] = static_cast<uint8_t>(rng());
    } else {
      for (size_t k = 0; k < run;) {
        const char* w = words[rng() % (sizeof words / sizeof *words)];
        while (*w && k < run) bytes[i + k++] = static_cast<uint8_t>(*w++);
      }
    }
    i += run;
  }
  return bytes;
}

Stopwatch::Stopwatch() : wall0_(Now(CLOCK_MONOTONIC)), cpu0_(Now(CLOCK_PROCESS_CPUTIME_ID)) {}

Times Stopwatch::Elapsed() const {
  return {Now(CLOCK_MONOTONIC) - wall0_, Now(CLOCK_PROCESS_CPUTIME_ID) - cpu0_};
}

ChildRun RunChild(const std::vector<std::string>& argv, const std::string& stdoutPath) {
  ChildRun run;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const double wall0 = Now(CLOCK_MONOTONIC);
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) dup2(out, 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (child < 0) return run;
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  run.times.wall = Now(CLOCK_MONOTONIC) - wall0;
  run.times.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  run.peakKiB = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

ChildRun RunMeasured(const std::vector<std::string>& argv) {
  const std::string report = "/tmp/bench_measure_" + std::to_string(getpid()) + ".txt";
  std::vector<std::string> wrapped = {SelfPath(), "--measure", report};
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  ChildRun run;
  if (!RunChild(wrapped).ok) return run;
  std::ifstream in(report);
  in >> run.ok >> run.times.wall >> run.times.cpu >> run.peakKiB;
  std::remove(report.c_str());
  return run;
}

bool MeasureMode(int argc, char** argv) {
  if (argc < 4 || std::string(argv[1]) != "--measure") return false;
  const ChildRun run = RunChild(std::vector<std::string>(argv + 3, argv + argc));
  std::ofstream(argv[2]) << run.ok << ' ' << run.times.wall << ' ' << run.times.cpu << ' '
                         << run.peakKiB << '\n';
  return true;
}

namespace {
long StatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == field) {
      long kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}
}  // namespace

long PeakResidentKiB() { return StatusKiB("VmHWM:"); }
long ResidentKiB() { return StatusKiB("VmRSS:"); }

std::string SelfPath() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace bench
