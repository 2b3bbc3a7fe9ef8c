// Shared pieces of the Wine tests: packages around the stub under test, the
// usual place of a package in the prefix, and checks on what a run showed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "launcher/FatalMessages.h"
#include "tests/wine/WineHarness.h"

namespace winetest {

// Where a case puts its package unless it says otherwise.
inline const std::string kPackageFolder = "C:\\Downloads\\";
inline const std::string kPackageName = "Setup.exe";
inline const std::string kPackagePath = kPackageFolder + kPackageName;

constexpr uint32_t kMbIconError = 0x10;

inline const std::u16string kExpiredText = u"This package has expired; ask the vendor for a current one.";
inline const std::u16string kWrongWidthText = u"This package has no setup program for this processor.";
inline const std::u16string kUnsupportedText =
    u"This package does not run on %USER%.  Please update Windows.";

inline std::u16string UnsupportedTextFor(const std::u16string& name) {
  std::u16string text = kUnsupportedText;
  text.replace(text.find(u"%USER%"), 6, name);
  return text;
}

inline std::u16string Fatal(stub::FatalMessage message) { return stub::FatalMessageText(message); }

// A package around the stub under test whose setup program runs in this Wine,
// on either width. With the 64-bit test build of the stub the x64
// program sits in the package's only (32-bit) slot: such a package runs on
// every width without the launcher asking which width Windows has, so the
// outcome does not hang on how a 64-bit build answers that.
inline stub::writer::PackageRecipe RunnableRecipe() {
  const Harness& harness = Harness::Get();
  stub::writer::PackageRecipe recipe;
  recipe.stub = harness.Stub();
  if (harness.StubIs64Bit()) {
    recipe.x86 = harness.SetupProgram(Width::k64);
  } else {
    recipe.x86 = harness.SetupProgram(Width::k32);
    recipe.x64 = harness.SetupProgram(Width::k64);
  }
  recipe.expiredMessage = kExpiredText;
  recipe.wrongWidthMessage = kWrongWidthText;
  recipe.unsupportedWindowsMessage = kUnsupportedText;
  recipe.lzmaLevel = 1;  // small programs; speed matters more than size here
  return recipe;
}

// The architecture of the setup program that RunnableRecipe() starts on a
// Windows of `width`.
inline std::string ExpectedArch(Width width) {
  if (Harness::Get().StubIs64Bit()) return "x64";
  return width == Width::k64 ? "x64" : "x86";
}

// Every Windows version the launcher knows but the ones named.
inline stub::WindowsVersionSet AllWindowsBut(const std::vector<unsigned>& elements) {
  stub::WindowsVersionSet set = stub::writer::AllWindows();
  for (unsigned element : elements) {
    set.bytes[element / 8] &= static_cast<uint8_t>(~(1u << (element % 8)));
  }
  return set;
}

inline std::vector<uint8_t> Build(const stub::writer::PackageRecipe& recipe) {
  return stub::writer::BuildPackage(recipe).bytes;
}

// Wine runs every program as an administrator, so the launcher's copy is an
// administrator's: the package's name in a new folder, named with 32 hex
// digits, inside `parent`. Returns that folder (no trailing backslash), or
// an empty string after recording a failure.
inline std::string PrivateFolderOf(const std::string& copy, const std::string& parent) {
  const std::string tail = "\\" + kPackageName;
  const size_t nameLength = 32;
  if (copy.size() != parent.size() + nameLength + tail.size() || copy.compare(0, parent.size(), parent) != 0 ||
      copy.compare(parent.size() + nameLength, tail.size(), tail) != 0 ||
      copy.substr(parent.size(), nameLength).find_first_not_of("0123456789abcdef") != std::string::npos) {
    ADD_FAILURE() << "the copy " << copy << " is not " << parent << "<32 hex digits>" << tail;
    return "";
  }
  return copy.substr(0, parent.size() + nameLength);
}

// Exactly one error box with `text`, captioned with the package's path.
inline void ExpectOneErrorBox(const RunResult& run, const std::u16string& text,
                              const std::string& packagePath = kPackagePath) {
  ASSERT_TRUE(run.problem.empty()) << run.problem;
  ASSERT_FALSE(run.timedOut) << "the launcher did not end; trace in " << run.relayLog;
  ASSERT_EQ(run.boxes.size(), 1u) << "trace in " << run.relayLog;
  const MessageBoxCall& box = run.boxes[0];
  EXPECT_TRUE(LoggedTextMatches(box.text, box.textCut, text))
      << "shown:    " << ToUtf8(box.text) << (box.textCut ? "..." : "") << "\nexpected: " << ToUtf8(text);
  EXPECT_EQ(ToUtf8(box.caption), packagePath);
  EXPECT_EQ(box.style, kMbIconError);
  EXPECT_EQ(run.exitCode, 0);
  for (const StartCall& start : run.starts) {
    EXPECT_FALSE(start.succeeded) << "started " << ToUtf8(start.commandLine) << " and showed a box";
  }
  EXPECT_TRUE(run.setupAfterAll.empty()) << "the setup program ran";
}

// The setup program ran once, to its end, before the launcher ended, and no
// box was shown; the launcher ended with `exitCode`.
inline void ExpectOneFinishedStart(const RunResult& run, int exitCode = 0) {
  ASSERT_TRUE(run.problem.empty()) << run.problem;
  ASSERT_FALSE(run.timedOut) << "the launcher did not end; trace in " << run.relayLog;
  EXPECT_TRUE(run.boxes.empty()) << "box: " << ToUtf8(run.boxes[0].text);
  EXPECT_EQ(run.exitCode, exitCode);
  ASSERT_EQ(run.setupAtExit.size(), 1u) << "setup program starts seen when the launcher ended";
  EXPECT_TRUE(run.setupAtExit[0].finished) << "the launcher ended before its setup program";
  EXPECT_EQ(run.setupAfterAll.size(), 1u);
}

// Base of the Wine tests: skips, saying why, where the stub cannot run.
class WineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string& why = Harness::Get().Unavailable();
    if (!why.empty()) GTEST_SKIP() << "Wine tests skipped: " << why;
  }
  static std::string CaseName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
  }
};

#define WINE_REQUIRE_WIDTH(width)                                            \
  do {                                                                       \
    if (!::winetest::Harness::Get().Supports(width)) {                       \
      GTEST_SKIP() << "needs " << ::winetest::WidthName(width)               \
                   << " Wine: " << ::winetest::Harness::Get().WhyNot(width); \
    }                                                                        \
  } while (0)

}  // namespace winetest
