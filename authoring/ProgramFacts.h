// What a setup program asks of Windows when it is started, read from its own
// resources, so that the launcher knows it before it writes the copy.
#pragma once

#include <cstdint>
#include <vector>

#include "authoring/LauncherResource.h"

namespace stub::writer {

// The execution level its application manifest (RT_MANIFEST 1, the one
// Windows reads for a program) asks for, kNotStated without one; and whether
// the strings of its version information Windows' installer detection reads
// (FileDescription, ProductName, OriginalFilename, InternalName,
// CompanyName) hold one of its words. A program whose resources cannot be
// read gives kUnknown: the launcher then reads the copy's manifest itself.
ProgramFacts ReadProgramFacts(const std::vector<uint8_t>& program);

}  // namespace stub::writer
