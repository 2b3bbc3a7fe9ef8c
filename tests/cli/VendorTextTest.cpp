// The checks of the texts a vendor gives for a box, through the build's
// recipe function: what is refused names where the text came from, a text
// too long for a box is built with a warning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "authoring/PeResources.h"
#include "tools/pkgtool/BuildCommand.h"
#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {
namespace {

struct TextCase {
  const char* name;
  bool launcherText;     // --launcher-text de.expired=..., else --expired-message
  bool fromRecipe;
  std::string text;      // UTF-8
  const char* refusal;   // part of the message; null: built
  bool warned = false;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class VendorTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(VendorTextTest, RefusesOrWarnsNamingTheSource) {
  const TextCase& c = GetParam();
  BuildOptions options;
  BuildFiles files;
  files.stub = stub::pe::MinimalPeImage("<assembly/>");  // room for the settings resource
  files.x86 = stub::pe::MinimalProgramImage(false);
  const std::string option = c.launcherText ? "--launcher-text" : "--expired-message";
  if (c.launcherText) {
    options.launcher.texts = {"de.expired=" + c.text};
  } else {
    options.expired.text = c.text;
    options.expired.textGiven = true;
  }
  const std::string field = c.launcherText ? "launcherTexts" : "messages.expired";
  if (c.fromRecipe) options.sources[option] = "setup.json: " + field;
  const std::string source = c.fromRecipe ? "setup.json: " + field : option;
  std::vector<std::string> warnings;
  if (c.refusal) {
    try {
      MakeRecipe(options, files, &warnings);
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(source, 0), 0u) << message;
      EXPECT_NE(message.find(c.refusal), std::string::npos) << message;
      EXPECT_EQ(e.exitCode(), kExitBadInput);
    }
    return;
  }
  MakeRecipe(options, files, &warnings);
  ASSERT_EQ(warnings.size(), c.warned ? 1u : 0u);
  if (c.warned) {
    EXPECT_EQ(warnings[0].rfind(source, 0), 0u) << warnings[0];
  }
}

const std::string kLong(1025, 'x');
INSTANTIATE_TEST_SUITE_P(
    Texts, VendorTextTest,
    testing::Values(
        TextCase{"PlainText", false, false, "Expired.\r\n\tSee the vendor.", nullptr},
        TextCase{"NulInAMessage", false, false, std::string("Expired\0 cut", 12), "U+0000"},
        TextCase{"NulFromARecipe", false, true, std::string("a\0b", 3), "U+0000"},
        TextCase{"NulInALauncherText", true, false, std::string("a\0b", 3), "U+0000"},
        TextCase{"NulInARecipesLauncherText", true, true, std::string("a\0b", 3), "U+0000"},
        TextCase{"Bell", false, false, "ding\a", "U+0007"},
        TextCase{"Escape", true, false, "\x1b[31mred", "U+001B"},
        TextCase{"C1Control", false, false, "a\xC2\x85" "b", "U+0085"},
        TextCase{"RightToLeftOverride", false, false, "setup\xE2\x80\xAE" "exe.txt", "U+202E"},
        TextCase{"LeftToRightEmbedding", true, false, "\xE2\x80\xAA" "a", "U+202A"},
        TextCase{"FirstStrongIsolate", false, false, "\xE2\x81\xA8" "a", "U+2068"},
        TextCase{"PopDirectionalIsolate", true, true, "a\xE2\x81\xA9", "U+2069"},
        TextCase{"RightToLeftMarkIsText", false, false, "\xE2\x80\x8F" "a", nullptr},
        TextCase{"AtTheLimit", false, false, std::string(1024, 'x'), nullptr},
        TextCase{"TooLongForABox", false, false, kLong, nullptr, true},
        TextCase{"TooLongLauncherText", true, true, kLong, nullptr, true}),
    [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

}  // namespace
}  // namespace pkgtool
