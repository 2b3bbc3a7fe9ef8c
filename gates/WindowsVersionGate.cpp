#include "gates/WindowsVersionGate.h"

#include "package/PackageMessage.h"

namespace stub {

namespace {

// The one UTF-16 unit 48 + n: a digit for 0..9, the units after '9' beyond.
char16_t CharacterOf(uint32_t n) { return static_cast<char16_t>(48 + n); }

struct ReleaseRow {
  const char16_t* text;  // DisplayVersion (Windows 11) — unused for Windows 10 rows
  uint32_t build;        // build limit (Windows 11) or exact build (Windows 10)
  uint16_t code;
  const char16_t* name;
};

const ReleaseRow kWindows11[] = {
    {u"21H2", 22448, 2110, u"Windows 11 21H2 (Original Release)"},
    {u"22H2", 22621, 2209, u"Windows 11 22H2 (2022 Update)"},
    {u"23H2", 22631, 2310, u"Windows 11 23H2 (2023 Update)"},
    {u"24H2", 26100, 2410, u"Windows 11 24H2 (2024 Update)"},
    {u"25H2", 26200, 2510, u"Windows 11 25H2 (2025 Update)"},
};

const ReleaseRow kWindows10Builds[] = {
    {nullptr, 19042, 2009, u"Windows 10 20H2 (October 2020 Update)"},
    {nullptr, 19043, 2105, u"Windows 10 21H1 (May 2021 Update)"},
    {nullptr, 19044, 2111, u"Windows 10 21H2 (November 2021 Update)"},
    {nullptr, 19045, 2210, u"Windows 10 22H2 (2022 Update)"},
};

struct ReleaseIdName {
  int32_t releaseId;
  const char16_t* name;
};

const ReleaseIdName kWindows10ReleaseIds[] = {
    {1507, u"Windows 10 1507 (Original Release)"},
    {1511, u"Windows 10 1511 (November Update)"},
    {1607, u"Windows 10 1607 (Anniversary Update)"},
    {1703, u"Windows 10 1703 (Creators Update)"},
    {1709, u"Windows 10 1709 (Fall Creators Update)"},
    {1803, u"Windows 10 1803 (April 2018 Update)"},
    {1809, u"Windows 10 1809 (October 2018 Update)"},
    {1903, u"Windows 10 1903 (May 2019 Update)"},
    {1909, u"Windows 10 1909 (November 2019 Update)"},
    {2004, u"Windows 10 2004 (May 2020 Update)"},
};

// Registry data as text: the units up to the first NUL, at most what was
// stored.
Text RegistryText(const uint8_t* buffer, uint32_t byteCount) {
  Text text;
  for (uint32_t i = 0; i + 1 < byteCount; i += 2) {
    const auto unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
    if (unit == 0) break;
    text.Append(unit);
  }
  return text;
}

// The registry side of the gate: one key, one 128-byte buffer.
class CurrentVersionKey {
 public:
  explicit CurrentVersionKey(Platform& platform) : platform_(platform) {}
  bool Open() { return platform_.OpenCurrentVersionKey(); }
  void Close() { platform_.CloseCurrentVersionKey(); }
  bool Read(const char16_t* name) {
    size_ = kRegistryBufferSize;
    if (!platform_.QueryCurrentVersionValue(name, buffer_, size_)) return false;
    if (size_ > kRegistryBufferSize) size_ = kRegistryBufferSize;
    return true;
  }
  int32_t Number() const { return ParseLeadingDigits(buffer_, size_); }
  Text AsText() const { return RegistryText(buffer_, size_); }

