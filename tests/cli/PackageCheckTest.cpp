// verify's verdicts on packages the writer seals but the launcher must refuse.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "authoring/LauncherResource.h"
#include "authoring/PackageWriter.h"
#include "authoring/PeResources.h"
#include "launcher/FatalMessages.h"
#include "package/CRC32.h"
#include "package/StubTypes.h"
#include "platform/Memory.h"
#include "tests/unit/LauncherTestSupport.h"
#include "tools/pkgtool/LauncherChecks.h"
#include "tools/pkgtool/LauncherOptions.h"
#include "tools/pkgtool/PackageReport.h"

namespace pkgtool {
namespace {

using stub::writer::PackageRecipe;

std::vector<uint8_t> Program(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i % 50 < 30) ? i % 7 : i * seed);
  return bytes;
}

struct CheckCase {
  const char* name;
  std::function<void(PackageRecipe&)> change;
  const char* failedCheck;  // "" when sound
  bool launcherText;        // the verdict is the damaged-package box
};

class PackageCheckTest : public testing::TestWithParam<CheckCase> {};

// A check leaves no out-of-memory handler behind pointing at a platform that
// is gone: a later exhaustion aborts cleanly instead of following it.
TEST(PackageCheckDeathTest, LeavesNoHandlerBehind) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        CheckPackage(std::vector<uint8_t>(300, 0xEE));
        stub::MemoryExhausted();
      },
      testing::KilledBySignal(SIGABRT), "");
}

TEST_P(PackageCheckTest, StopsAtTheFirstFailingCheck) {
  const CheckCase& c = GetParam();
  PackageRecipe recipe;
  recipe.stub = stub::writer::MinimalStubImage();
  recipe.x86 = Program(20000, 3);
  recipe.x64 = Program(30000, 5);
  recipe.expiredMessage = u"expired";
  recipe.wrongWidthMessage = u"wrong width";
  recipe.unsupportedWindowsMessage = u"not on %USER%";
  c.change(recipe);
  const auto bytes = stub::writer::BuildPackage(recipe).bytes;

  const PackageCheck check = CheckPackage(bytes);
  EXPECT_EQ(check.sound, std::string(c.failedCheck).empty());
  EXPECT_EQ(check.failedCheck, c.failedCheck);
  if (check.sound) {
    EXPECT_EQ(check.x86, recipe.x86);
    EXPECT_EQ(check.x64, recipe.x64);
  } else {
    EXPECT_FALSE(check.x86.has_value());
    EXPECT_FALSE(check.x64.has_value());
    if (c.launcherText) {
      EXPECT_EQ(check.verdict, stub::FatalMessageText(stub::FatalMessage::kDamaged));
    } else {
      EXPECT_FALSE(check.verdict.empty());
    }
  }
  const auto description = DescribePackage("p.exe", bytes, check);
  EXPECT_EQ(description["integrity"]["sound"].get<bool>(), check.sound);
}

