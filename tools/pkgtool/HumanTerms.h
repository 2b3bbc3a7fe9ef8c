// Header fields in the words people use: Windows names, feature releases by
// name or code, calendar dates, sizes with units, elevation modes by name,
// and strict UTF-8 for message texts. Each parser throws ToolError with a
// message that names what was wrong.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "gates/WindowsVersionGate.h"
#include "package/StubTypes.h"

namespace pkgtool {

// pkgtool's exit codes; every way a run can end maps to exactly one.
constexpr int kExitDone = 0;         // done; the package is sound
constexpr int kExitRefused = 1;      // the package is not sound, or a build is refused
                                     // because the package could not work as asked
constexpr int kExitBadInput = 2;     // the command line or a file it names is wrong
constexpr int kExitSystemError = 3;  // the system failed: reading or writing (disk full,
                                     // no permission, I/O error), or memory ran out

// A run that cannot go on; the message is shown as it is, and `exitCode`
// says which of the above it is.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message, int exitCode = kExitBadInput)
      : std::runtime_error(message), exitCode_(exitCode) {}
  int exitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

// The name in `known` closest to what was typed, for "did you mean ...?":
// within one edit (a letter added, left out, changed, or two swapped) for
// short names, a third of the name for long ones, none for names of one or
// two characters, ignoring case. Empty when nothing is that close; the
// first of equally close names.
std::string ClosestName(const std::string& typed, const std::vector<std::string>& known);

struct WindowsName {
  const char* name;     // as typed: "8.1", "nt4", "other"
  unsigned element;     // WindowsVersionSet element
  const char* display;  // "Windows 8.1"
};
const std::vector<WindowsName>& WindowsNames();

// Names (case-insensitive) or "all"; each item may itself be a comma list.
stub::WindowsVersionSet ParseWindowsList(const std::vector<std::string>& items);
// The names of the elements present; unnamed elements as "element N".
std::vector<std::string> WindowsListNames(const stub::WindowsVersionSet& set);

enum class Family { kWin10, kWin11 };

// The launcher's own release table (gates/WindowsVersionGate.h) in UTF-8.
struct Release {
  std::string name;   // "1809", "22H2"
  uint16_t code;      // release code YYMM as the header stores it
  uint32_t build;     // CurrentBuild of that release
  std::string label;  // "October 2018 Update"
};
const std::vector<Release>& Releases(Family family);

// Release codes from this one on also admit releases nobody has named yet.
constexpr uint16_t kOpenEnded = stub::kOpenEndedRelease;

// A release name ("20H2") or a release code (0..9999).
uint16_t ParseReleaseCode(Family family, const std::string& text);
// "MIN..MAX"; an empty side means the lowest (0) or open-ended (9999) bound;
// "any" is 0..9999. A minimum above the maximum is refused.
std::pair<uint16_t, uint16_t> ParseReleaseRange(Family family, const std::string& text);
// "1809 (October 2018 Update)", "2009 = 20H2 (October 2020 Update)",
// "9999 (open-ended)", or the bare number.
std::string DescribeReleaseCode(Family family, uint16_t code);

// Strict YYYY-MM-DD on the Gregorian calendar, year 1..9999.
stub::LocalDate ParseDate(const std::string& text);
bool IsCalendarDate(unsigned year, unsigned month, unsigned day);
std::string FormatDate(unsigned year, unsigned month, unsigned day);

// Bytes with an optional binary unit: 65536, 512K, 4M, 64MiB, 1G.
uint64_t ParseSize(const std::string& text);
std::string FormatSize(uint64_t bytes);  // "4 MiB", "65537 bytes"

struct ElevationName {
  const char* name;
  uint8_t value;
  const char* meaning;
};
const std::vector<ElevationName>& ElevationNames();
uint8_t ParseElevation(const std::string& text);
std::string DescribeElevation(uint8_t value);

// Strict UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
std::u16string Utf8ToUtf16(const std::string& text, const std::string& what);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

std::string Lower(std::string text);

}  // namespace pkgtool
