// The VERSIONINFO resource: what Explorer's Properties page shows about a
// file (product, company, description, versions, copyright, original name).
//
// One string table in one language and code page, the numeric file and
// product versions taken from their dotted texts, and the Translation entry
// that tells Explorer which table to read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace stub::version {

class VersionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The keys an author may set, in the order they are written.
const std::vector<std::string>& Keys();

using Quad = std::array<uint16_t, 4>;

struct VersionInfo {
  uint16_t language = 0x0409;  // U.S. English
  uint16_t codePage = 1200;    // UTF-16
  // Key and UTF-8 value, in Keys() order.
  std::vector<std::pair<std::string, std::string>> strings;
  Quad fileVersion{}, productVersion{};

  bool operator==(const VersionInfo&) const = default;
};

// "1", "1.2", "1.2.3" or "1.2.3.4", each part a decimal number up to 65535;
// missing parts are 0. Nothing for anything else.
std::optional<Quad> ParseVersionNumber(const std::string& text);
std::string FormatVersionNumber(const Quad& version);

// Builds the resource's contents from KEY=VALUE settings. Refused
// (VersionError naming the key): an unknown key, a key given twice, a
// FileVersion or ProductVersion that is not a version number, a value that
// is not UTF-8. A missing FileVersion or ProductVersion takes the other's
// number, so Explorer never shows 0.0.0.0 beside a version the author gave.
VersionInfo MakeVersionInfo(const std::vector<std::pair<std::string, std::string>>& settings,
                            uint16_t language = 0x0409);

// Splits "KEY=VALUE" at the first '='; VersionError without one.
std::pair<std::string, std::string> SplitSetting(const std::string& setting);

std::vector<uint8_t> EncodeVersionInfo(const VersionInfo& info);

// Reads the resource back: the fixed versions, the first string table and
// its language. VersionError when it is malformed. Keys that Keys() does not
// list are kept too, so inspect shows what another tool wrote.
VersionInfo DecodeVersionInfo(const std::vector<uint8_t>& data);

}  // namespace stub::version
