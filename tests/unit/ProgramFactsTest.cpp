// What pkgtool records of a setup program for the launcher: the level its
// manifest asks for, and whether its version information names an installer.
#include "authoring/ProgramFacts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "authoring/PeResources.h"
#include "authoring/VendorResources.h"

namespace stub::writer {
namespace {

std::string Manifest(const std::string& level) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
         "manifestVersion=\"1.0\"><trustInfo><security><requestedPrivileges>" +
         (level.empty() ? "" : "<requestedExecutionLevel level=\"" + level + "\" uiAccess=\"false\"/>") +
         "</requestedPrivileges></security></trustInfo></assembly>";
}

struct FactsCase {
  const char* name;
  std::vector<uint8_t> program;
  ProgramFacts facts;
};
void PrintTo(const FactsCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint8_t> WithVersion(const std::string& level, const std::string& key, const std::string& value) {
  VendorResources vendor;
  vendor.version = version::MakeVersionInfo({{key, value}, {"FileVersion", "1.0"}});
  return ApplyVendorResources(pe::MinimalPeImage(Manifest(level)), vendor);
}

class ProgramFactsTest : public testing::TestWithParam<FactsCase> {};

TEST_P(ProgramFactsTest, ReadsTheManifestAndTheVersionStrings) {
  EXPECT_EQ(ReadProgramFacts(GetParam().program), GetParam().facts);
}

using L = RequestedLevel;
INSTANTIATE_TEST_SUITE_P(
    Programs, ProgramFactsTest,
    testing::Values(
        FactsCase{"RequireAdministrator", pe::MinimalPeImage(Manifest("requireAdministrator")),
                  {L::kRequireAdministrator, false}},
        FactsCase{"AsInvoker", pe::MinimalPeImage(Manifest("asInvoker")), {L::kAsInvoker, false}},
        FactsCase{"ManifestWithoutLevel", pe::MinimalPeImage(Manifest("")), {L::kNotStated, false}},
        FactsCase{"NoResources", pe::MinimalProgramImage(false), {L::kNotStated, false}},
        FactsCase{"NotAProgram", std::vector<uint8_t>(300, 0x41), {L::kUnknown, false}},
        FactsCase{"DescriptionNamesSetup", WithVersion("", "FileDescription", "Contoso SETUP"),
                  {L::kNotStated, true}},
        FactsCase{"CompanyNamesPatch", WithVersion("asInvoker", "CompanyName", "Patchwork Ltd"),
                  {L::kAsInvoker, true}},
        FactsCase{"OriginalFilenameNamesUpdate", WithVersion("", "OriginalFilename", "AutoUpdater.exe"),
                  {L::kNotStated, true}},
        // Detection reads those five strings only.
        FactsCase{"CommentsAreNotRead", WithVersion("", "Comments", "the installer"), {L::kNotStated, false}},
        FactsCase{"OtherWords", WithVersion("", "ProductName", "Contoso Writer"), {L::kNotStated, false}}),
    [](const testing::TestParamInfo<FactsCase>& info) { return info.param.name; });

}  // namespace
}  // namespace stub::writer
