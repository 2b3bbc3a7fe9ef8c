// Progress on a stated clock: when a bar or a line appears, what it says,
// and that nothing is left on the terminal afterwards.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/pkgtool/Progress.h"

namespace pkgtool {
namespace {

constexpr uint64_t kMiB = 1 << 20;

// A meter over 100 MiB whose clock and output the test holds.
struct Watched {
  explicit Watched(ProgressStyle style, ProgressUnit unit = ProgressUnit::kBytes,
                   uint64_t total = 100 * kMiB)
      : meter("compressing", total, unit, style, [this] { return now; },
              [this](const std::string& text) { printed.push_back(text); }, 5.0) {}
  // Advances the clock to `at` seconds and reports `done`.
  void At(double at, uint64_t done) {
    now = at;
    meter.Update(done);
  }
  double now = 0;
  std::vector<std::string> printed;
  ProgressMeter meter;
};

TEST(ProgressTest, ABarAppearsAfterASecondWithRateAndTimeLeft) {
  Watched w(ProgressStyle::kBar);
  w.At(0.5, 5 * kMiB);
  EXPECT_TRUE(w.printed.empty()) << "short work shows nothing";
  w.At(2.0, 20 * kMiB);
  ASSERT_EQ(w.printed.size(), 1u);
  EXPECT_EQ(w.printed[0], "\rcompressing [####................] 20% (20.0 of 100.0 MiB), 10.0 MiB/s, 8 s left");
  w.At(2.1, 21 * kMiB);
  EXPECT_EQ(w.printed.size(), 1u) << "redrawn at most four times a second";
  w.At(2.5, 25 * kMiB);
  EXPECT_EQ(w.printed.size(), 2u);
}

TEST(ProgressTest, TheLastBarSaysAllIsDone) {
  Watched w(ProgressStyle::kBar);
  w.At(2.0, 50 * kMiB);
  w.At(2.1, 100 * kMiB);  // the end is drawn however soon it comes
  ASSERT_EQ(w.printed.size(), 2u);
  // Padded with blanks over the end of the longer bar before it.
  EXPECT_EQ(w.printed[1], "\rcompressing [####################] 100% (100.0 of 100.0 MiB), 47.6 MiB/s" +
                              std::string(w.printed[0].size() - w.printed[1].find_last_not_of(' ') - 1, ' '));
}

TEST(ProgressTest, ClearingCoversTheWidestBar) {
  std::vector<std::string> printed;
  double now = 0;
  {
    ProgressMeter meter("checking", 100, ProgressUnit::kRuns, ProgressStyle::kBar, [&] { return now; },
                        [&](const std::string& text) { printed.push_back(text); }, 5.0);
    now = 2;
    meter.Update(50);
  }
  ASSERT_EQ(printed.size(), 2u);
  EXPECT_EQ(printed[1], "\r" + std::string(printed[0].size() - 1, ' ') + "\r");
}

TEST(ProgressTest, ElsewhereALineEveryFewSeconds) {
  Watched w(ProgressStyle::kLines);
  w.At(2.0, 10 * kMiB);
  w.At(4.9, 20 * kMiB);
  EXPECT_TRUE(w.printed.empty());
  w.At(5.0, 25 * kMiB);
  w.At(9.0, 40 * kMiB);
  w.At(10.0, 50 * kMiB);
  ASSERT_EQ(w.printed.size(), 2u);
  EXPECT_EQ(w.printed[0], "pkgtool: compressing: 25% (25.0 of 100.0 MiB), 5.0 MiB/s, 15 s left\n");
  EXPECT_EQ(w.printed[1], "pkgtool: compressing: 50% (50.0 of 100.0 MiB), 5.0 MiB/s, 10 s left\n");
}

TEST(ProgressTest, QuietShowsNothing) {
  Watched w(ProgressStyle::kOff);
  for (int i = 1; i <= 100; ++i) w.At(i, i * kMiB);
  EXPECT_TRUE(w.printed.empty());
}

TEST(ProgressTest, RunsAreCountedAndAStartOverIsMeasuredAfresh) {
  Watched w(ProgressStyle::kLines, ProgressUnit::kRuns, 66);
  w.At(6.0, 12);
  ASSERT_EQ(w.printed.size(), 1u);
  EXPECT_EQ(w.printed[0], "pkgtool: compressing: 18% (12 of 66 runs), 2.0 runs/s, 27 s left\n");
  w.At(20.0, 5);  // started over at 20 s
  w.At(30.0, 15);
  ASSERT_EQ(w.printed.size(), 3u);
  EXPECT_EQ(w.printed[2], "pkgtool: compressing: 22% (15 of 66 runs), 1.5 runs/s, 34 s left\n");
}

TEST(ProgressTest, DurationsReadAsPeopleSayThem) {
  const std::pair<double, const char*> cases[] = {
      {0, "0 s"}, {42.4, "42 s"}, {59.6, "1 min 00 s"}, {185, "3 min 05 s"}, {3725, "1 h 02 min"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(FormatDuration(seconds), text) << seconds;
}

}  // namespace
}  // namespace pkgtool
