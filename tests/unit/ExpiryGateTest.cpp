#include "gates/ExpiryGate.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

PackageHeader ExpiringOn(const LocalDate& date) {
  PackageHeader header;
  header.expiryYear = date.year;
  header.expiryMonth = date.month;
  header.expiryDay = date.day;
  return header;
}

std::string Show(const LocalDate& d) {
  return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day);
}

// ---------------------------------------------------------------------------
// The comparison itself.

struct ExpiryCase {
  LocalDate expiry;
  LocalDate today;
  bool expired;
};

class IsExpiredTest : public testing::TestWithParam<ExpiryCase> {};

TEST_P(IsExpiredTest, StoredDateIsTheFirstRefusedDay) {
  const ExpiryCase& c = GetParam();
  EXPECT_EQ(IsExpired(ExpiringOn(c.expiry), c.today), c.expired)
      << "expiry " << Show(c.expiry) << " on " << Show(c.today);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, IsExpiredTest,
    testing::Values(
        // The day before, the day itself and the day after.
        ExpiryCase{{2026, 6, 22}, {2026, 6, 21}, false},
        ExpiryCase{{2026, 6, 22}, {2026, 6, 22}, true},
        ExpiryCase{{2026, 6, 22}, {2026, 6, 23}, true},
        // A month boundary: an earlier month never expires, whatever its day.
        ExpiryCase{{2026, 7, 1}, {2026, 6, 30}, false},
        ExpiryCase{{2026, 7, 1}, {2026, 7, 1}, true},
        ExpiryCase{{2026, 7, 15}, {2026, 8, 1}, true},
        // A past year refuses whatever its month and day; a later year runs.
        ExpiryCase{{2025, 12, 31}, {2026, 1, 1}, true},
        ExpiryCase{{2025, 1, 1}, {2026, 1, 1}, true},
        ExpiryCase{{2027, 1, 1}, {2026, 12, 31}, false},
        ExpiryCase{{2026, 1, 1}, {2025, 12, 31}, false},
        // Year 0 never expires, whatever month, day or date.
        ExpiryCase{{0, 5, 5}, {2099, 12, 31}, false},
        ExpiryCase{{0, 0, 0}, {0, 0, 0}, false},
        ExpiryCase{{0, 1, 1}, {1, 1, 1}, false},
        // Fields outside the calendar compare as plain numbers.
        ExpiryCase{{2026, 13, 1}, {2026, 1, 1}, false},
        ExpiryCase{{2026, 13, 1}, {2026, 12, 31}, false},
        ExpiryCase{{2026, 13, 1}, {2027, 1, 1}, true},
        ExpiryCase{{2026, 6, 40}, {2026, 6, 31}, false},
        ExpiryCase{{2026, 0, 0}, {2026, 1, 1}, true},
        ExpiryCase{{2026, 6, 0}, {2026, 6, 1}, true},
        // The whole unsigned 16-bit range, not a signed one.
        ExpiryCase{{65535, 1, 1}, {2026, 6, 1}, false},
        ExpiryCase{{2026, 65535, 1}, {2026, 12, 31}, false}));

// ---------------------------------------------------------------------------
// The gate as the launcher runs it: clock reads and the message box.

constexpr uint32_t kMessageOffset = 40;
const std::u16string kExpiredText = u"This package expired. %USER% stays as written.";

struct CheckCase {
  const char* label;
  LocalDate expiry;
  LocalDate today;
  bool readsClock;
  bool refused;
};

class CheckExpiryTest : public testing::TestWithParam<CheckCase> {};

TEST_P(CheckExpiryTest, RefusesWithThePackagesOwnTextAndReadsTheClockOnlyWhenDated) {
  const CheckCase& c = GetParam();
  std::vector<uint8_t> file(kMessageOffset, 0xEE);
  const std::vector<uint8_t> text = test::Utf16Bytes(kExpiredText);
  file.insert(file.end(), text.begin(), text.end());
  test::LauncherScene scene(file);
  MemoryPlatform& platform = scene.platform;
  platform.today = c.today;
  PackageHeader header = ExpiringOn(c.expiry);
  header.expiredMessage = {kMessageOffset, static_cast<uint16_t>(kExpiredText.size())};

  bool ended = false;
  try {
    CheckExpiry(scene.Context(), header);
  } catch (const ProcessEnded& end) {
    ended = true;
    EXPECT_EQ(end.exitCode, 0);
  }

  EXPECT_EQ(ended, c.refused);
  EXPECT_EQ(platform.CallMade("GetLocalTime"), c.readsClock);
  ASSERT_EQ(platform.boxes.size(), c.refused ? 1u : 0u);
  if (c.refused) {
    // No placeholder substitution: the stored text is shown as it stands.
    EXPECT_EQ(platform.boxes[0].text, kExpiredText);
    EXPECT_EQ(platform.boxes[0].caption, platform.modulePath);
    EXPECT_EQ(platform.boxes[0].style, MemoryPlatform::kMbIconError);
    EXPECT_EQ(platform.boxes[0].reason, EndReason::kExpired);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CheckExpiryTest,
    testing::Values(CheckCase{"DayBefore", {2026, 6, 22}, {2026, 6, 21}, true, false},
                    CheckCase{"OnTheDay", {2026, 6, 22}, {2026, 6, 22}, true, true},
                    CheckCase{"DayAfter", {2026, 6, 22}, {2026, 6, 23}, true, true},
                    CheckCase{"EarlierMonth", {2026, 7, 1}, {2026, 6, 30}, true, false},
                    CheckCase{"PastYear", {2025, 12, 31}, {2026, 1, 1}, true, true},
                    CheckCase{"Month13InItsYear", {2026, 13, 1}, {2026, 12, 31}, true, false},
                    CheckCase{"YearZeroNeverReadsTheClock", {0, 1, 1}, {2099, 12, 31}, false,
                              false},
                    CheckCase{"YearZeroWithOddFields", {0, 99, 99}, {0, 0, 0}, false, false}),
    [](const testing::TestParamInfo<CheckCase>& info) { return info.param.label; });

}  // namespace
}  // namespace stub