INSTANTIATE_TEST_SUITE_P(
    Packages, PackageCheckTest,
    testing::Values(
        CheckCase{"Sound", [](PackageRecipe&) {}, "", false},
        CheckCase{"SoundBarred",
                  [](PackageRecipe& s) {
                    s.x64.reset();
                    s.barFrom64Bit = true;
                  },
                  "", false},
        CheckCase{"SoundX64Only", [](PackageRecipe& s) { s.x86.reset(); }, "", false},
        CheckCase{"BrokenSeal",
                  [](PackageRecipe& s) { s.adjustLocator = [](stub::PackageLocator& l) { l.crc ^= 4; }; },
                  "file size and checksum", true},
        CheckCase{"HeaderBeyondTheFile",
                  [](PackageRecipe& s) {
                    s.adjustLocator = [](stub::PackageLocator& l) {
                      l.packageOffset = l.minSizeLow - 10;
                      l.crcLength = 0;
                      l.crc = 0;
                    };
                  },
                  "package header", true},
        CheckCase{"MessageBeyondTheFile",
                  [](PackageRecipe& s) {
                    s.adjustHeader = [](stub::PackageHeader& h) { h.wrongWidthMessage.offset += 100000; };
                  },
                  "wrong-width message", true},
        CheckCase{"NoSetupProgram",
                  [](PackageRecipe& s) {
                    s.adjustHeader = [](stub::PackageHeader& h) {
                      h.payload32.offset = 0;
                      h.payload64.offset = 0;
                    };
                  },
                  "setup programs", false},
        CheckCase{"X86LongerThanItsData",
                  [](PackageRecipe& s) {
                    s.adjustHeader = [](stub::PackageHeader& h) { h.payload32.unpackedSize += 1; };
                  },
                  "x86 setup program", true},
        CheckCase{"X64PackedBeyondTheFile",
                  [](PackageRecipe& s) {
                    s.adjustHeader = [](stub::PackageHeader& h) { h.payload64.packedSize += 100000; };
                  },
                  "x64 setup program", true},
        CheckCase{"PropertiesOutOfRange",
                  [](PackageRecipe& s) {
                    s.adjustHeader = [](stub::PackageHeader& h) { h.lzmaProperties = 225; };
                  },
                  "x86 setup program", true}),
    [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

TEST(PackageReportTest, UnreadableMessagesAndBarsAreShownAsSuch) {
  PackageRecipe recipe;
  recipe.stub = stub::writer::MinimalStubImage();
  recipe.x86 = Program(1000, 1);
  recipe.barFrom64Bit = true;
  recipe.expiredMessage = u"gone \u00e4";
  recipe.unsupportedWindowsMessage = u"no";
  recipe.wrongWidthMessage.clear();
  recipe.adjustHeader = [](stub::PackageHeader& h) {
    h.unsupportedWindowsMessage.offset = 0xFFFFFF00u;
    h.wrongWidthMessage.offset = 0xFFFFFF00u;  // empty: nothing to read, so nothing missing
  };
  const auto bytes = stub::writer::BuildPackage(recipe).bytes;
  const auto d = DescribePackage("p.exe", bytes, CheckPackage(bytes));
  EXPECT_EQ(d["header"]["messages"]["expired"]["text"], "gone \xC3\xA4");
  EXPECT_TRUE(d["header"]["messages"]["unsupportedWindows"]["text"].is_null());
  EXPECT_EQ(d["header"]["messages"]["wrongWidth"]["text"], "");
  EXPECT_EQ(d["header"]["x64"], "barred from 64-bit Windows");
  EXPECT_EQ(d["header"]["x86"]["unpackedSize"], 1000);
  EXPECT_FALSE(d["integrity"]["sound"].get<bool>());
  EXPECT_EQ(d["integrity"]["failedCheck"], "unsupported-Windows message");
}

// A settings resource whose 4,700 text lengths add up to exactly 2^32 bytes,
// with a matching checksum: a 32-bit sum would wrap to the table's end and
// find the resource full. inspect and verify say it is not sound, and why.
TEST(PackageReportTest, SettingsWhoseLengthsWrapAreNotSound) {
  const std::vector<uint8_t> settings = stub::test::WrappingSettingsResource();
  ASSERT_EQ(settings.size(), 75214u);

  stub::pe::Resource resource;
  resource.type.id = 10;
  resource.name.name = stub::kSettingsResourceName;
  resource.data = settings;
  PackageRecipe recipe;
  recipe.stub = stub::pe::ReplaceResources(stub::pe::MinimalPeImage("<assembly/>"), {resource});
  recipe.x86 = Program(1000, 1);
  const auto bytes = stub::writer::BuildPackage(recipe).bytes;

  const PackageCheck check = CheckPackage(bytes);
  EXPECT_FALSE(check.sound);
  EXPECT_EQ(check.failedCheck, "launcher settings (not sound: its text lengths add up to more than it holds)");
  EXPECT_EQ(check.verdict, stub::FatalMessageText(stub::FatalMessage::kDamaged));
  EXPECT_FALSE(DescribePackage("p.exe", bytes, check)["integrity"]["sound"].get<bool>());
  EXPECT_EQ(DescribeLauncherSettings(bytes)["problem"],
            "not sound: its text lengths add up to more than it holds; the launcher shows the damaged box");
}

}  // namespace
}  // namespace pkgtool
