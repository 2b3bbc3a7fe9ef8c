// The frame every fuzz target over one of pkgtool's readers shares: the
// allocation ceiling, and the tool's own errors told apart from a finding.
// A target defines the two names below; ToolReaderFuzzer.cpp, built into
// each target, holds libFuzzer's entry points around them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace stub::fuzz {

// What the target reads, for the line a finding prints ("PE reader").
extern const char kReaderName[];

// One input's checks; a violated outcome calls Fail. The tool's own errors
// (pkgtool::ToolError) and std::bad_alloc may leave it: they are outcomes
// the tool reports. Any other exception is a finding.
void CheckInput(const uint8_t* data, size_t size);

[[noreturn]] void Fail(const std::string& what);

}  // namespace stub::fuzz
