#include "tests/fuzz/FuzzScenario.h"

#include <algorithm>

#include "tests/unit/LauncherTestSupport.h"

namespace stub::fuzz {

namespace {

// Index 0 of the release tables means "value absent".
const char16_t* const kDisplayVersions[16] = {
    nullptr, u"20H2", u"21H1", u"21H2", u"22H2", u"23H2", u"24H2", u"25H2",
    u"",     u"H2",   u"99H9", u"2",    u"21h2", u"%USER%", u" 22H2", u"24H2 extra",
};
const char16_t* const kReleaseIds[16] = {
    nullptr, u"1507", u"1511", u"1607", u"1703", u"1709", u"1803", u"1809",
    u"1903", u"1909", u"2004", u"2009", u"",     u"abc",  u"99999999999", u"%user%",
};

const char16_t* const kTempPaths[3] = {
    u"C:\\Users\\User\\AppData\\Local\\Temp\\",
    u"",
    u"C:\\Temp",
};

std::u16string LongPath(char16_t fill, size_t length) {
  std::u16string path = u"C:\\";
  while (path.size() < length) {
    path += std::u16string(40, fill);
    path += u'\\';
  }
  path += u"Setup.exe";
  return path;
}

std::u16string Folder(const std::u16string& path) {
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

std::u16string Name(const std::u16string& path) {
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

std::u16string WithTrailingBackslash(std::u16string folder) {
  if (folder.empty() || folder.back() != u'\\') folder += u'\\';
  return folder;
}

// The numbered name the launcher tries second: the digits go in front of the
// last four characters of the whole path.
std::u16string SecondName(const std::u16string& base) {
  if (base.size() < 4) return u"2" + base;
  return base.substr(0, base.size() - 4) + u"2" + base.substr(base.size() - 4);
}

void SetValue(MemoryPlatform& platform, const std::u16string& name, const std::u16string& text,
              bool noisy) {
  std::vector<uint8_t> bytes = test::Utf16Bytes(text, !noisy);
  // Registry data need not be proper text: no terminator, an odd byte count.
  if (noisy) bytes.push_back('7');
  platform.registry[name] = bytes;
}

}  // namespace

const char16_t* const kArgumentTokens[16] = {
    nullptr,        u"/32",      u"/temp",     u"/TEMP",  u"D:\\Work",
    u"\"D:\\My Temp\\\"",        u"/s",        u"/S",     u"/silent",
    u"/Silent",     u"\"\"",     u"/noadmin",  u"\"/temp\"", u"relative",
    u"x\"y z\"w",   u"/s\u0130lent",
};

const char16_t* const kModulePaths[8] = {
    u"C:\\Downloads\\Setup.exe",
    u"C:\\Downloads\\Install",
    u"\\\\server\\share\\Setup.exe",
    u"Z:\\Shared\\Setup.exe",
    u"Setup.exe",
    nullptr,  // longer than the 260 characters GetModuleFileNameW keeps
    u"C:\\My Downloads\\Set up.exe",
    u"C:\\Downloads\\",
};

Facts TypicalFacts() {
  Facts f;
  f.major = 10;
  f.minor = 0;
  f.flagsA = kAVersionOk | (2 << kAPlatformIdShift) | kAWow64 | kAKeyOpens | kAServicePackOk;
  f.flagsB = 0;
  f.year = 2026;
  f.month = 6;
  f.day = 1;
  f.currentBuild = 19045;
  f.releaseChoice = 4;  // DisplayVersion 22H2, no ReleaseId
  f.flagsC = kCCurrentBuildPresent;
  return f;
}

void EncodeFacts(const Facts& f, uint8_t (&b)[kFactsSize]) {
  b[0] = f.major;
  b[1] = f.minor;
  b[2] = f.flagsA;
  b[3] = f.flagsB;
  b[4] = static_cast<uint8_t>(f.year);
  b[5] = static_cast<uint8_t>(f.year >> 8);
  b[6] = f.month;
  b[7] = f.day;
  b[8] = static_cast<uint8_t>(f.currentBuild);
  b[9] = static_cast<uint8_t>(f.currentBuild >> 8);
  b[10] = f.releaseChoice;
  b[11] = f.flagsC;
  b[12] = f.arguments[0];
  b[13] = f.arguments[1];
  b[14] = f.shortWriteBytes;
  b[15] = f.servicePackMajor;
}

Facts DecodeFacts(const uint8_t* data, size_t size) {
  uint8_t b[kFactsSize] = {};
  std::copy(data, data + std::min(size, kFactsSize), b);
  Facts f;
  f.major = b[0];
  f.minor = b[1];
  f.flagsA = b[2];
  f.flagsB = b[3];
  f.year = static_cast<uint16_t>(b[4] | (b[5] << 8));
  f.month = b[6];
  f.day = b[7];
  f.currentBuild = static_cast<uint16_t>(b[8] | (b[9] << 8));
  f.releaseChoice = b[10];
  f.flagsC = b[11];
  f.arguments[0] = b[12];
  f.arguments[1] = b[13];
  f.shortWriteBytes = b[14];
  f.servicePackMajor = b[15];
  return f;
}

void ApplyFacts(const Facts& f, const uint8_t* package, size_t packageSize,
                MemoryPlatform& platform) {
  platform.packageBytes.assign(package, package + packageSize);

  const unsigned moduleChoice = (f.flagsC >> kCModulePathShift) & 7;
  const std::u16string modulePath =
      kModulePaths[moduleChoice] ? kModulePaths[moduleChoice] : LongPath(u'm', 300);
  platform.modulePath = modulePath;
  // The launcher sees only what GetModuleFileNameW kept.
  const std::u16string seenPath = modulePath.substr(0, 260);

  std::u16string commandLine = u"\"" + modulePath + u"\"";
  std::vector<std::u16string> tokens;
  for (int i = 0; i < 4; ++i) {
    const unsigned nibble = (f.arguments[i / 2] >> (4 * (i % 2))) & 0x0F;
    if (nibble == 0) break;
    tokens.push_back(kArgumentTokens[nibble]);
    commandLine += u" ";
    commandLine += kArgumentTokens[nibble];
  }
  platform.commandLine = commandLine;

  platform.version.ok = (f.flagsA & kAVersionOk) != 0;
  platform.version.major = f.major;
  platform.version.minor = f.minor;
  platform.version.platformId = (f.flagsA >> kAPlatformIdShift) & 3;
  platform.servicePack.ok = (f.flagsA & kAServicePackOk) != 0;
  platform.servicePack.servicePackMajor = f.servicePackMajor;
  platform.wow64 = (f.flagsA & kAWow64) != 0;
  platform.administrator = (f.flagsA & kAAdministrator) != 0;
  platform.keyOpens = (f.flagsA & kAKeyOpens) != 0;
  platform.startFails = (f.flagsA & kAStartFails) != 0;
  platform.today = LocalDate{f.year, f.month, f.day};

  const bool noisy = (f.flagsC & kCNoisyRegistry) != 0;
  if (f.flagsC & kCCurrentBuildPresent) {
    std::u16string digits;
    for (char c : std::to_string(f.currentBuild)) digits += static_cast<char16_t>(c);
    SetValue(platform, u"CurrentBuild", digits, noisy);
  }
  if (f.flagsC & kCCurrentBuildTooLong) {
    // More than the 128-byte buffer: the read fails as ERROR_MORE_DATA.
    platform.registry[u"CurrentBuild"] = std::vector<uint8_t>(130, '1');
  }
  if (const char16_t* v = kDisplayVersions[f.releaseChoice & 0x0F]) {
    SetValue(platform, u"DisplayVersion", v, noisy);
  }
  if (const char16_t* v = kReleaseIds[f.releaseChoice >> 4]) {
    SetValue(platform, u"ReleaseId", v, noisy);
  }

  const unsigned tempChoice = (f.flagsC >> kCTempPathShift) & 3;
  platform.tempPath = tempChoice < 3 ? kTempPaths[tempChoice] : LongPath(u't', 290);

  if (f.flagsB & kBOpenFails) platform.packageOpenFails = true;
  // A failed GetFileSize reports INVALID_FILE_SIZE, and the launcher goes on
  // with it.
  if (f.flagsB & kBSizeQueryFails) platform.reportedFileSize = 0xFFFFFFFFu;
  if (f.flagsB & kBShortWrite) platform.shortWrite = f.shortWriteBytes;
  if (f.flagsB & kBMappedDrive) {
    platform.universalNames[seenPath] = u"\\\\fileserver\\share\\" + Name(seenPath);
  }

  // The package itself lies in its folder, as it does when the user starts it.
  platform.files[seenPath] = platform.packageBytes;

  // Every folder the copy could go to gets the same obstacles.
  std::vector<std::u16string> folders = {
      WithTrailingBackslash(platform.tempPath.substr(0, 256)), u"C:\\", Folder(seenPath)};
  for (const std::u16string& token : tokens) {
    std::u16string unquoted;
    for (char16_t c : token) {
      if (c != u'"') unquoted += c;
    }
    folders.push_back(WithTrailingBackslash(unquoted));
  }
  const std::u16string name = Name(seenPath);
  for (const std::u16string& folder : folders) {
    const std::u16string base = folder + name;
    if (f.flagsB & kBPlainNameTaken) {
      if (!platform.files.count(base)) platform.files[base] = {'o', 'l', 'd', '1'};
    }
    if (f.flagsB & kBSecondNameTaken) {
      const std::u16string second = SecondName(base);
      // A folder of that name counts as taken too.
      if (!platform.files.count(second)) platform.folders.push_back(second);
    }
    if (f.flagsB & kBUncreatable) platform.uncreatable.push_back(base);
    if (f.flagsB & kBTakenAtCreation) platform.takenAtCreation.push_back(base);
  }
}

std::vector<Preexisting> PreexistingFiles(const MemoryPlatform& platform) {
  std::vector<Preexisting> list;
  for (const auto& [path, bytes] : platform.files) list.push_back({path, bytes});
  return list;
}

}  // namespace stub::fuzz
