// pkgtool: builds setup packages and answers questions about them using the
// launcher's own code.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "package/writer/PackageWriter.h"
#include "package/writer/PeResources.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/LauncherChecks.h"
#include "tools/pkgtool/PackageReport.h"
#include "tools/pkgtool/RecipeFile.h"
#include "tools/pkgtool/Simulation.h"
#include "tools/pkgtool/VendorOptions.h"

namespace pkgtool {
namespace {

using nlohmann::json;

constexpr int kExitUnsound = 1;
constexpr int kExitError = 2;
constexpr uint64_t kMessageFileLimit = 1 << 20;
constexpr uint64_t kProgressThreshold = 4 << 20;

const char kTestManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><assembly "
    "xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"/>";

const char kDefaultExpired[] =
    "This setup package has expired and can no longer be used.  Please obtain a current version "
    "from the vendor.";
const char kDefaultUnsupported[] = "This program cannot be installed on %USER%.";
const char kDefaultWrongWidthBoth[] =
    "This setup package does not contain a setup program for this version of Windows.";
const char kDefaultWrongWidth64Only[] = "This program requires a 64-bit version of Windows.";
const char kDefaultWrongWidthBarred[] = "This program cannot be installed on 64-bit Windows.";

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Stem(const std::string& path) {
  std::string name = BaseName(path);
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::vector<uint8_t> ReadPackage(const std::string& path) {
  // A package is read whole; anything beyond the launcher's 2 GiB cannot be
  // a package it would run.
  return ReadWholeFile(path, stub::writer::kMaxPackageSize, "the package");
}

stub::LocalDate Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {static_cast<uint16_t>(local.tm_year + 1900), static_cast<uint16_t>(local.tm_mon + 1),
          static_cast<uint16_t>(local.tm_mday)};
}

std::vector<std::u16string> ToArguments(const std::vector<std::string>& raw) {
  std::vector<std::u16string> out;
  for (const std::string& a : raw) {
    if (a.find('"') != std::string::npos) {
      throw ToolError("argument '" + a +
                      "': double quotes cannot be passed through the launcher's command line");
    }
    out.push_back(Utf8ToUtf16(a, "argument '" + a + "'"));
  }
  return out;
}

// ---------------------------------------------------------------- build ----

struct MessageOption {
  std::string text;
  std::string file;
  CLI::Option* textOption = nullptr;
  CLI::Option* fileOption = nullptr;
};

struct BuildOptions {
  std::string output, stub, x86, x64, trailingData;
  std::vector<std::string> windows;
  std::string win10 = "any", win11 = "any", expires, elevation = "standard", dictionary = "4M";
  bool no64 = false, detached = false, quiet = false;
  unsigned level = 6, lc = 3, lp = 0, pb = 2;
  MessageOption expired, wrongWidth, unsupported;
  // --- vendor resources and recipe (VendorOptions, RecipeFile) ---
  std::string icon, versionLanguage, recipe;
  std::vector<std::string> versionInfo;
};

std::u16string CheckedLength(std::u16string text, const std::string& source) {
  if (text.size() > stub::writer::kMaxMessageUnits) {
    throw ToolError(source + ": the message has " + std::to_string(text.size()) +
                    " UTF-16 units; a package holds at most 65535");
  }
  return text;
}

std::u16string MessageText(const MessageOption& m, const std::string& option,
                           const char* defaultText) {
  if (*m.fileOption) {
    std::vector<uint8_t> bytes = ReadWholeFile(m.file, kMessageFileLimit, "the message file");
    std::string text(bytes.begin(), bytes.end());
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    // Editors end files with a line break; a message box should not.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return CheckedLength(Utf8ToUtf16(text, m.file), m.file);
  }
  if (*m.textOption) return CheckedLength(Utf8ToUtf16(m.text, option), option);
  return Utf8ToUtf16(defaultText, option);
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

int RunBuild(const BuildOptions& o) {
  stub::writer::PackageRecipe recipe;
  if (o.output.empty()) throw ToolError("give -o FILE, or an output in the --recipe");
  // --- vendor resources: checked before anything is read or compressed ---
  const stub::writer::VendorResources vendor = ReadVendorOptions(o.icon, o.versionInfo, o.versionLanguage);
  const std::string stubPath = o.stub.empty() ? DefaultStubPath() : o.stub;
  recipe.stub = ReadWholeFile(stubPath, stub::writer::kMaxPackageSize, "the stub");
  if (auto problem = stub::writer::StubProblem(recipe.stub)) {
    throw ToolError(stubPath + ": not a launcher stub: " + *problem);
  }
  recipe.stub = StubWithVendorResources(recipe.stub, stubPath, vendor);
  if (o.x86.empty() && o.x64.empty()) throw ToolError("give --x86 FILE, --x64 FILE or both");
  // Stub and trailing data go in uncompressed: when they alone pass the
  // launcher's 2 GiB, nothing needs to be read or compressed to know it.
  if (!o.trailingData.empty()) {
    const uint64_t fixed = recipe.stub.size() + stub::kHeaderSize + RegularFileSize(o.trailingData);
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
  if (!o.x86.empty()) recipe.x86 = readProgram(o.x86);
  if (!o.x64.empty()) recipe.x64 = readProgram(o.x64);
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
  recipe.expiredMessage = MessageText(o.expired, "--expired-message", kDefaultExpired);
  recipe.wrongWidthMessage = MessageText(o.wrongWidth, "--wrong-width-message", wrongWidth);
  recipe.unsupportedWindowsMessage =
      MessageText(o.unsupported, "--unsupported-message", kDefaultUnsupported);
  if (!o.trailingData.empty()) {
    recipe.trailingData = ReadWholeFile(o.trailingData, stub::writer::kMaxPackageSize, "the trailing data");
  }

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

// ------------------------------------------------------- inspect, verify ----

int RunInspect(const std::string& path, bool asJson, bool asRecipe) {
  const std::vector<uint8_t> bytes = ReadPackage(path);
  const PackageCheck check = CheckPackage(bytes);
  // --- recipe of the package (RecipeFile) ---
  if (asRecipe) {
    if (!check.sound) {
      std::cerr << path << ": " << check.failedCheck << ": " << Utf16ToUtf8(check.verdict) << '\n';
      return kExitUnsound;
    }
    const RecipeFromPackage r = RecipeOfPackage(bytes, check.x86, check.x64, BaseName(path));
    for (const std::string& w : r.warnings) std::cerr << "pkgtool: warning: " << path << ": " << w << '\n';
    std::cout << r.recipe.dump(2) << '\n';
    return 0;
  }
  const json description = DescribePackage(path, bytes, check);
  if (asJson) {
    std::cout << description.dump(2) << '\n';
  } else {
    std::cout << RenderPackageText(description);
  }
  return check.sound ? 0 : kExitUnsound;
}

int RunVerify(const std::string& path, bool quiet) {
  const PackageCheck check = CheckPackage(ReadPackage(path));
  if (!check.sound) {
    std::cerr << path << ": " << check.failedCheck << ": " << Utf16ToUtf8(check.verdict) << '\n';
    return kExitUnsound;
  }
  if (!quiet) {
    std::cout << path << ": sound";
    if (check.x86) std::cout << "; x86 setup program " << check.x86->size() << " bytes";
    if (check.x64) std::cout << "; x64 setup program " << check.x64->size() << " bytes";
    std::cout << '\n';
  }
  return 0;
}

int RunExtract(const std::string& path, std::string x86, std::string x64, bool quiet) {
  const PackageCheck check = CheckPackage(ReadPackage(path));
  if (!check.sound) {
    throw ToolError(path + ": " + check.failedCheck + ": " + Utf16ToUtf8(check.verdict));
  }
  if (x86.empty() && x64.empty()) {
    if (check.x86) x86 = Stem(path) + ".x86.exe";
    if (check.x64) x64 = Stem(path) + ".x64.exe";
  }
  if (!x86.empty() && !check.x86) throw ToolError(path + ": the package has no x86 setup program");
  if (!x64.empty() && !check.x64) throw ToolError(path + ": the package has no x64 setup program");
  const std::pair<const std::string*, const std::optional<std::vector<uint8_t>>*> outputs[] = {
      {&x86, &check.x86}, {&x64, &check.x64}};
  for (const auto& [target, program] : outputs) {
    if (target->empty()) continue;
    WriteFileAtomically(*target, **program, 0777);
    if (!quiet) std::cout << "wrote " << *target << " (" << (*program)->size() << " bytes)\n";
  }
  return 0;
}

// ----------------------------------------------------- simulate, matrix ----

struct RunOptions {
  std::string date, path, temp = "C:\\Users\\User\\AppData\\Local\\Temp\\";
  bool admin = false, asJson = false;
  std::vector<std::string> arguments;
};

SimulationInput MakeInput(const std::string& packagePath, const RunOptions& o) {
  SimulationInput input;
  input.package = ReadPackage(packagePath);
  if (o.date.empty()) {
    input.today = Today();
  } else {
    try {
      input.today = ParseDate(o.date);
    } catch (const ToolError& e) {
      throw ToolError(std::string("--date: ") + e.what());
    }
  }
  input.administrator = o.admin;
  input.packagePath = Utf8ToUtf16(o.path.empty() ? "C:\\Downloads\\" + BaseName(packagePath) : o.path,
                                  "--path");
  input.tempPath = Utf8ToUtf16(o.temp, "--temp");
  input.arguments = ToArguments(o.arguments);
  return input;
}

json ResultJson(const SimulationInput& input, const SimulationResult& r) {
  json j = {{"windows", input.windows.key},
            {"label", input.windows.label},
            {"arch", input.x64 ? "x64" : "x86"},
            {"administrator", input.administrator},
            {"date", FormatDate(input.today.year, input.today.month, input.today.day)},
            {"commandLine", Utf16ToUtf8(r.commandLine)},
            {"summary", ShortOutcome(r)}};
  switch (r.ending) {
    case Ending::kRefused:
      j["outcome"] = "refused";
      j["refusal"] = r.refusal;
      j["box"] = Utf16ToUtf8(r.box);
      j["caption"] = Utf16ToUtf8(r.caption);
      if (!r.windowsName.empty()) j["windowsName"] = Utf16ToUtf8(r.windowsName);
      break;
    case Ending::kEndedWithoutStart:
      j["outcome"] = "ended";
      break;
    case Ending::kStarted:
      j["outcome"] = "started";
      j["program"] = r.program;
      j["copy"] = {{"path", Utf16ToUtf8(r.copyPath)}, {"size", r.copySize}};
      if (r.start.shell) {
        j["start"] = {{"mode", "shell"},
                      {"verb", Utf16ToUtf8(r.start.verb)},
                      {"file", Utf16ToUtf8(r.start.file)},
                      {"parameters", Utf16ToUtf8(r.start.parameters)},
                      {"appended", Utf16ToUtf8(r.appended)}};
      } else {
        j["start"] = {{"mode", "direct"},
                      {"commandLine", Utf16ToUtf8(r.start.commandLine)},
                      {"currentDirectory", Utf16ToUtf8(r.start.currentDirectory)}};
      }
      j["waits"] = r.waited;
      j["copyDeleted"] = r.copyDeleted;
      break;
  }
  return j;
}

void PrintResult(const json& j) {
  auto line = [](const std::string& label, const std::string& value) {
    std::cout << label << std::string(label.size() < 14 ? 14 - label.size() : 1, ' ') << value
              << '\n';
  };
  line("Windows", j["label"].get<std::string>() + ", " +
                      (j["arch"] == "x64" ? "64-bit" : "32-bit") + ", " +
                      (j["administrator"].get<bool>() ? "elevated" : "not elevated") + ", " +
                      j["date"].get<std::string>());
  line("Started as", j["commandLine"].get<std::string>());
  const std::string outcome = j["outcome"];
  if (outcome == "refused") {
    line("Outcome", "refused (" + j["refusal"].get<std::string>() + ")");
    line("Box", j["box"].get<std::string>());
    line("Caption", j["caption"].get<std::string>());
    return;
  }
  if (outcome == "ended") {
    line("Outcome", "ended without starting a setup program");
    return;
  }
  line("Outcome", "starts the " + j["program"].get<std::string>() + " setup program");
  line("Copy", j["copy"]["path"].get<std::string>() + " (" +
                   std::to_string(j["copy"]["size"].get<uint64_t>()) + " bytes)");
  const json& s = j["start"];
  if (s["mode"] == "shell") {
    line("Start", "through the shell, verb \"" + s["verb"].get<std::string>() + "\"");
    line("File", s["file"].get<std::string>());
    line("Parameters", s["parameters"].get<std::string>());
  } else {
    line("Start", "directly");
    line("Command line", s["commandLine"].get<std::string>());
    line("Folder", s["currentDirectory"].get<std::string>());
  }
  line("Afterwards", j["waits"].get<bool>()
                         ? (j["copyDeleted"].get<bool>() ? "waits for it, then deletes the copy"
                                                         : "waits for it; the copy stays")
                         : "returns at once (detached); the copy stays");
}

int RunSimulate(const std::string& packagePath, const std::string& windows, const std::string& arch,
                const RunOptions& o) {
  SimulationInput input = MakeInput(packagePath, o);
  input.windows = ParseWindowsScenario(windows);
  const std::string a = Lower(arch);
  if (a != "x86" && a != "x64") throw ToolError("--arch: '" + arch + "' is neither x86 nor x64");
  input.x64 = a == "x64";
  if (input.x64 && !input.windows.has64BitEdition) {
    throw ToolError("--arch x64: " + input.windows.label + " has no 64-bit edition");
  }
  const json j = ResultJson(input, Simulate(input));
  if (o.asJson) {
    std::cout << j.dump(2) << '\n';
  } else {
    PrintResult(j);
  }
  return 0;
}

int RunMatrix(const std::string& packagePath, const RunOptions& o) {
  SimulationInput input = MakeInput(packagePath, o);
  // Unpacked once here rather than once per cell.
  const PackageCheck check = CheckPackage(input.package);
  input.x86Program = check.x86;
  input.x64Program = check.x64;
  json rows = json::array();
  std::vector<std::array<std::string, 3>> table;
  for (const WindowsScenario& w : KnownScenarios()) {
    input.windows = w;
    json row = {{"windows", w.key}, {"label", w.label}};
    std::array<std::string, 3> cells = {w.label, "", ""};
    for (const bool x64 : {false, true}) {
      const char* arch = x64 ? "x64" : "x86";
      if (x64 && !w.has64BitEdition) {
        row[arch] = nullptr;
        cells[2] = "-";
        continue;
      }
      input.x64 = x64;
      const json result = ResultJson(input, Simulate(input));
      row[arch] = result;
      cells[x64 ? 2 : 1] = result["summary"];
    }
    rows.push_back(row);
    table.push_back(cells);
  }
  if (o.asJson) {
    std::cout << rows.dump(2) << '\n';
    return 0;
  }
  std::array<size_t, 3> width = {7, 14, 14};
  for (const auto& cells : table) {
    for (size_t i = 0; i < 3; ++i) width[i] = std::max(width[i], cells[i].size());
  }
  auto print = [&](const std::array<std::string, 3>& cells) {
    std::cout << cells[0] << std::string(width[0] - cells[0].size() + 2, ' ') << cells[1]
              << std::string(width[1] - cells[1].size() + 2, ' ') << cells[2] << '\n';
  };
  print({"Windows", "32-bit Windows", "64-bit Windows"});
  print({std::string(width[0], '-'), std::string(width[1], '-'), std::string(width[2], '-')});
  for (const auto& cells : table) print(cells);
  return 0;
}

// ----------------------------------------------------------------- main ----

int Main(int argc, char** argv) {
  CLI::App app{"pkgtool: builds self-contained setup packages (launcher stub + setup programs) "
               "and inspects, verifies, unpacks and simulates them with the launcher's own code."};
  app.require_subcommand(1);
  app.set_version_flag("--version", VersionText().substr(0, VersionText().size() - 1));
  app.footer("Exit codes: 0 done; 1 the package is not sound (verify, inspect); 2 bad input.");

  BuildOptions b;
  CLI::App* build = app.add_subcommand("build", "Write a package from a stub and setup programs.");
  build->add_option("-o,--output", b.output, "Package to write (replaced atomically); required unless the recipe names it");
  build->add_option("--stub", b.stub,
                    "Launcher stub (default: Stub32.exe beside the pkgtool executable, else "
                    "../share/setup-launcher/Stub32.exe from it)");
  build->add_option("--x86", b.x86, "32-bit setup program");
  build->add_option("--x64", b.x64, "64-bit setup program");
  build->add_option("--windows", b.windows,
                    "Allowed Windows versions, comma-separated: 95 98 me nt4 2000 xp vista 7 8 8.1 "
                    "10 11 other, or all (default: all)")
      ->delimiter(',');
  build->add_option("--win10", b.win10,
                    "Allowed Windows 10 releases MIN..MAX by name or code (1507..2004, 20H2, 21H1, "
                    "21H2, 22H2); an empty MAX is open-ended (default: any)");
  build->add_option("--win11", b.win11,
                    "Allowed Windows 11 releases MIN..MAX (21H2, 22H2, 23H2, 24H2, 25H2 or codes); "
                    "an empty MAX is open-ended (default: any)");
  build->add_option("--expires", b.expires,
                    "First day on which the package refuses to run, YYYY-MM-DD (default: never)");
  build->add_option("--elevation", b.elevation,
                    "How a shell start on Vista and later (launcher not elevated) elevates: "
                    "standard (0): silent runs get \"open\" without /noadmin; silent-runas (1): "
                    "silent runs get \"runas\"; always-noadmin (2): every run gets /noadmin. "
                    "Interactive runs always get \"open\" + /noadmin (default: standard)");
  build->add_flag("--no-64bit-windows", b.no64,
                  "Refuse 64-bit Windows (only for a package without --x64)");
  build->add_flag("--detached", b.detached,
                  "The launcher neither waits for the setup program nor deletes its copy");
  const std::pair<MessageOption*, std::string> messages[] = {
      {&b.expired, "expired"}, {&b.wrongWidth, "wrong-width"}, {&b.unsupported, "unsupported"}};
  const char* what[] = {"Text shown when the package has expired",
                        "Text shown when no setup program fits the processor width of Windows",
                        "Text shown on a Windows version the package does not allow; %USER% "
                        "receives the version's name"};
  for (size_t i = 0; i < 3; ++i) {
    MessageOption* m = messages[i].first;
    m->textOption = build->add_option("--" + messages[i].second + "-message", m->text, what[i]);
    m->fileOption = build->add_option("--" + messages[i].second + "-message-file", m->file,
                                      "The same, from a UTF-8 file");
    m->textOption->excludes(m->fileOption);
  }
  build->add_option("--trailing-data", b.trailingData,
                    "File appended after the messages, for the setup program (not checksummed)");
  build->add_option("--level", b.level, "LZMA preset 0-9 (default 6)")->check(CLI::Range(0, 9));
  build->add_option("--dict", b.dictionary, "LZMA dictionary size: bytes or 64K, 4M, 64M (default 4M)");
  build->add_option("--lc", b.lc, "LZMA literal context bits (default 3)")->check(CLI::Range(0, 4));
  build->add_option("--lp", b.lp, "LZMA literal position bits (default 0)")->check(CLI::Range(0, 4));
  build->add_option("--pb", b.pb, "LZMA position bits (default 2)")->check(CLI::Range(0, 4));
  build->add_flag("-q,--quiet", b.quiet, "No summary and no progress");
  // --- vendor resources and recipe (VendorOptions, RecipeFile) ---
  build->add_option("--icon", b.icon, "Icon file (.ico): every image becomes the package's main icon");
  build->add_option("--version-info", b.versionInfo,
                    "KEY=VALUE for the version information Explorer shows; repeatable. Keys: "
                    "ProductName, CompanyName, FileDescription, FileVersion, ProductVersion, "
                    "LegalCopyright, OriginalFilename, Comments. FileVersion and ProductVersion "
                    "are 1 to 4 dotted numbers up to 65535");
  build->add_option("--version-language", b.versionLanguage,
                    "Language of the version information, e.g. 0x0407 (default 0x0409, U.S. "
                    "English; code page 1200)");
  build->add_option("--recipe", b.recipe,
                    "JSON file with the build's options (see README); relative paths are taken "
                    "from its folder, and options on the command line win");

  std::string package;
  bool asJson = false, quiet = false;
  CLI::App* inspect = app.add_subcommand("inspect", "Show every field of a package and its integrity.");
  inspect->add_option("package", package, "Package file")->required();
  inspect->add_flag("--json", asJson, "Machine-readable output");
  bool asRecipe = false;
  inspect->add_flag("--recipe", asRecipe,
                    "Print the package's build recipe (JSON; file names become placeholders)");

  CLI::App* verify = app.add_subcommand(
      "verify", "Check the package as the launcher does before it looks at the computer: size, "
                "checksum, header, message texts, and both setup programs unpacking to exactly "
                "their sizes. Prints the launcher's own error text on failure.");
  verify->add_option("package", package, "Package file")->required();
  verify->add_flag("-q,--quiet", quiet, "Print nothing when the package is sound");

  std::string x86Out, x64Out;
  CLI::App* extract = app.add_subcommand(
      "extract", "Write the setup programs as the launcher unpacks them (default: NAME.x86.exe "
                 "and NAME.x64.exe in the current folder).");
  extract->add_option("package", package, "Package file")->required();
  extract->add_option("--x86", x86Out, "Where to write the x86 setup program");
  extract->add_option("--x64", x64Out, "Where to write the x64 setup program");
  extract->add_flag("-q,--quiet", quiet, "Print nothing");

  RunOptions run;
  std::string windows = "11", arch = "x64";
  auto addRunOptions = [&](CLI::App* sub) {
    sub->add_option("package", package, "Package file")->required();
    sub->add_option("--date", run.date, "Local date on that computer, YYYY-MM-DD (default: today)");
    sub->add_flag("--admin", run.admin, "The launcher runs elevated");
    sub->add_option("--path", run.path,
                    "Where the package lies on that computer (default: C:\\Downloads\\NAME)");
    sub->add_option("--temp", run.temp, "The user's temporary folder (default: " + run.temp + ")");
    sub->add_flag("--json", run.asJson, "Machine-readable output");
    sub->add_option("arguments", run.arguments, "Arguments given to the package, after --");
  };
  CLI::App* simulate = app.add_subcommand(
      "simulate", "Run the launcher's main sequence on a stated computer and show what it does.");
  addRunOptions(simulate);
  simulate->add_option("--windows", windows,
                       "Windows version: 95, 98, me, nt4, 2000 [sp0-sp4], xp, vista, 7, 8, 8.1, "
                       "10 [RELEASE|BUILD], 11 [RELEASE|BUILD [DISPLAYVERSION]] (default: 11, "
                       "its latest release)");
  simulate->add_option("--arch", arch, "x86 or x64 Windows (default: x64)");
  CLI::App* matrix = app.add_subcommand(
      "matrix", "Simulate every Windows version and release the launcher knows, on 32-bit and "
                "64-bit Windows.");
  addRunOptions(matrix);

  std::string stubOut;
  CLI::App* makeStub = app.add_subcommand("make-test-stub", "");  // tests only, hidden
  makeStub->group("");
  makeStub->add_option("output", stubOut)->required();
  bool peStub = false;  // a real PE image with a manifest (VendorOptions tests)
  makeStub->add_flag("--pe", peStub);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "pkgtool: " << e.what() << '\n';
    return kExitError;
  }

  try {
    if (*build) {
      // --- recipe (RecipeFile): fills what the command line left unset ---
      if (!b.recipe.empty()) ApplyRecipe(*build, RecipeOptions(LoadRecipe(b.recipe), b.recipe), b.recipe);
      return RunBuild(b);
    }
    if (*inspect) return RunInspect(package, asJson, asRecipe);
    if (*verify) return RunVerify(package, quiet);
    if (*extract) return RunExtract(package, x86Out, x64Out, quiet);
    if (*simulate) return RunSimulate(package, windows, arch, run);
    if (*matrix) return RunMatrix(package, run);
    if (*makeStub) {
      WriteFileAtomically(stubOut, peStub ? stub::pe::MinimalPeImage(kTestManifest)
                                          : stub::writer::MinimalStubImage());
      return 0;
    }
  } catch (const ToolError& e) {
    std::cerr << "pkgtool: " << e.what() << '\n';
    return kExitError;
  } catch (const std::bad_alloc&) {
    std::cerr << "pkgtool: out of memory\n";
    return kExitError;
  }
  return kExitError;
}

}  // namespace
}  // namespace pkgtool

int main(int argc, char** argv) { return pkgtool::Main(argc, argv); }
