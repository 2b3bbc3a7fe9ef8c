#include "tests/fuzz/AllocationCap.h"

#include <sanitizer/allocator_interface.h>
#include <sanitizer/common_interface_defs.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/memory/MemoryPlatform.h"

namespace stub::fuzz {
namespace {

std::atomic<size_t> g_cap{0};  // 0: no input running

void CheckAllocation(const volatile void*, size_t size) {
  const size_t cap = g_cap.load(std::memory_order_relaxed);
  if (cap == 0 || size <= cap) return;
  g_cap.store(0);  // what follows may allocate
  std::fprintf(stderr, "\n*** allocation of %zu bytes, above the ceiling of %zu for this input\n",
               size, cap);
  __sanitizer_print_stack_trace();
  std::abort();
}

void IgnoreFree(const volatile void*) {}

}  // namespace

void InstallAllocationCap() { __sanitizer_install_malloc_and_free_hooks(CheckAllocation, IgnoreFree); }

AllocationCapScope::AllocationCapScope(size_t inputSize) {
  const size_t cap = kCapFloor + kCapPerInputByte * inputSize;
  SetAllocationLimitForTesting(cap);
  g_cap.store(cap);
}

AllocationCapScope::~AllocationCapScope() {
  g_cap.store(0);
  SetAllocationLimitForTesting(0);
}

}  // namespace stub::fuzz
