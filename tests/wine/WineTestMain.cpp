// wine_tests: the GoogleTest cases, plus two chores for the test run:
//   --prepare-prefixes   make the initialised Wine prefixes the cases copy
//   --remove-prefixes    remove them again
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>

#include "tests/wine/WineHarness.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--prepare-prefixes") == 0) {
    winetest::Harness& harness = winetest::Harness::Get();
    if (!harness.Unavailable().empty()) {
      std::cout << "Wine tests will skip: " << harness.Unavailable() << "\n";
      return 0;
    }
    std::cout << "stub under test: " << harness.StubPath().string()
              << (harness.StubIs64Bit() ? " (64-bit test build)" : "") << "\n";
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
  return RUN_ALL_TESTS();
}
