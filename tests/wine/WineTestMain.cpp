// wine_tests: the GoogleTest cases, plus two chores for the test run:
//   --prepare-prefixes   make the initialised Wine prefixes the cases copy
//   --remove-prefixes    remove them again
// Every case that ends adds a line to WORKDIR/report.txt: the stub it ran on
// (and how), or why it was skipped. tests/wine/e2e.sh prints it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "tests/wine/WineHarness.h"

namespace {

class ReportListener : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo& info) override {
    const ::testing::TestResult& result = *info.result();
    std::string line;
    if (result.Skipped()) {
      std::string why;
      for (int i = 0; i < result.total_part_count(); ++i) {
        if (result.GetTestPartResult(i).skipped()) why = result.GetTestPartResult(i).message();
      }
      line = "skipped  ";
      line += std::string(info.test_suite_name()) + "." + info.name() + "  " + why;
    } else if (!winetest::LastRunDescription().empty()) {
      line = result.Passed() ? "passed   " : "FAILED   ";
      line += std::string(info.test_suite_name()) + "." + info.name() + "  on " + winetest::LastRunDescription();
    } else {
      return;  // a case that runs nothing under Wine
    }
    for (char& c : line) {
      if (c == '\n') c = ' ';
    }
    line += '\n';
    // One write per line, appended: the cases run in parallel processes.
    const int fd = open(ReportPath().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    if (write(fd, line.data(), line.size()) < 0) {
      // The report is a convenience; the case's own outcome stands.
    }
    close(fd);
  }

 public:
  static std::string ReportPath() { return (winetest::Harness::Get().WorkDir() / "report.txt").string(); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--prepare-prefixes") == 0) {
    winetest::Harness& harness = winetest::Harness::Get();
    unlink(ReportListener::ReportPath().c_str());
    if (!harness.Unavailable().empty()) {
      std::cout << "Wine tests will skip: " << harness.Unavailable() << "\n";
      // A 32-bit Wine chosen for this run that does not work fails the run.
      const char* tier = std::getenv("WINE32_TIER");
      const bool promised = tier && *tier && std::strcmp(tier, "none") != 0;
      return promised && !harness.Runs32BitPrograms() ? 1 : 0;
    }
    std::cout << "stub under test: " << harness.StubPath().string() << ", "
              << harness.StubDescription(std::string()) << "\n";
    std::string error;
    if (!harness.PrepareTemplates(&error)) {
      std::cerr << error << "\n";
      return 1;
    }
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--remove-prefixes") == 0) {
    winetest::Harness::Get().RemoveTemplates();
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new ReportListener);
  return RUN_ALL_TESTS();
}
