#include "tests/fuzz/ToolReaderFuzzer.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "tests/fuzz/AllocationCap.h"
#include "tools/pkgtool/HumanTerms.h"

namespace stub::fuzz {

void Fail(const std::string& what) {
  std::fprintf(stderr, "\n*** %s outcome violated: %s\n", kReaderName, what.c_str());
  std::abort();
}

}  // namespace stub::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  stub::fuzz::InstallAllocationCap();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  stub::fuzz::AllocationCapScope cap(size);
  try {
    stub::fuzz::CheckInput(data, size);
  } catch (const pkgtool::ToolError&) {
    // One of the tool's own errors: printed as such, exit code 2.
  } catch (const std::bad_alloc&) {
    // The tool's "out of memory" error; only reachable below the cap when
    // the machine itself is out.
  } catch (const std::exception& e) {
    stub::fuzz::Fail(std::string("an exception the tool does not handle: ") + e.what());
  }
  return 0;
}
