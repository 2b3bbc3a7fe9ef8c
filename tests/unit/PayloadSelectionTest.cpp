#include "gates/PayloadSelection.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

constexpr uint32_t kAbsent = 0;
constexpr uint32_t kPresent32 = 5000;
constexpr uint32_t kPresent64 = 90000;

PackageHeader WithPayloads(uint32_t offset32, uint32_t offset64) {
  PackageHeader header;
  header.payload32 = {offset32, 1111, 2222};
  header.payload64 = {offset64, 3333, 4444};
  return header;
}

// ---------------------------------------------------------------------------
// The decision.

struct ChoiceCase {
  const char* label;
  uint32_t offset32;
  uint32_t offset64;
  std::u16string arguments;  // after the program name on the command line
  bool wow64;
  PayloadChoice choice;
  bool asksWow64;
  std::u16string modulePath = u"C:\\Setup.exe";
};

class ChoosePayloadTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(ChoosePayloadTest, ChoosesByWidthAndSwitch) {
  const ChoiceCase& c = GetParam();
  MemoryPlatform platform;
  platform.wow64 = c.wow64;
  const std::u16string line = u"Setup.exe " + c.arguments;
  const ArgumentList arguments(line.c_str(), FromU16(c.modulePath));
  EXPECT_EQ(ChoosePayload(WithPayloads(c.offset32, c.offset64), arguments, platform), c.choice);
  EXPECT_EQ(platform.CallMade("Machine"), c.asksWow64);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChoosePayloadTest,
    testing::Values(
        // 64-bit program only: whatever the second offset says, and "/32" is no help.
        ChoiceCase{"Only64On32", kAbsent, kPresent64, u"", false, PayloadChoice::kRefused, true},
        ChoiceCase{"Only64On32With32", kAbsent, kPresent64, u"/32", false,
                   PayloadChoice::kRefused, true},
        ChoiceCase{"Only64On64", kAbsent, kPresent64, u"/32", true, PayloadChoice::k64Bit, true},
        ChoiceCase{"Missing32TakesPrecedenceOverBarred", kAbsent, kBarredFrom64Bit, u"", false,
                   PayloadChoice::kRefused, true},
        // 32-bit program barred from 64-bit Windows.
        ChoiceCase{"BarredOn32", kPresent32, kBarredFrom64Bit, u"", false, PayloadChoice::k32Bit,
                   true},
        ChoiceCase{"BarredOn64", kPresent32, kBarredFrom64Bit, u"", true, PayloadChoice::kRefused,
                   true},
        ChoiceCase{"BarredOn64EvenWith32", kPresent32, kBarredFrom64Bit, u"/32", true,
                   PayloadChoice::kRefused, true},
        // 32-bit program only: runs everywhere without asking.
        ChoiceCase{"Only32On32", kPresent32, kAbsent, u"", false, PayloadChoice::k32Bit, false},
        ChoiceCase{"Only32On64NeverAsks", kPresent32, kAbsent, u"", true, PayloadChoice::k32Bit,
                   false},
        // Both programs.
        ChoiceCase{"BothOn64", kPresent32, kPresent64, u"", true, PayloadChoice::k64Bit, true},
        ChoiceCase{"BothOn32", kPresent32, kPresent64, u"", false, PayloadChoice::k32Bit, true},
        ChoiceCase{"BothOn32With32", kPresent32, kPresent64, u"/32", false, PayloadChoice::k32Bit,
                   false},
        ChoiceCase{"BothOn64With32Last", kPresent32, kPresent64, u"/s /temp D:\\A /32", true,
                   PayloadChoice::k32Bit, false},
        ChoiceCase{"BothOn64With32First", kPresent32, kPresent64, u"/32 /s /temp D:\\A", true,
                   PayloadChoice::k32Bit, false},
        ChoiceCase{"BothOn64With32Quoted", kPresent32, kPresent64, u"\"/32\"", true,
                   PayloadChoice::k32Bit, false},
        // The switch is exact: no near misses, no trailing blank, no other spelling.
        ChoiceCase{"BothOn64With32xAndDash", kPresent32, kPresent64, u"/32x -32", true,
                   PayloadChoice::k64Bit, true},
        ChoiceCase{"BothOn64With32AndBlankInQuotes", kPresent32, kPresent64, u"\"/32 \"", true,
                   PayloadChoice::k64Bit, true},
        ChoiceCase{"BothOn64WithBackslash32", kPresent32, kPresent64, u"\\32 //32 /3", true,
                   PayloadChoice::k64Bit, true},
        // Argument 0 is the launcher's own path, never a switch.
        ChoiceCase{"BothOn64ModulePathIsNotScanned", kPresent32, kPresent64, u"", true,
                   PayloadChoice::k64Bit, true, u"/32"}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// The decision by machine: each package against every kind of Windows.

constexpr uint16_t kMachineI386 = 0x014C, kMachineAmd64 = 0x8664;
const MachineFacts kMachines[] = {
    {false, 0, false},                     // 32-bit Windows without IsWow64Process2
    {true, 0, false},                      // 64-bit Windows without it
    {false, kMachineI386, false},          // 32-bit Windows 10
    {true, kMachineAmd64, false},          // x64 Windows 10 and 11
    {false, kMachineAmd64, true},          // a 64-bit launcher there: never under WOW64
    {true, kMachineArm64, false},          // Windows 10 on Arm: emulates x86 only
    {true, kMachineArm64, true},           // Windows 11 on Arm: x64 too
};
constexpr size_t kMachineCount = sizeof(kMachines) / sizeof(kMachines[0]);

struct DecisionRow {
  const char* label;
  uint32_t offset32;
  uint32_t offset64;
  bool switch32;
  PayloadChoice choices[kMachineCount];  // in the order of kMachines
};

class DecidePayloadTest : public testing::TestWithParam<DecisionRow> {};

TEST_P(DecidePayloadTest, ChoosesWhatThatWindowsRuns) {
  const DecisionRow& row = GetParam();
  for (size_t m = 0; m < kMachineCount; ++m) {
    EXPECT_EQ(DecidePayload(WithPayloads(row.offset32, row.offset64), row.switch32, kMachines[m]),
              row.choices[m])
        << "machine " << m;
  }
}

constexpr PayloadChoice k32 = PayloadChoice::k32Bit, k64 = PayloadChoice::k64Bit,
                        kNo = PayloadChoice::kRefused;
INSTANTIATE_TEST_SUITE_P(
    Machines, DecidePayloadTest,
    testing::Values(
        DecisionRow{"Only64", kAbsent, kPresent64, false, {kNo, k64, kNo, k64, kNo, kNo, k64}},
        DecisionRow{"Only64With32", kAbsent, kPresent64, true, {kNo, k64, kNo, k64, kNo, kNo, k64}},
        DecisionRow{"Barred", kPresent32, kBarredFrom64Bit, false, {k32, kNo, k32, kNo, k32, kNo, kNo}},
        DecisionRow{"BarredWith32", kPresent32, kBarredFrom64Bit, true,
                    {k32, kNo, k32, kNo, k32, kNo, kNo}},
        DecisionRow{"Only32", kPresent32, kAbsent, false, {k32, k32, k32, k32, k32, k32, k32}},
        DecisionRow{"Both", kPresent32, kPresent64, false, {k32, k64, k32, k64, k32, k32, k64}},
        DecisionRow{"BothWith32", kPresent32, kPresent64, true, {k32, k32, k32, k32, k32, k32, k32}}),
    [](const testing::TestParamInfo<DecisionRow>& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// The gate as the launcher runs it: the descriptor handed on, or the box.

constexpr uint32_t kMessageOffset = 64;
const std::u16string kWrongWidthText = u"Not for this Windows (%USER%).";

struct SelectCase {
  const char* label;
  uint32_t offset32;
  uint32_t offset64;
  bool wow64;
  std::u16string arguments;
  bool refused;
  bool selects64;
};

class SelectPayloadTest : public testing::TestWithParam<SelectCase> {};

TEST_P(SelectPayloadTest, HandsOnTheWholeDescriptorOrShowsTheWrongWidthText) {
  const SelectCase& c = GetParam();
  std::vector<uint8_t> file(kMessageOffset, 0);
  const std::vector<uint8_t> text = test::Utf16Bytes(kWrongWidthText);
  file.insert(file.end(), text.begin(), text.end());
  test::LauncherScene scene(file);
  MemoryPlatform& platform = scene.platform;
  platform.wow64 = c.wow64;
  platform.commandLine = u"Setup.exe " + c.arguments;
  const StubContext& context = scene.Context();
  PackageHeader header = WithPayloads(c.offset32, c.offset64);
  header.wrongWidthMessage = {kMessageOffset, static_cast<uint16_t>(kWrongWidthText.size())};

  if (c.refused) {
    EXPECT_THROW(SelectPayload(context, header), ProcessEnded);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, kWrongWidthText);  // no substitution
    EXPECT_EQ(platform.boxes[0].caption, platform.modulePath);
    EXPECT_EQ(platform.boxes[0].reason, EndReason::kWrongWidth);
    return;
  }
  const PayloadDescriptor chosen = SelectPayload(context, header);
  const PayloadDescriptor& expected = c.selects64 ? header.payload64 : header.payload32;
  EXPECT_EQ(chosen.offset, expected.offset);
  EXPECT_EQ(chosen.packedSize, expected.packedSize);
  EXPECT_EQ(chosen.unpackedSize, expected.unpackedSize);
  EXPECT_TRUE(platform.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SelectPayloadTest,
    testing::Values(SelectCase{"BothOn64", kPresent32, kPresent64, true, u"", false, true},
                    SelectCase{"BothOn64With32", kPresent32, kPresent64, true, u"/32", false,
                               false},
                    SelectCase{"Only32On64", kPresent32, kAbsent, true, u"", false, false},
                    SelectCase{"Only64On64", kAbsent, kPresent64, true, u"", false, true},
                    SelectCase{"Only64On32", kAbsent, kPresent64, false, u"", true, false},
                    SelectCase{"BarredOn64With32", kPresent32, kBarredFrom64Bit, true, u"/32",
                               true, false}),
    [](const testing::TestParamInfo<SelectCase>& info) { return info.param.label; });

}  // namespace
}  // namespace stub
