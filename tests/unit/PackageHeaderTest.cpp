#include <gtest/gtest.h>

#include <vector>

#include "launcher/FatalMessages.h"
#include "package/PackageMessage.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

// Header bytes with a distinct value in every position, so that a field read
// from the wrong offset shows up as a wrong value.
TEST(PackageHeaderTest, DecodesEveryFieldAtItsOffset) {
  uint8_t b[kHeaderSize];
  for (uint32_t i = 0; i < kHeaderSize; ++i) b[i] = static_cast<uint8_t>(i + 1);
  const PackageHeader h = DecodeHeader(b);
  EXPECT_EQ(h.lzmaProperties, 0x01);
  EXPECT_EQ(h.lzmaDictionarySize, 0x05040302u);
  EXPECT_EQ(h.allowedWindows.bytes[0], 0x06);
  EXPECT_EQ(h.allowedWindows.bytes[7], 0x0D);
  EXPECT_EQ(h.win10MinRelease, 0x0F0E);
  EXPECT_EQ(h.win10MaxRelease, 0x1110);
  EXPECT_EQ(h.win11MinRelease, 0x1312);
  EXPECT_EQ(h.win11MaxRelease, 0x1514);
  EXPECT_EQ(h.elevationMode, 0x16);
  EXPECT_EQ(h.payload32.offset, 0x1A191817u);
  EXPECT_EQ(h.payload32.packedSize, 0x1E1D1C1Bu);
  EXPECT_EQ(h.payload32.unpackedSize, 0x2221201Fu);
  EXPECT_EQ(h.payload64.offset, 0x26252423u);
  EXPECT_EQ(h.payload64.unpackedSize, 0x2E2D2C2Bu);
  EXPECT_EQ(h.afterMessages, 0x3231302Fu);
  EXPECT_EQ(h.expiryYear, 0x3433);
  EXPECT_EQ(h.expiryMonth, 0x3635);
  EXPECT_EQ(h.expiryDay, 0x3837);
  EXPECT_EQ(h.expiredMessage.offset, 0x3C3B3A39u);
  EXPECT_EQ(h.expiredMessage.length, 0x3E3D);
  EXPECT_EQ(h.wrongWidthMessage.offset, 0x4241403Fu);
  EXPECT_EQ(h.wrongWidthMessage.length, 0x4443);
  EXPECT_EQ(h.unsupportedWindowsMessage.offset, 0x48474645u);
  EXPECT_EQ(h.unsupportedWindowsMessage.length, 0x4A49);

  uint8_t again[kHeaderSize];
  EncodeHeader(h, again);
  EXPECT_EQ(std::vector<uint8_t>(again, again + kHeaderSize), std::vector<uint8_t>(b, b + kHeaderSize));
}

TEST(PackageHeaderTest, WindowsSetElementsAreBitsOfBytes) {
  WindowsVersionSet set;
  set.bytes[1] = 0x08;  // element 11
  set.bytes[7] = 0x80;  // element 63
  EXPECT_TRUE(set.Contains(kWin11));
  EXPECT_TRUE(set.Contains(kWinOther));
  EXPECT_FALSE(set.Contains(kWin10));
  EXPECT_FALSE(set.Contains(64));
}

std::vector<uint8_t> MessageFile(const std::u16string& text, uint32_t offset) {
  std::vector<uint8_t> file(offset, 0);
  const std::vector<uint8_t> bytes = test::Utf16Bytes(text);
  file.insert(file.end(), bytes.begin(), bytes.end());
  return file;
}

struct MessageFixture : test::LauncherScene {
  explicit MessageFixture(const std::u16string& text, uint32_t offset = 200)
      : LauncherScene(MessageFile(text, offset)) {}
  // The box shown; a readable text ends with the reason it was shown for,
  // an unreadable one as a damaged package.
  std::u16string Show(MessageDescriptor d, const Text* user) {
    EXPECT_THROW(ShowPackageMessage(Context(), d, user, EndReason::kWrongWidth, LauncherText::kWrongWidth),
                 ProcessEnded);
    EXPECT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes.at(0).caption, u"C:\\Downloads\\Setup.exe");
    EXPECT_EQ(platform.boxes.at(0).style, MemoryPlatform::kMbIconError);
    const bool damaged = platform.boxes.at(0).text == FatalMessageText(FatalMessage::kDamaged);
    EXPECT_EQ(platform.boxes.at(0).reason, damaged ? EndReason::kDamaged : EndReason::kWrongWidth);
    return platform.boxes.at(0).text;
  }
};

TEST(ShowPackageMessageTest, FillsBothPlaceholderSpellings) {
  const std::u16string text = u"Not on %USER%; really not on %user%, nor %User%.";
  MessageFixture f(text);
  const Text user(u"Windows 98");
  EXPECT_EQ(f.Show({200, static_cast<uint16_t>(text.size())}, &user),
            u"Not on Windows 98; really not on Windows 98, nor %User%.");
}

TEST(ShowPackageMessageTest, NoOrEmptyUserTextLeavesPlaceholders) {
  const std::u16string text = u"Expired %USER%";
  {
    MessageFixture f(text);
    EXPECT_EQ(f.Show({200, static_cast<uint16_t>(text.size())}, nullptr), text);
  }
  {
    MessageFixture f(text);
    const Text empty;
    EXPECT_EQ(f.Show({200, static_cast<uint16_t>(text.size())}, &empty), text);
  }
}

TEST(ShowPackageMessageTest, AllZeroDescriptorShowsAnEmptyBox) {
  MessageFixture f(u"whatever");
  EXPECT_EQ(f.Show({0, 0}, nullptr), u"");
}

TEST(ShowPackageMessageTest, TextPastTheEndOfTheFileIsDamaged) {
  MessageFixture f(u"short");
  EXPECT_EQ(f.Show({200, 6}, nullptr), std::u16string(FatalMessageText(FatalMessage::kDamaged)));
}

struct FillCase {
  std::u16string text;
  std::u16string user;
  std::u16string expected;
};

class FillPlaceholdersTest : public testing::TestWithParam<FillCase> {};

TEST_P(FillPlaceholdersTest, ReplacesOnlyTheStoredPlaceholders) {
  const FillCase& c = GetParam();
  EXPECT_EQ(ToU16(FillPlaceholders(FromU16(c.text), FromU16(c.user))), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FillPlaceholdersTest,
    testing::Values(
        FillCase{u"%USER%%USER%", u"W", u"WW"},
        FillCase{u"a%user%b%USER%c", u"W", u"aWbWc"},
        // A name that itself holds placeholders (a registry value can) is
        // inserted as it is, and the replacement still ends.
        FillCase{u"[%USER%]", u"%USER%", u"[%USER%]"},
        FillCase{u"[%USER%|%user%]", u"%user%%USER%", u"[%user%%USER%|%user%%USER%]"},
        // Upper-case placeholders are all replaced before lower-case ones.
        FillCase{u"%user%USER%", u"W", u"%userW"},
        FillCase{u"no placeholder", u"W", u"no placeholder"},
        FillCase{u"%USER", u"W", u"%USER"}));

}  // namespace
}  // namespace stub
