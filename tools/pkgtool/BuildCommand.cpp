#include "tools/pkgtool/BuildCommand.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <tuple>

#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"

namespace pkgtool {

namespace {

constexpr uint64_t kMessageFileLimit = 1 << 20;
constexpr uint64_t kProgressThreshold = 4 << 20;

const char kDefaultExpired[] =
    "This setup package has expired and can no longer be used.  Please obtain a current version "
    "from the vendor.";
const char kDefaultUnsupported[] = "This program cannot be installed on %USER%.";
const char kDefaultWrongWidthBoth[] =
    "This setup package does not contain a setup program for this version of Windows.";
const char kDefaultWrongWidth64Only[] = "This program requires a 64-bit version of Windows.";
const char kDefaultWrongWidthBarred[] = "This program cannot be installed on 64-bit Windows.";

std::u16string CheckedLength(std::u16string text, const std::string& source) {
  if (text.size() > stub::writer::kMaxMessageUnits) {
    throw ToolError(source + ": the message has " + std::to_string(text.size()) +
                    " UTF-16 units; a package holds at most 65535");
  }
  return text;
}

std::u16string MessageText(const MessageOption& m, const std::optional<std::string>& fileText,
                           const std::string& option, const char* defaultText) {
  if (m.fileGiven && fileText) {
    std::string text = *fileText;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    // Editors end files with a line break; a message box should not.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return CheckedLength(Utf8ToUtf16(text, m.file), m.file);
  }
  if (m.textGiven) return CheckedLength(Utf8ToUtf16(m.text, option), option);
  return Utf8ToUtf16(defaultText, option);
}

std::optional<std::string> ReadMessageFile(const MessageOption& m) {
  if (!m.fileGiven) return std::nullopt;
  const std::vector<uint8_t> bytes = ReadWholeFile(m.file, kMessageFileLimit, "the message file");
  return std::string(bytes.begin(), bytes.end());
}

class Progress {
 public:
  explicit Progress(bool enabled) : enabled_(enabled) {}
  ~Progress() {
    if (shown_) std::fprintf(stderr, "\r%*s\r", 60, "");
  }
  void operator()(uint64_t consumed, uint64_t total) {
    if (!enabled_ || total == 0) return;
    const int percent = static_cast<int>(consumed * 100 / total);
    if (percent == last_) return;
    last_ = percent;
    shown_ = true;
    std::fprintf(stderr, "\rcompressing: %3d%% of %.1f MiB", percent, total / 1048576.0);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  bool shown_ = false;
  int last_ = -1;
};

}  // namespace

BuildFiles ReadBuildFiles(const BuildOptions& o) {
  BuildFiles files;
  const std::string stubPath = o.stub.empty() ? ExecutableFolder() + "/Stub32.exe" : o.stub;
  if (o.stub.empty() && ::access(stubPath.c_str(), F_OK) != 0) {
    throw ToolError("no --stub given and " + stubPath + " does not exist");
  }
  files.stub = ReadWholeFile(stubPath, stub::writer::kMaxPackageSize, "the stub");
  if (auto problem = stub::writer::StubProblem(files.stub)) {
    throw ToolError(stubPath + ": not a launcher stub: " + *problem);
  }
  if (o.x86.empty() && o.x64.empty()) throw ToolError("give --x86 FILE, --x64 FILE or both");
  // Stub and trailing data go in uncompressed: when they alone pass the
  // launcher's 2 GiB, nothing needs to be read or compressed to know it.
  if (!o.trailingData.empty()) {
    const uint64_t fixed = files.stub.size() + stub::kHeaderSize + RegularFileSize(o.trailingData);
    if (fixed > stub::writer::kMaxPackageSize) {
      throw ToolError(o.output + ": the package would be at least " + std::to_string(fixed) +
                      " bytes; the launcher reads packages below 2 GiB");
    }
  }
  auto readProgram = [](const std::string& path) {
    std::vector<uint8_t> bytes = ReadWholeFile(path, stub::kMaxPayloadSize, "the setup program");
    if (bytes.empty()) throw ToolError(path + ": the setup program is empty");
    return bytes;
  };
  if (!o.x86.empty()) files.x86 = readProgram(o.x86);
  if (!o.x64.empty()) files.x64 = readProgram(o.x64);
  files.expiredMessage = ReadMessageFile(o.expired);
  files.wrongWidthMessage = ReadMessageFile(o.wrongWidth);
  files.unsupportedMessage = ReadMessageFile(o.unsupported);
  if (!o.trailingData.empty()) {
    files.trailingData =
        ReadWholeFile(o.trailingData, stub::writer::kMaxPackageSize, "the trailing data");
  }
  return files;
}

stub::writer::PackageRecipe MakeRecipe(const BuildOptions& o, BuildFiles files) {
  stub::writer::PackageRecipe recipe;
  recipe.stub = std::move(files.stub);
  recipe.x86 = std::move(files.x86);
  recipe.x64 = std::move(files.x64);
  if (!recipe.x86 && !recipe.x64) throw ToolError("give --x86 FILE, --x64 FILE or both");
  if (o.no64 && recipe.x64) {
    throw ToolError("--no-64bit-windows bars a 32-bit-only package from 64-bit Windows; it "
                    "cannot be combined with --x64");
  }
  recipe.barFrom64Bit = o.no64;
  if (!o.windows.empty()) recipe.allowedWindows = ParseWindowsList(o.windows);
  std::tie(recipe.win10Min, recipe.win10Max) = ParseReleaseRange(Family::kWin10, o.win10);
  std::tie(recipe.win11Min, recipe.win11Max) = ParseReleaseRange(Family::kWin11, o.win11);
  if (!o.expires.empty() && Lower(o.expires) != "never") {
    try {
      const stub::LocalDate date = ParseDate(o.expires);
      recipe.expiryYear = date.year;
      recipe.expiryMonth = date.month;
      recipe.expiryDay = date.day;
    } catch (const ToolError& e) {
      throw ToolError(std::string("--expires: ") + e.what());
    }
  }
  recipe.elevationMode = ParseElevation(o.elevation);
  recipe.detached = o.detached;

  const char* wrongWidth = !recipe.x86 ? kDefaultWrongWidth64Only
                           : recipe.barFrom64Bit ? kDefaultWrongWidthBarred
                                                 : kDefaultWrongWidthBoth;
  recipe.expiredMessage =
      MessageText(o.expired, files.expiredMessage, "--expired-message", kDefaultExpired);
  recipe.wrongWidthMessage =
      MessageText(o.wrongWidth, files.wrongWidthMessage, "--wrong-width-message", wrongWidth);
  recipe.unsupportedWindowsMessage = MessageText(o.unsupported, files.unsupportedMessage,
                                                 "--unsupported-message", kDefaultUnsupported);
  if (files.trailingData) recipe.trailingData = std::move(*files.trailingData);

  recipe.lzmaLevel = o.level;
  uint64_t dictionary = 0;
  try {
    dictionary = ParseSize(o.dictionary);
  } catch (const ToolError& e) {
    throw ToolError(std::string("--dict: ") + e.what());
  }
  if (dictionary < 4096 || dictionary > (3ull << 29)) {
    throw ToolError("--dict: " + o.dictionary + " is outside 4K..1536M");
  }
  recipe.dictionarySize = static_cast<uint32_t>(dictionary);
  if (o.lc + o.lp > 4) throw ToolError("--lc plus --lp must not exceed 4 (liblzma's LZMA1 limit)");
  recipe.lc = static_cast<uint8_t>(o.lc);
  recipe.lp = static_cast<uint8_t>(o.lp);
  recipe.pb = static_cast<uint8_t>(o.pb);
  return recipe;
}

int RunBuild(const BuildOptions& o) {
  stub::writer::PackageRecipe recipe = MakeRecipe(o, ReadBuildFiles(o));
  const uint64_t total = (recipe.x86 ? recipe.x86->size() : 0) + (recipe.x64 ? recipe.x64->size() : 0);
  stub::writer::BuiltPackage package;
  {
    Progress progress(!o.quiet && ::isatty(2) && total >= kProgressThreshold);
    recipe.progress = [&](uint64_t consumed, uint64_t all) { progress(consumed, all); };
    try {
      package = stub::writer::BuildPackage(recipe);
    } catch (const stub::writer::WriterError& e) {
      throw ToolError(o.output + ": " + e.what());
    }
  }
  WriteFileAtomically(o.output, package.bytes, 0777);
  if (!o.quiet) {
    std::cout << "wrote " << o.output << " (" << package.bytes.size() << " bytes)\n";
    const std::pair<const char*, stub::PayloadDescriptor> payloads[] = {
        {"x86", package.header.payload32}, {"x64", package.header.payload64}};
    for (const auto& [name, d] : payloads) {
      if (d.offset == 0 || d.offset == stub::kBarredFrom64Bit) continue;
      std::printf("  %s setup program: %u bytes packed to %u (%.1f%%)\n", name, d.unpackedSize,
                  d.packedSize, 100.0 * d.packedSize / d.unpackedSize);
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace pkgtool
