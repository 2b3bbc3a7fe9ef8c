#include "tools/pkgtool/Progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tools/pkgtool/FileIo.h"

namespace pkgtool {

namespace {

constexpr size_t kBarCells = 20;

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void ToStandardError(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

std::string Fixed1(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  return buffer;
}

}  // namespace

ProgressStyle ChooseProgressStyle(bool quiet) {
  if (quiet) return ProgressStyle::kOff;
  return ErrorIsTerminal() ? ProgressStyle::kBar : ProgressStyle::kLines;
}

double ProgressLineInterval() {
  const char* text = std::getenv("PKGTOOL_PROGRESS_SECONDS");
  if (text == nullptr || *text == '\0') return ProgressMeter::kLineInterval;
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  return *end == '\0' && seconds >= 0 ? seconds : ProgressMeter::kLineInterval;
}

std::string FormatDuration(double seconds) {
  const auto s = static_cast<uint64_t>(seconds + 0.5);
  char buffer[32];
  if (s < 60) {
    std::snprintf(buffer, sizeof buffer, "%u s", static_cast<unsigned>(s));
  } else if (s < 3600) {
    std::snprintf(buffer, sizeof buffer, "%u min %02u s", static_cast<unsigned>(s / 60),
                  static_cast<unsigned>(s % 60));
  } else {
    std::snprintf(buffer, sizeof buffer, "%u h %02u min", static_cast<unsigned>(s / 3600),
                  static_cast<unsigned>(s / 60 % 60));
  }
  return buffer;
}

ProgressMeter::ProgressMeter(std::string what, uint64_t total, ProgressUnit unit,
                             ProgressStyle style, Clock clock, Sink sink, double lineInterval)
    : what_(std::move(what)),
      total_(total),
      unit_(unit),
      style_(style),
      clock_(clock ? std::move(clock) : Clock(SteadySeconds)),
      sink_(sink ? std::move(sink) : Sink(ToStandardError)),
      lineInterval_(lineInterval),
      start_(style == ProgressStyle::kOff ? 0 : clock_()),
      created_(start_) {}

ProgressMeter::~ProgressMeter() {
  if (barWidth_ > 0) sink_("\r" + std::string(barWidth_, ' ') + "\r");
}

std::string ProgressMeter::Report(uint64_t done, double elapsed) const {
  const uint64_t total = total_ == 0 ? 1 : total_;
  if (done > total) done = total;
  const unsigned percent = static_cast<unsigned>(done * 100 / total);
  std::string text = std::to_string(percent) + "% (";
  const bool bytes = unit_ == ProgressUnit::kBytes;
  if (bytes) {
    text += Fixed1(done / 1048576.0) + " of " + Fixed1(total_ / 1048576.0) + " MiB)";
  } else {
    text += std::to_string(done) + " of " + std::to_string(total_) + " runs)";
  }
  if (done == 0 || elapsed <= 0) return text;
  const double rate = done / elapsed;
  text += ", " + (bytes ? Fixed1(rate / 1048576.0) + " MiB/s" : Fixed1(rate) + " runs/s");
  if (done < total) text += ", " + FormatDuration((total - done) / rate) + " left";
  return text;
}

void ProgressMeter::Update(uint64_t done) {
  if (style_ == ProgressStyle::kOff) return;
  const double now = clock_();
  if (done < lastDone_) start_ = now;  // started over
  lastDone_ = done;
  const double elapsed = now - start_;
  if (style_ == ProgressStyle::kBar) {
    if (barWidth_ == 0 && now - created_ < kBarDelay) return;
    if (lastShown_ >= 0 && now - lastShown_ < kBarRedraw && done < total_) return;
    lastShown_ = now;
    const uint64_t total = total_ == 0 ? 1 : total_;
    const size_t filled = static_cast<size_t>((done > total ? total : done) * kBarCells / total);
    std::string line = what_ + " [" + std::string(filled, '#') + std::string(kBarCells - filled, '.') +
                       "] " + Report(done, elapsed);
    const size_t width = line.size();
    // A shorter line than the last one must blank the rest of it.
    if (width < barWidth_) line += std::string(barWidth_ - width, ' ');
    barWidth_ = std::max(barWidth_, width);
    sink_("\r" + line);
    return;
  }
  if (now - (lastShown_ >= 0 ? lastShown_ : created_) < lineInterval_) return;
  lastShown_ = now;
  sink_("pkgtool: " + what_ + ": " + Report(done, elapsed) + "\n");
}

}  // namespace pkgtool
