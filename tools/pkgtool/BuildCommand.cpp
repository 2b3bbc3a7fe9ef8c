#include "tools/pkgtool/BuildCommand.h"

#include <cstdio>
#include <iostream>
#include <tuple>

#include "authoring/PeResources.h"
#include "authoring/ProgramFacts.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/PeFacts.h"
#include "tools/pkgtool/Progress.h"
#include "tools/pkgtool/SignCommand.h"
#include "tools/pkgtool/VendorOptions.h"
#include "tools/pkgtool/VendorText.h"

namespace pkgtool {

namespace {

constexpr uint64_t kMessageFileLimit = 1 << 20;

const char kDefaultExpired[] =
    "This setup package has expired and can no longer be used.  Please obtain a current version "
    "from the vendor.";
const char kDefaultUnsupported[] = "This program cannot be installed on %USER%.";
const char kDefaultWrongWidthBoth[] =
    "This setup package does not contain a setup program for this version of Windows.";
const char kDefaultWrongWidth64Only[] = "This program requires a 64-bit version of Windows.";
const char kDefaultWrongWidthBarred[] = "This program cannot be installed on 64-bit Windows.";

std::u16string Checked(std::u16string text, const std::string& source, std::vector<std::string>* warnings) {
  if (text.size() > stub::writer::kMaxMessageUnits) {
    throw ToolError(source + ": the message has " + std::to_string(text.size()) +
                    " UTF-16 units; a package holds at most 65535");
  }
  CheckVendorText(text, source, warnings);
  return text;
}

std::u16string MessageText(const BuildOptions& o, const MessageOption& m,
                           const std::optional<std::string>& fileText, const std::string& option,
                           const char* defaultText, std::vector<std::string>* warnings) {
  if (m.fileGiven && fileText) {
    std::string text = *fileText;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    // Editors end files with a line break; a message box should not.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::string fileOption = option + "-file";
    const std::string source =
        WithSource(o.FromRecipe(fileOption) ? o.Source(fileOption) : "", m.file);
    return Checked(Utf8ToUtf16(text, source), source, warnings);
  }
  if (m.textGiven) return Checked(Utf8ToUtf16(m.text, o.Source(option)), o.Source(option), warnings);
  return Utf8ToUtf16(defaultText, option);
}

std::optional<std::string> ReadMessageFile(const BuildOptions& o, const MessageOption& m,
                                           const std::string& option) {
  if (!m.fileGiven) return std::nullopt;
  const std::vector<uint8_t> bytes =
      ReadWholeFile(m.file, kMessageFileLimit, "the message file", o.Source(option));
  return std::string(bytes.begin(), bytes.end());
}

// Runs `parse`; a ToolError from it is told again with the option's source
// in front (the recipe field, when the value came from a recipe).
template <typename Parse>
auto FromOption(const BuildOptions& o, const std::string& option, Parse&& parse) {
  try {
    return parse();
  } catch (const ToolError& e) {
    std::string message = e.what();
    if (message.rfind(option + ": ", 0) == 0) message.erase(0, option.size() + 2);
    throw ToolError(WithSource(o.Source(option), message), e.exitCode());
  }
}

// Windows on Arm runs a package's x86 or x64 program emulated; an Arm64 one
// the launcher never chooses.
std::string ArmNote(const ProgramImage& image) {
  return IsArm64(image) ? "; the launcher has no slot for Arm64 programs (Windows on Arm runs the "
                          "x86 or x64 one)"
                        : "";
}

// The refusal of a setup program that Windows cannot start from its slot.
void CheckSlot(const BuildOptions& o, const std::vector<uint8_t>& program, bool x64) {
  const ProgramImage image = DescribeImage(program);
  if (o.allowAnyProgram || FitsSlot(image, x64)) return;
  const std::string option = x64 ? "--x64" : "--x86";
  const std::string path = x64 ? o.x64 : o.x86;
  const std::string slot = x64 ? "x64" : "x86";
  throw ToolError(WithSource(o.Source(option), (path.empty() ? "" : path + ": ") +
                                                   image.description + " given as " +
                                                   (o.FromRecipe(option) ? slot : option) +
                                                   "; the " + slot + " slot takes " +
                                                   SlotNeeds(x64) + ArmNote(image) +
                                                   " (--allow-any-program builds it all the same)"),
                  kExitRefused);
}

// Every package's settings carry the digest of its data and what its setup
// programs ask of Windows, beside whatever the vendor chose (a resource with
// nothing else where the vendor chose nothing). The digest is known only once
// the data are written: the stub first takes a placeholder of the same size,
// then BuildPackage hands it the digest. A stand-in stub without the PE
// layout that resources need (pkgtool's own tests use one) gets no settings
// unless the vendor asks for some, as before.
void RecordLauncherFacts(BuildFiles& files, stub::writer::PackageRecipe& recipe) {
  if (!files.vendor.launcher && !stub::pe::ResourceLayoutProblem(files.stub).empty()) return;
  stub::writer::LauncherSettingsChoice& settings =
      files.vendor.launcher ? *files.vendor.launcher : files.vendor.launcher.emplace();
  settings.programs.emplace();
  if (recipe.x86) (*settings.programs)[0] = stub::writer::ReadProgramFacts(*recipe.x86);
  if (recipe.x64) (*settings.programs)[1] = stub::writer::ReadProgramFacts(*recipe.x64);
  settings.packageDigest.emplace();
  recipe.stubWithDigest = [image = files.stub, path = files.stubPath,
                            vendor = files.vendor](const stub::writer::PackageDigest& digest) mutable {
    vendor.launcher->packageDigest = digest;
    return StubWithVendorResources(image, path, vendor);
  };
}

bool Before(const stub::LocalDate& a, const stub::LocalDate& b) {
  return std::tie(a.year, a.month, a.day) < std::tie(b.year, b.month, b.day);
}

}  // namespace

std::string BuildOptions::Source(const std::string& option) const {
  const auto it = sources.find(option);
  if (it != sources.end()) return it->second;
  return option == "--output" ? "-o" : option;
}

std::vector<NamedPath> BuildInputs(const BuildOptions& o) {
  std::vector<NamedPath> inputs = {
      o.stub.empty() ? NamedPath{DefaultStubPath(), "the stub"} : NamedPath{o.stub, o.Source("--stub")},
      {o.x86, o.Source("--x86")},
      {o.x64, o.Source("--x64")},
      {o.icon, o.Source("--icon")},
      {o.trailingData, o.Source("--trailing-data")},
      {o.recipe, "--recipe"}};
  const std::pair<const MessageOption*, std::string> messages[] = {
      {&o.expired, "--expired-message-file"},
      {&o.wrongWidth, "--wrong-width-message-file"},
      {&o.unsupported, "--unsupported-message-file"}};
  for (const auto& [m, option] : messages) {
    if (m->fileGiven) inputs.push_back({m->file, o.Source(option)});
  }
  return inputs;
}

BuildFiles ReadBuildFiles(const BuildOptions& o) {
  BuildFiles files;
  files.vendor = ReadVendorOptions(o.icon, o.versionInfo, o.versionLanguage, o.Source("--icon"),
                                   o.Source("--version-language"));
  files.stubPath = o.stub.empty() ? DefaultStubPath() : o.stub;
  const std::string stubSource = o.stub.empty() ? "" : o.Source("--stub");
  files.stub = ReadWholeFile(files.stubPath, stub::writer::kMaxPackageSize, "the stub", stubSource);
  if (auto problem = stub::writer::StubProblem(files.stub)) {
    throw ToolError(WithSource(stubSource, files.stubPath + ": not a launcher stub: " + *problem));
  }
  if (o.x86.empty() && o.x64.empty()) throw ToolError("give --x86 FILE, --x64 FILE or both");
  // Stub and trailing data go in uncompressed: when they alone pass the
  // launcher's 2 GiB, nothing needs to be read or compressed to know it.
  if (!o.trailingData.empty()) {
    const uint64_t fixed = files.stub.size() + stub::kHeaderSize +
                           RegularFileSize(o.trailingData, o.Source("--trailing-data"));
    if (fixed > stub::writer::kMaxPackageSize) {
      throw ToolError(o.output + ": the package would be at least " + std::to_string(fixed) +
                      " bytes; the launcher reads packages below 2 GiB");
    }
  }
  auto readProgram = [&](const std::string& path, const std::string& option) {
    std::vector<uint8_t> bytes =
        ReadWholeFile(path, stub::kMaxPayloadSize, "the setup program", o.Source(option));
    if (bytes.empty()) {
      throw ToolError(WithSource(o.Source(option), path + ": the setup program is empty"));
    }
    return bytes;
  };
  if (!o.x86.empty()) files.x86 = readProgram(o.x86, "--x86");
  if (!o.x64.empty()) files.x64 = readProgram(o.x64, "--x64");
  files.expiredMessage = ReadMessageFile(o, o.expired, "--expired-message-file");
  files.wrongWidthMessage = ReadMessageFile(o, o.wrongWidth, "--wrong-width-message-file");
  files.unsupportedMessage = ReadMessageFile(o, o.unsupported, "--unsupported-message-file");
  if (!o.trailingData.empty()) {
    files.trailingData = ReadWholeFile(o.trailingData, stub::writer::kMaxPackageSize,
                                       "the trailing data", o.Source("--trailing-data"));
  }
  return files;
}

stub::writer::PackageRecipe MakeRecipe(const BuildOptions& o, BuildFiles files,
                                       std::vector<std::string>* warnings) {
  stub::writer::PackageRecipe recipe;
  recipe.x86 = std::move(files.x86);
  recipe.x64 = std::move(files.x64);
  if (!recipe.x86 && !recipe.x64) throw ToolError("give --x86 FILE, --x64 FILE or both");
  if (o.no64 && recipe.x64) {
    throw ToolError("--no-64bit-windows bars a 32-bit-only package from 64-bit Windows; it "
                    "cannot be combined with --x64");
  }
  recipe.barFrom64Bit = o.no64;
  if (!o.windows.empty()) {
    recipe.allowedWindows = FromOption(o, "--windows", [&] { return ParseWindowsList(o.windows); });
  }
  std::tie(recipe.win10Min, recipe.win10Max) =
      FromOption(o, "--win10", [&] { return ParseReleaseRange(Family::kWin10, o.win10); });
  std::tie(recipe.win11Min, recipe.win11Max) =
      FromOption(o, "--win11", [&] { return ParseReleaseRange(Family::kWin11, o.win11); });
  if (!o.expires.empty() && Lower(o.expires) != "never") {
    const stub::LocalDate date = FromOption(o, "--expires", [&] { return ParseDate(o.expires); });
    if (o.today.year != 0 && !o.allowExpired && !Before(o.today, date)) {
      const std::string day = FormatDate(date.year, date.month, date.day);
      const bool isToday = !Before(date, o.today);
      throw ToolError(WithSource(o.Source("--expires"),
                                 day + (isToday ? " is today" : " has passed") +
                                     ": the package would refuse to run from the start "
                                     "(--allow-expired builds it all the same)"),
                      kExitRefused);
    }
    recipe.expiryYear = date.year;
    recipe.expiryMonth = date.month;
    recipe.expiryDay = date.day;
  }
  recipe.elevationMode = FromOption(o, "--elevation", [&] { return ParseElevation(o.elevation); });
  recipe.detached = o.detached;
  LauncherOptions launcher = o.launcher;
  launcher.detached = o.detached;
  files.vendor.launcher = MakeLauncherSettings(
      launcher, [&](const std::string& option) { return o.Source(option); }, warnings);
  RecordLauncherFacts(files, recipe);
  recipe.stub = StubWithVendorResources(files.stub, files.stubPath, files.vendor);
  if (recipe.x86) CheckSlot(o, *recipe.x86, false);
  if (recipe.x64) CheckSlot(o, *recipe.x64, true);

  const char* wrongWidth = !recipe.x86 ? kDefaultWrongWidth64Only
                           : recipe.barFrom64Bit ? kDefaultWrongWidthBarred
                                                 : kDefaultWrongWidthBoth;
  recipe.expiredMessage =
      MessageText(o, o.expired, files.expiredMessage, "--expired-message", kDefaultExpired, warnings);
  recipe.wrongWidthMessage =
      MessageText(o, o.wrongWidth, files.wrongWidthMessage, "--wrong-width-message", wrongWidth, warnings);
  recipe.unsupportedWindowsMessage = MessageText(o, o.unsupported, files.unsupportedMessage,
                                                 "--unsupported-message", kDefaultUnsupported, warnings);
  if (files.trailingData) recipe.trailingData = std::move(*files.trailingData);

  recipe.lzmaLevel = o.level;
  const uint64_t dictionary = FromOption(o, "--dict", [&] {
    const uint64_t size = ParseSize(o.dictionary);
    if (size < 4096 || size > (3ull << 29)) throw ToolError(o.dictionary + " is outside 4K..1536M");
    return size;
  });
  recipe.dictionarySize = static_cast<uint32_t>(dictionary);
  if (o.lc + o.lp > 4) {
    throw ToolError(WithSource(o.FromRecipe("--lc") || o.FromRecipe("--lp") ? o.recipe : "",
                               "--lc plus --lp must not exceed 4 (liblzma's LZMA1 limit)"));
  }
  recipe.lc = static_cast<uint8_t>(o.lc);
  recipe.lp = static_cast<uint8_t>(o.lp);
  recipe.pb = static_cast<uint8_t>(o.pb);
  return recipe;
}

int RunBuild(const BuildOptions& options) {
  if (options.output.empty()) throw ToolError("give -o FILE, or an output in the --recipe");
  BuildOptions o = options;
  o.today = LocalToday();
  // Before anything is read or compressed: a run that cannot write its
  // output, or would write over one of its inputs, stops here.
  CheckOutput({o.output, o.Source("--output")}, BuildInputs(o), o.FromRecipe("--output"));
  std::optional<SignTemplate> sign;
  if (!o.signCommand.empty()) sign = ParseSignTemplate(o.signCommand, o.Source("--sign-command"));
  std::vector<std::string> warnings;
  stub::writer::PackageRecipe recipe = MakeRecipe(o, ReadBuildFiles(o), &warnings);
  for (const std::string& w : warnings) std::cerr << "pkgtool: warning: " << w << '\n';
  // Signed copies go into the package; the vendor's own files stay as they
  // are, and the scratch folder goes whatever happens.
  std::optional<ScratchFolder> scratch;
  if (sign) {
    scratch.emplace();
    if (recipe.x86) {
      recipe.x86 = SignCopy(*sign, o.Source("--sign-command"), *scratch, "x86/" + Utf8Of(PathOf(o.x86).filename()),
                            *recipe.x86, "the x86 setup program");
    }
    if (recipe.x64) {
      recipe.x64 = SignCopy(*sign, o.Source("--sign-command"), *scratch, "x64/" + Utf8Of(PathOf(o.x64).filename()),
                            *recipe.x64, "the x64 setup program");
    }
  }
  CheckProgramSignatures(o, recipe);
  const uint64_t total = (recipe.x86 ? recipe.x86->size() : 0) + (recipe.x64 ? recipe.x64->size() : 0);
  stub::writer::BuiltPackage package;
  {
    ProgressMeter progress("compressing", total, ProgressUnit::kBytes, ChooseProgressStyle(o.quiet));
    recipe.progress = [&](uint64_t consumed, uint64_t) { progress.Update(consumed); };
    try {
      package = stub::writer::BuildPackage(recipe);
    } catch (const stub::writer::WriterError& e) {
      throw ToolError(o.output + ": " + e.what());
    }
  }
  if (sign) {
    package.bytes = SignCopy(*sign, o.Source("--sign-command"), *scratch,
                             "package/" + Utf8Of(PathOf(o.output).filename()), package.bytes, "the package");
  }
  WriteFileAtomically(o.output, package.bytes, 0777);
  if (!o.quiet) {
    std::cout << "wrote " << o.output << " (" << package.bytes.size() << " bytes"
              << (sign ? "; it and its setup programs signed" : "") << ")\n";
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
