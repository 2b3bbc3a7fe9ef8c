#include "tools/pkgtool/HumanTerms.h"

#include "platform/memory/MemoryPlatform.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace pkgtool {

namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Digits only, at most `maxDigits` of them, so the value cannot overflow.
bool ParseNumber(const std::string& text, size_t maxDigits, uint64_t& value) {
  if (!AllDigits(text) || text.size() > maxDigits) return false;
  value = std::stoull(text);
  return true;
}

const char* FamilyName(Family family) { return family == Family::kWin10 ? "10" : "11"; }

}  // namespace

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

const std::vector<WindowsName>& WindowsNames() {
  static const std::vector<WindowsName> names = {
      {"95", stub::kWin95, "Windows 95"},       {"98", stub::kWin98, "Windows 98"},
      {"me", stub::kWinMe, "Windows ME"},       {"nt4", stub::kWinNt4, "Windows NT 4"},
      {"2000", stub::kWin2000, "Windows 2000"}, {"xp", stub::kWinXp, "Windows XP"},
      {"vista", stub::kWinVista, "Windows Vista"}, {"7", stub::kWin7, "Windows 7"},
      {"8", stub::kWin8, "Windows 8"},          {"8.1", stub::kWin81, "Windows 8.1"},
      {"10", stub::kWin10, "Windows 10"},       {"11", stub::kWin11, "Windows 11"},
      {"other", stub::kWinOther, "other Windows versions"},
  };
  return names;
}

stub::WindowsVersionSet ParseWindowsList(const std::vector<std::string>& items) {
  stub::WindowsVersionSet set;
  bool any = false;
  for (const std::string& item : items) {
    size_t start = 0;
    while (start <= item.size()) {
      size_t comma = item.find(',', start);
      if (comma == std::string::npos) comma = item.size();
      const std::string name = Lower(Trim(item.substr(start, comma - start)));
      start = comma + 1;
      if (name.empty()) continue;
      any = true;
      if (name == "all") {
        for (const auto& n : WindowsNames()) set.Add(n.element);
        continue;
      }
      auto it = std::find_if(WindowsNames().begin(), WindowsNames().end(),
                             [&](const WindowsName& n) { return name == n.name; });
      if (it == WindowsNames().end()) {
        throw ToolError("--windows: unknown Windows name '" + name +
                        "' (known: 95, 98, me, nt4, 2000, xp, vista, 7, 8, 8.1, 10, 11, other, "
                        "all)");
      }
      set.Add(it->element);
    }
  }
  if (!any) throw ToolError("--windows: no Windows version named");
  return set;
}

std::vector<std::string> WindowsListNames(const stub::WindowsVersionSet& set) {
  std::vector<std::string> names;
  for (unsigned e = 0; e < 64; ++e) {
    if (!set.Contains(e)) continue;
    auto it = std::find_if(WindowsNames().begin(), WindowsNames().end(),
                           [&](const WindowsName& n) { return n.element == e; });
    names.push_back(it != WindowsNames().end() ? it->name : "element " + std::to_string(e));
  }
  return names;
}

const std::vector<Release>& Releases(Family family) {
  auto convert = [](const stub::WindowsReleaseList& rows) {
    std::vector<Release> releases;
    for (const stub::WindowsRelease& row : rows) {
      releases.push_back({Utf16ToUtf8(row.name), row.code, row.build, Utf16ToUtf8(row.label)});
    }
    return releases;
  };
  static const std::vector<Release> win10 = convert(stub::kWindows10Releases);
  static const std::vector<Release> win11 = convert(stub::kWindows11Releases);
  return family == Family::kWin10 ? win10 : win11;
}

uint16_t ParseReleaseCode(Family family, const std::string& raw) {
  const std::string text = Trim(raw);
  const std::string option = family == Family::kWin10 ? "--win10" : "--win11";
  for (const Release& r : Releases(family)) {
    if (Lower(text) == Lower(r.name)) return r.code;
  }
  uint64_t value = 0;
  if (ParseNumber(text, 5, value)) {
    if (value > kOpenEnded) {
      throw ToolError(option + ": " + text +
                      " is not a release code (YYMM, at most 9999); build numbers are not "
                      "accepted here");
    }
    return static_cast<uint16_t>(value);
  }
  std::string known;
  for (const Release& r : Releases(family)) known += (known.empty() ? "" : ", ") + r.name;
  throw ToolError(option + ": unknown Windows " + FamilyName(family) + " release '" + text +
                  "' (names: " + known + "; or a release code YYMM)");
}

std::pair<uint16_t, uint16_t> ParseReleaseRange(Family family, const std::string& raw) {
  const std::string text = Trim(raw);
  const std::string option = family == Family::kWin10 ? "--win10" : "--win11";
  if (Lower(text) == "any") return {0, kOpenEnded};
  const auto dots = text.find("..");
  if (dots == std::string::npos) {
    throw ToolError(option + ": '" + text +
                    "' is not a range; write MIN..MAX, MIN.. or ..MAX (e.g. 1809..22H2)");
  }
  const std::string low = Trim(text.substr(0, dots));
  const std::string high = Trim(text.substr(dots + 2));
  const uint16_t min = low.empty() ? 0 : ParseReleaseCode(family, low);
  const uint16_t max = high.empty() ? kOpenEnded : ParseReleaseCode(family, high);
  if (min > max) {
    throw ToolError(option + ": the minimum " + std::to_string(min) + " is above the maximum " +
                    std::to_string(max));
  }
  return {min, max};
}

