#include "gates/WindowsVersionGate.h"

#include "package/PackageMessage.h"

namespace stub {

namespace {

// The one UTF-16 unit 48 + n: a digit for 0..9, the units after '9' beyond.
char16_t CharacterOf(uint32_t n) { return static_cast<char16_t>(48 + n); }

// "Windows 11 " + "22H2 (2022 Update)": the family and the row's name and
// label, as the refusal names a known release.
Text ReleaseName(const char16_t* family, const WindowsRelease& row) {
  Text name(family);
  name.Append(row.name);
  name.Append(u" (");
  name.Append(row.label);
  name.Append(u')');
  return name;
}

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

// A release the table names: allowed by its code, refused by its name.
WindowsVerdict JudgeListed(const char16_t* family, const WindowsRelease& row, uint16_t minimum,
                           uint16_t maximum) {
  if (WithinRange(row.code, minimum, maximum)) return Pass(10);
  return Refuse(10, ReleaseName(family, row));
}

// A release the table does not name: only an open-ended range admits it, and
// a refusal names it by what Windows calls it.
WindowsVerdict JudgeUnlisted(const char16_t* family, const Text& release, uint16_t maximum) {
  if (maximum >= kOpenEndedRelease) return Pass(10);
  Text name(family);
  name.Append(release);
  return Refuse(10, static_cast<Text&&>(name));
}

WindowsVerdict JudgeWindows11(CurrentVersionKey& key, const PackageHeader& header, int32_t build) {
  if (!header.allowedWindows.Contains(kWin11)) return Refuse(10, Text(u"Windows 11"));
  const Text displayVersion = key.Read(u"DisplayVersion") ? key.AsText() : Text();
  for (const WindowsRelease& row : kWindows11Releases) {
    if (displayVersion == row.name || build <= static_cast<int32_t>(row.lastBuild)) {
      return JudgeListed(u"Windows 11 ", row, header.win11MinRelease, header.win11MaxRelease);
    }
  }
  return JudgeUnlisted(u"Windows 11 ", displayVersion, header.win11MaxRelease);
}

WindowsVerdict JudgeWindows10(CurrentVersionKey& key, const PackageHeader& header, int32_t build) {
  if (!header.allowedWindows.Contains(kWin10)) return Refuse(10, Text(u"Windows 10"));
  if (build >= kFirstDisplayVersionBuild) {
    const Text displayVersion = key.Read(u"DisplayVersion") ? key.AsText() : Text();
    for (const WindowsRelease& row : kWindows10Releases) {
      if (row.build >= kFirstDisplayVersionBuild && build == static_cast<int32_t>(row.build)) {
        return JudgeListed(u"Windows 10 ", row, header.win10MinRelease, header.win10MaxRelease);
      }
    }
    return JudgeUnlisted(u"Windows 10 ", displayVersion, header.win10MaxRelease);
  }
  if (!key.Read(u"ReleaseId")) return Pass(10);
  const int32_t releaseId = key.Number();
  const auto code = static_cast<uint16_t>(releaseId & 0xFFFF);
  if (WithinRange(code, header.win10MinRelease, header.win10MaxRelease)) return Pass(10);
  // Releases up to 2004 are named by their ReleaseId, which is their code.
  for (const WindowsRelease& row : kWindows10Releases) {
    if (row.build < kFirstDisplayVersionBuild && row.code == releaseId) {
      return Refuse(10, ReleaseName(u"Windows 10 ", row));
    }
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
      build >= kFirstWindows11Build ? JudgeWindows11(key, header, build) : JudgeWindows10(key, header, build);
  verdict.majorVersion = major;
  // A refusal ends the process with the key still open; every pass closes it.
  if (verdict.pass) key.Close();
  return verdict;
}

}  // namespace

const WindowsRelease kWindows10ReleaseRows[] = {
    {u"1507", u"Original Release", 1507, 10240, 10240},
    {u"1511", u"November Update", 1511, 10586, 10586},
    {u"1607", u"Anniversary Update", 1607, 14393, 14393},
    {u"1703", u"Creators Update", 1703, 15063, 15063},
    {u"1709", u"Fall Creators Update", 1709, 16299, 16299},
    {u"1803", u"April 2018 Update", 1803, 17134, 17134},
    {u"1809", u"October 2018 Update", 1809, 17763, 17763},
    {u"1903", u"May 2019 Update", 1903, 18362, 18362},
    {u"1909", u"November 2019 Update", 1909, 18363, 18363},
    {u"2004", u"May 2020 Update", 2004, 19041, 19041},
    {u"20H2", u"October 2020 Update", 2009, 19042, 19042},
    {u"21H1", u"May 2021 Update", 2105, 19043, 19043},
    {u"21H2", u"November 2021 Update", 2111, 19044, 19044},
    {u"22H2", u"2022 Update", 2210, 19045, 19045},
};

// 21H2 also takes the preview builds that came before 22H2 was named.
const WindowsRelease kWindows11ReleaseRows[] = {
    {u"21H2", u"Original Release", 2110, 22000, 22448},
    {u"22H2", u"2022 Update", 2209, 22621, 22621},
    {u"23H2", u"2023 Update", 2310, 22631, 22631},
    {u"24H2", u"2024 Update", 2410, 26100, 26100},
    {u"25H2", u"2025 Update", 2510, 26200, 26200},
};

const WindowsReleaseList kWindows10Releases{
    kWindows10ReleaseRows, sizeof kWindows10ReleaseRows / sizeof kWindows10ReleaseRows[0]};
const WindowsReleaseList kWindows11Releases{
    kWindows11ReleaseRows, sizeof kWindows11ReleaseRows / sizeof kWindows11ReleaseRows[0]};

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
    ShowPackageMessage(context, header.unsupportedWindowsMessage, &verdict.name,
                       EndReason::kUnsupportedWindows, LauncherText::kUnsupportedWindows);
  }
  return verdict.majorVersion;
}

}  // namespace stub
