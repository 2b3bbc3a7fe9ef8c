// A ceiling on every single allocation while one fuzz input runs, in
// proportion to the input: a file of a few kilobytes that makes a reader ask
// for a gigabyte is a finding, however lazily the system would have provided
// it. The launcher's own allocator gets the same ceiling, so that a window or
// an output the data cannot honestly fill ends in its out-of-memory verdict,
// a clear error, instead.
#pragma once

#include <cstddef>

namespace stub::fuzz {

// Every block up to the floor is allowed, and 64 bytes more per input byte:
// room for the reports, which hold at most a few copies of the input. A
// payload that would unpack beyond that meets the out-of-memory verdict
// instead, which is a clear error too.
constexpr size_t kCapFloor = size_t{1} << 20;
constexpr size_t kCapPerInputByte = 64;

// Once, from LLVMFuzzerInitialize.
void InstallAllocationCap();

// The ceiling for one input, lifted again on leaving the scope.
class AllocationCapScope {
 public:
  explicit AllocationCapScope(size_t inputSize);
  ~AllocationCapScope();
  AllocationCapScope(const AllocationCapScope&) = delete;
  AllocationCapScope& operator=(const AllocationCapScope&) = delete;
};

}  // namespace stub::fuzz