 private:
  Platform& platform_;
  uint8_t buffer_[kRegistryBufferSize] = {};
  uint32_t size_ = 0;
};

WindowsVerdict Pass(uint32_t major) {
  WindowsVerdict v;
  v.majorVersion = major;
  return v;
}

WindowsVerdict Refuse(uint32_t major, Text name) {
  WindowsVerdict v;
  v.pass = false;
  v.name = static_cast<Text&&>(name);
  v.majorVersion = major;
  return v;
}

WindowsVerdict Decide(const PackageHeader& header, unsigned element, uint32_t major,
                      const char16_t* name) {
  return header.allowedWindows.Contains(element) ? Pass(major) : Refuse(major, Text(name));
}

bool WithinRange(uint16_t code, uint16_t minimum, uint16_t maximum) {
  return minimum <= code && code <= maximum;
}

// Windows 2000 demands Service Pack 4 of packages that allow none of
// Windows 95, 98 and ME.
WindowsVerdict CheckWindows2000ServicePack(Platform& platform) {
  const ServicePackFacts facts = platform.GetServicePack();
  if (!facts.ok || facts.servicePackMajor >= 4) return Pass(5);
  if (facts.servicePackMajor == 0) return Refuse(5, Text(u"Windows 2000 (no Service Pack)"));
  Text name(u"Windows 2000 Service Pack ");
  name.Append(CharacterOf(facts.servicePackMajor));
  return Refuse(5, static_cast<Text&&>(name));
}

WindowsVerdict JudgeWindows11(CurrentVersionKey& key, const PackageHeader& header, int32_t build) {
  if (!header.allowedWindows.Contains(kWin11)) return Refuse(10, Text(u"Windows 11"));
  const Text displayVersion = key.Read(u"DisplayVersion") ? key.AsText() : Text();
  for (const ReleaseRow& row : kWindows11) {
    if (displayVersion == row.text || build <= static_cast<int32_t>(row.build)) {
      if (WithinRange(row.code, header.win11MinRelease, header.win11MaxRelease)) return Pass(10);
      return Refuse(10, Text(row.name));
    }
  }
  if (header.win11MaxRelease >= 9999) return Pass(10);
  Text name(u"Windows 11 ");
  name.Append(displayVersion);
  return Refuse(10, static_cast<Text&&>(name));
}

WindowsVerdict JudgeWindows10(CurrentVersionKey& key, const PackageHeader& header, int32_t build) {
  if (!header.allowedWindows.Contains(kWin10)) return Refuse(10, Text(u"Windows 10"));
  if (build >= 19042) {
    const Text displayVersion = key.Read(u"DisplayVersion") ? key.AsText() : Text();
    for (const ReleaseRow& row : kWindows10Builds) {
      if (build == static_cast<int32_t>(row.build)) {
        if (WithinRange(row.code, header.win10MinRelease, header.win10MaxRelease)) return Pass(10);
        return Refuse(10, Text(row.name));
      }
    }
    if (header.win10MaxRelease >= 9999) return Pass(10);
    Text name(u"Windows 10 ");
    name.Append(displayVersion);
    return Refuse(10, static_cast<Text&&>(name));
  }
  if (!key.Read(u"ReleaseId")) return Pass(10);
  const int32_t releaseId = key.Number();
  const auto code = static_cast<uint16_t>(releaseId & 0xFFFF);
  if (WithinRange(code, header.win10MinRelease, header.win10MaxRelease)) return Pass(10);
  for (const ReleaseIdName& row : kWindows10ReleaseIds) {
    if (row.releaseId == releaseId) return Refuse(10, Text(row.name));
  }
  Text name(u"Windows 10 ");
  name.Append(key.AsText());
  return Refuse(10, static_cast<Text&&>(name));
}

// Windows 10 and 11 report the same version; the build and release come from
// the registry, and whatever cannot be read lets the package run.
WindowsVerdict JudgeByRegistry(Platform& platform, const PackageHeader& header, uint32_t major) {
  CurrentVersionKey key(platform);
  if (!key.Open()) return Pass(major);
  if (!key.Read(u"CurrentBuild")) {
    key.Close();
    return Pass(major);
  }
  const int32_t build = key.Number();
  WindowsVerdict verdict =
      build >= 22000 ? JudgeWindows11(key, header, build) : JudgeWindows10(key, header, build);
  verdict.majorVersion = major;
  // A refusal ends the process with the key still open; every pass closes it.
  if (verdict.pass) key.Close();
  return verdict;
}

}  // namespace

int32_t ParseLeadingDigits(const uint8_t* buffer, uint32_t byteCount) {
  const uint32_t units = byteCount / 2;
  int64_t value = 0;
  for (uint32_t i = 0; i < units; ++i) {
    const uint32_t unit = buffer[2 * i] | (buffer[2 * i + 1] << 8);
    if (unit < 48 || unit > 57) break;
    value = value * 10 + (unit - 48);
    // Ten or more digits would overflow a signed 32-bit value; Windows stores
    // five-digit builds, so the largest value stands for "very large".
    if (value > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int32_t>(value);
}

WindowsVerdict JudgeWindowsVersion(Platform& platform, const PackageHeader& header) {
  const VersionFacts v = platform.GetVersion();
  if (!v.ok) return Pass(0);
  const uint32_t major = v.major;
  switch (major) {
    case 4:
      if (v.platformId == 2) return Decide(header, kWinNt4, major, u"Windows NT 4");
      if (v.minor <= 3) return Decide(header, kWin95, major, u"Windows 95");
      if (v.minor == 10) return Decide(header, kWin98, major, u"Windows 98");
      return Decide(header, kWinMe, major, u"Windows ME");
    case 5: {
      if (v.minor >= 1) return Decide(header, kWinXp, major, u"Windows XP");
      WindowsVerdict verdict = Decide(header, kWin2000, major, u"Windows 2000");
      if (!verdict.pass) return verdict;
      const bool allows9x = header.allowedWindows.Contains(kWin95) ||
                            header.allowedWindows.Contains(kWin98) ||
                            header.allowedWindows.Contains(kWinMe);
      return allows9x ? verdict : CheckWindows2000ServicePack(platform);
    }
    case 6:
      switch (v.minor) {
        case 0: return Decide(header, kWinVista, major, u"Windows Vista");
        case 1: return Decide(header, kWin7, major, u"Windows 7");
        case 2: return Decide(header, kWin8, major, u"Windows 8");
        case 3: return Decide(header, kWin81, major, u"Windows 8.1");
        default: {
          Text name(u"Windows 6.");
          name.Append(CharacterOf(v.minor));
          return Refuse(major, static_cast<Text&&>(name));
        }
      }
    case 10:
    case 11: {
      if (v.minor == 0) return JudgeByRegistry(platform, header, major);
      if (header.allowedWindows.Contains(kWinOther)) return Pass(major);
      Text name(u"Windows 10.");
      name.Append(CharacterOf(v.minor));
      return Refuse(major, static_cast<Text&&>(name));
    }
    default: {
      if (header.allowedWindows.Contains(kWinOther)) return Pass(major);
      Text name(u"Windows ");
      name.Append(CharacterOf(major / 10));
      name.Append(CharacterOf(major % 10));
      name.Append(u'.');
      name.Append(CharacterOf(v.minor));
      return Refuse(major, static_cast<Text&&>(name));
    }
  }
}

uint32_t CheckWindowsVersion(const StubContext& context, const PackageHeader& header) {
  const WindowsVerdict verdict = JudgeWindowsVersion(context.platform, header);
  if (!verdict.pass) {
    ShowPackageMessage(context, header.unsupportedWindowsMessage, &verdict.name);
  }
  return verdict.majorVersion;
}

}  // namespace stub
