#include <gtest/gtest.h>

#include "gates/ExpiryGate.h"
#include "gates/PayloadSelection.h"
#include "platform/memory/MemoryPlatform.h"

namespace stub {
namespace {

struct ExpiryCase {
  LocalDate expiry;
  LocalDate today;
  bool expired;
};

class ExpiryTest : public testing::TestWithParam<ExpiryCase> {};

TEST_P(ExpiryTest, StoredDateIsTheFirstRefusedDay) {
  const ExpiryCase& c = GetParam();
  PackageHeader header;
  header.expiryYear = c.expiry.year;
  header.expiryMonth = c.expiry.month;
  header.expiryDay = c.expiry.day;
  EXPECT_EQ(IsExpired(header, c.today), c.expired)
      << c.expiry.year << "-" << c.expiry.month << "-" << c.expiry.day << " on " << c.today.year
      << "-" << c.today.month << "-" << c.today.day;
}

INSTANTIATE_TEST_SUITE_P(
    Dates, ExpiryTest,
    testing::Values(ExpiryCase{{2026, 6, 22}, {2026, 6, 21}, false},
                    ExpiryCase{{2026, 6, 22}, {2026, 6, 22}, true},
                    ExpiryCase{{2026, 6, 22}, {2026, 6, 23}, true},
                    ExpiryCase{{2026, 7, 1}, {2026, 6, 30}, false},
                    ExpiryCase{{2025, 12, 31}, {2026, 1, 1}, true},
                    ExpiryCase{{2027, 1, 1}, {2026, 12, 31}, false},
                    ExpiryCase{{0, 5, 5}, {2099, 12, 31}, false},
                    // Out-of-range fields compare as plain numbers.
                    ExpiryCase{{2026, 13, 1}, {2026, 12, 31}, false},
                    ExpiryCase{{2026, 6, 40}, {2026, 6, 31}, false},
                    ExpiryCase{{2026, 0, 0}, {2026, 1, 1}, true}));

TEST(ExpiryTest, NeverExpiringPackageDoesNotReadTheClock) {
  MemoryPlatform platform;
  StubContext context{platform, ArgumentList(u"x", Text(u"x"))};
  PackageHeader header;
  header.expiryMonth = 1;
  header.expiryDay = 1;
  CheckExpiry(context, header);
  EXPECT_FALSE(platform.CallMade("GetLocalTime"));
  EXPECT_TRUE(platform.boxes.empty());
}

TEST(ExpiryTest, ExpiredPackageShowsItsOwnTextWithoutSubstitution) {
  MemoryPlatform platform;
  const std::u16string text = u"Expired on %USER%";
  platform.packageBytes.assign(16, 0);
  for (char16_t ch : text) {
    platform.packageBytes.push_back(static_cast<uint8_t>(ch));
    platform.packageBytes.push_back(0);
  }
  platform.OpenPackageFile(Text(u"p"));
  platform.today = {2026, 6, 22};
  StubContext context{platform, ArgumentList(u"x", Text(u"C:\\p.exe"))};
  PackageHeader header;
  header.expiryYear = 2026;
  header.expiryMonth = 6;
  header.expiryDay = 22;
  header.expiredMessage = {16, static_cast<uint16_t>(text.size())};
  EXPECT_THROW(CheckExpiry(context, header), ProcessEnded);
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].text, text);
}

// ---------------------------------------------------------------------------

enum : uint32_t { kAbsent = 0, kPresent = 5000 };

struct SelectionCase {
  const char* label;
  uint32_t offset32;
  uint32_t offset64;
  std::u16string arguments;
  bool wow64;
  PayloadChoice choice;
  bool asksWow64;
};

class PayloadSelectionTest : public testing::TestWithParam<SelectionCase> {};

TEST_P(PayloadSelectionTest, ChoosesByWidthAndSwitch) {
  const SelectionCase& c = GetParam();
  MemoryPlatform platform;
  platform.wow64 = c.wow64;
  PackageHeader header;
  header.payload32.offset = c.offset32;
  header.payload64.offset = c.offset64;
  const std::u16string line = u"Setup.exe " + c.arguments;
  ArgumentList arguments(line.c_str(), Text(u"C:\\Setup.exe"));
  EXPECT_EQ(ChoosePayload(header, arguments, platform), c.choice);
  EXPECT_EQ(platform.CallMade("IsWow64"), c.asksWow64);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PayloadSelectionTest,
    testing::Values(
        SelectionCase{"Only64On32", kAbsent, kPresent, u"", false, PayloadChoice::kRefused, true},
        SelectionCase{"Only64On64", kAbsent, kPresent, u"/32", true, PayloadChoice::k64Bit, true},
        SelectionCase{"BarredOn32", kPresent, kBarredFrom64Bit, u"", false, PayloadChoice::k32Bit,
                      true},
        SelectionCase{"BarredOn64EvenWith32", kPresent, kBarredFrom64Bit, u"/32", true,
                      PayloadChoice::kRefused, true},
        SelectionCase{"Only32On64NeverAsks", kPresent, kAbsent, u"", true, PayloadChoice::k32Bit,
                      false},
        SelectionCase{"BothOn64", kPresent, kPresent, u"", true, PayloadChoice::k64Bit, true},
        SelectionCase{"BothOn64With32Last", kPresent, kPresent, u"/s /temp D:\\A /32", true,
                      PayloadChoice::k32Bit, false},
        SelectionCase{"BothOn64With32Quoted", kPresent, kPresent, u"\"/32\"", true,
                      PayloadChoice::k32Bit, false},
        SelectionCase{"BothOn64With32x", kPresent, kPresent, u"/32x -32", true,
                      PayloadChoice::k64Bit, true},
        SelectionCase{"BothOn32", kPresent, kPresent, u"", false, PayloadChoice::k32Bit, true},
        SelectionCase{"BothOn32With32", kPresent, kPresent, u"/32", false, PayloadChoice::k32Bit,
                      false}),
    [](const testing::TestParamInfo<SelectionCase>& info) { return info.param.label; });

}  // namespace
}  // namespace stub
