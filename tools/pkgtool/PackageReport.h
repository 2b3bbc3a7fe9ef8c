// What `inspect` shows: every field of the locator and header in human
// terms, the payloads, the messages and the launcher's integrity verdict.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/pkgtool/LauncherChecks.h"

namespace pkgtool {

// Decodes what can be decoded even from a damaged package; `check` supplies
// the verdict.
nlohmann::json DescribePackage(const std::string& path, const std::vector<uint8_t>& bytes,
                               const PackageCheck& check);

// The same description as aligned text for people.
std::string RenderPackageText(const nlohmann::json& description);

}  // namespace pkgtool