std::string DescribeReleaseCode(Family family, uint16_t code) {
  if (code >= kOpenEnded) return std::to_string(code) + " (open-ended: later releases too)";
  for (const Release& r : Releases(family)) {
    if (r.code != code) continue;
    if (std::to_string(code) == r.name) return r.name + " (" + r.label + ")";
    return std::to_string(code) + " = " + r.name + " (" + r.label + ")";
  }
  return std::to_string(code);
}

bool IsCalendarDate(unsigned year, unsigned month, unsigned day) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= days[month - 1] + (month == 2 && leap ? 1u : 0u);
}

std::string FormatDate(unsigned year, unsigned month, unsigned day) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", year, month, day);
  return buffer;
}

stub::LocalDate ParseDate(const std::string& raw) {
  const std::string text = Trim(raw);
  uint64_t y = 0, m = 0, d = 0;
  const bool shaped = text.size() == 10 && text[4] == '-' && text[7] == '-' &&
                      ParseNumber(text.substr(0, 4), 4, y) && ParseNumber(text.substr(5, 2), 2, m) &&
                      ParseNumber(text.substr(8, 2), 2, d);
  if (!shaped) throw ToolError("'" + text + "' is not a date of the form YYYY-MM-DD");
  if (!IsCalendarDate(static_cast<unsigned>(y), static_cast<unsigned>(m), static_cast<unsigned>(d))) {
    throw ToolError("'" + text + "' is not a day of the calendar");
  }
  return {static_cast<uint16_t>(y), static_cast<uint16_t>(m), static_cast<uint16_t>(d)};
}

uint64_t ParseSize(const std::string& raw) {
  const std::string text = Trim(raw);
  size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  uint64_t value = 0;
  if (!ParseNumber(text.substr(0, digits), 12, value)) {
    throw ToolError("'" + text + "' is not a size (bytes, or a number with K, M or G)");
  }
  const std::string unit = Lower(Trim(text.substr(digits)));
  uint64_t scale = 0;
  if (unit.empty() || unit == "b") scale = 1;
  else if (unit == "k" || unit == "kib" || unit == "kb") scale = 1ull << 10;
  else if (unit == "m" || unit == "mib" || unit == "mb") scale = 1ull << 20;
  else if (unit == "g" || unit == "gib" || unit == "gb") scale = 1ull << 30;
  if (scale == 0) throw ToolError("'" + text + "': unknown unit '" + unit + "' (use K, M or G)");
  return value * scale;  // at most 12 digits times 2^30: no overflow
}

std::string FormatSize(uint64_t bytes) {
  if (bytes && bytes % (1ull << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
  if (bytes && bytes % (1ull << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes && bytes % (1ull << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

const std::vector<ElevationName>& ElevationNames() {
  static const std::vector<ElevationName> names = {
      {"standard", 0,
       "interactive runs get \"open\" + /noadmin; silent runs (/s, /silent) get \"open\" and "
       "no /noadmin, so the setup program asks for rights itself"},
      {"silent-runas", 1,
       "interactive runs get \"open\" + /noadmin; silent runs are started elevated with "
       "\"runas\" and no /noadmin"},
      {"always-noadmin", 2, "every run gets \"open\" + /noadmin, silent or not"},
  };
  return names;
}

uint8_t ParseElevation(const std::string& raw) {
  const std::string text = Lower(Trim(raw));
  for (const ElevationName& e : ElevationNames()) {
    if (text == e.name || text == std::to_string(e.value)) return e.value;
  }
  throw ToolError("--elevation: unknown mode '" + text +
                  "' (standard or 0, silent-runas or 1, always-noadmin or 2)");
}

std::string DescribeElevation(uint8_t value) {
  for (const ElevationName& e : ElevationNames()) {
    if (e.value == value) return std::string(e.name) + ": " + e.meaning;
  }
  return "unknown value, acts as standard: " + std::string(ElevationNames()[0].meaning);
}

std::u16string Utf8ToUtf16(const std::string& text, const std::string& what) {
  std::u16string out;
  const size_t bad = stub::DecodeUtf8(text, out, stub::Utf8Errors::kStop);
  if (bad != std::string::npos) {
    throw ToolError(what + ": not valid UTF-8 (byte " + std::to_string(bad) + ")");
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) { return stub::ToUtf8(text); }

namespace {

// Edits between a and b: insertions, deletions, substitutions and swaps of
// neighbours (the optimal string alignment distance).
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::string ClosestName(const std::string& typed, const std::vector<std::string>& known) {
  const std::string word = Lower(typed);
  std::string best;
  size_t bestDistance = 0;
  for (const std::string& name : known) {
    const size_t distance = EditDistance(word, Lower(name));
    // Names of one or two characters ("-o") are all difference after one edit.
    const size_t allowed = name.size() <= 2 ? 0 : std::max<size_t>(1, name.size() / 3);
    if (name == typed || distance > allowed) continue;
    if (best.empty() || distance < bestDistance) {
      best = name;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace pkgtool
