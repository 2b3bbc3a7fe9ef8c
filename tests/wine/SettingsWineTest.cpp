// The vendor's launcher settings on the real stub: deployment mode's exit
// codes and silence, and the launcher's texts in Wine's interface language.
#include "authoring/LauncherResource.h"
#include "authoring/VendorResources.h"
#include "launcher/FatalMessages.h"
#include "tests/wine/WineTestSupport.h"

namespace winetest {
namespace {

stub::writer::PackageRecipe WithSettings(const stub::writer::LauncherSettingsChoice& settings) {
  auto recipe = RunnableRecipe();
  stub::writer::VendorResources vendor;
  vendor.launcher = settings;
  recipe.stub = stub::writer::ApplyVendorResources(recipe.stub, vendor);
  return recipe;
}

stub::writer::LauncherSettingsChoice AllShipped(bool passExitCode) {
  stub::writer::LauncherSettingsChoice choice{passExitCode, {}};
  for (const auto& shipped : stub::writer::ShippedLanguages()) {
    stub::writer::LauncherLanguage l;
    l.language = shipped.language;
    for (const stub::LauncherText t : stub::writer::kShippedTexts) {
      l.texts[static_cast<int>(t)] = ToUtf16(shipped.Text(t));
    }
    choice.languages.push_back(l);
  }
  return choice;
}

std::vector<uint8_t> Damaged(std::vector<uint8_t> bytes) {
  bytes[bytes.size() - 40] ^= 0x40;  // inside the checksummed span's last texts
  return bytes;
}

TEST_F(WineTest, DeploymentModePassesTheSetupProgramsExitCodeOn) {
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Build(WithSettings(AllShipped(true))));
  RunOptions options;
  options.environment["SETUPPROG_EXIT"] = "3010";
  const RunResult run = wine.Run(kPackagePath, options);
  ExpectOneFinishedStart(run, 3010);
}

TEST_F(WineTest, DeploymentModeEndsASilentDamagedRunWithoutABox) {
  WineCase wine(Width::k64, CaseName());
  wine.WriteFile(kPackagePath, Damaged(Build(WithSettings(AllShipped(true)))));
  RunOptions options;
  options.arguments = {"/s"};
  const RunResult run = wine.Run(kPackagePath, options);
  ASSERT_TRUE(run.problem.empty()) << run.problem;
  EXPECT_TRUE(run.boxes.empty()) << "box: " << ToUtf8(run.boxes[0].text);
  EXPECT_EQ(run.exitCode, 1620);
  EXPECT_TRUE(run.setupAfterAll.empty());
}

// Wine's interface language follows LC_ALL.
struct LanguageCase {
  const char* name;
  bool languages;
  std::string locale;
  std::u16string box;
};
void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.name; }

class LanguageWineTest : public WineTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(LanguageWineTest, DamagedBoxSpeaksTheUsersLanguage) {
  const LanguageCase& c = GetParam();
  WineCase wine(Width::k64, CaseName());
  const auto recipe = c.languages ? WithSettings(AllShipped(false)) : RunnableRecipe();
  wine.WriteFile(kPackagePath, Damaged(Build(recipe)));
  RunOptions options;
  options.environment["LC_ALL"] = c.locale;
  const RunResult run = wine.Run(kPackagePath, options);
  ExpectOneErrorBox(run, c.box);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, LanguageWineTest,
    ::testing::Values(LanguageCase{"GermanWithLanguages", true, "de_DE.UTF-8",
                                   ToUtf16(stub::writer::ShippedLanguages()[0].Text(stub::LauncherText::kDamaged))},
                      LanguageCase{"GermanWithoutLanguages", false, "de_DE.UTF-8",
                                   Fatal(stub::FatalMessage::kDamaged)},
                      LanguageCase{"EnglishWithLanguages", true, "en_US.UTF-8",
                                   Fatal(stub::FatalMessage::kDamaged)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace winetest
