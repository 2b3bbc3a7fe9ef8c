// Progress of long work on standard error, so that nobody waits in silence:
// a bar with rate and time left on a terminal, a plain line every few
// seconds elsewhere (a CI log then shows that the run is alive), nothing at
// all with --quiet. Work that ends within a second shows nothing either way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pkgtool {

enum class ProgressStyle { kOff, kBar, kLines };

// kOff when quiet, kBar when standard error is a terminal, else kLines.
ProgressStyle ChooseProgressStyle(bool quiet);

// Seconds between plain lines: PKGTOOL_PROGRESS_SECONDS when it holds a
// number (0: a line at every step, for logs that want them all), else
// ProgressMeter::kLineInterval.
double ProgressLineInterval();

enum class ProgressUnit { kBytes, kRuns };

class ProgressMeter {
 public:
  static constexpr double kBarDelay = 1.0;       // seconds before the bar appears
  static constexpr double kBarRedraw = 0.25;     // at most four redraws a second
  static constexpr double kLineInterval = 5.0;   // seconds between plain lines, by default

  using Clock = std::function<double()>;                  // seconds, rising
  using Sink = std::function<void(const std::string&)>;  // what to print

  // `what` names the work ("compressing"). The default clock is steady time
  // and the default sink standard error.
  ProgressMeter(std::string what, uint64_t total, ProgressUnit unit, ProgressStyle style,
                Clock clock = {}, Sink sink = {}, double lineInterval = ProgressLineInterval());
  ~ProgressMeter();  // clears the bar
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  // `done` of the total is finished. Cheap when nothing is due. Less than
  // before means the work started over: the rate is measured afresh.
  void Update(uint64_t done);
  void SetTotal(uint64_t total) { total_ = total; }

  // The text of one report: "52% (61.2 of 117.4 MiB), 3.1 MiB/s, 18 s left".
  std::string Report(uint64_t done, double elapsed) const;

 private:
  std::string what_;
  uint64_t total_;
  ProgressUnit unit_;
  ProgressStyle style_;
  Clock clock_;
  Sink sink_;
  double lineInterval_;
  double start_;    // of the current run of the work, for its rate
  double created_;  // of the meter, for when to show anything
  uint64_t lastDone_ = 0;
  double lastShown_ = -1;
  size_t barWidth_ = 0;  // characters of the bar on screen, 0 when none
};

// "42 s", "3 min 05 s", "1 h 02 min".
std::string FormatDuration(double seconds);

}  // namespace pkgtool
