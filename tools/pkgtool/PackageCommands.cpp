#include "tools/pkgtool/PackageCommands.h"

#include "authoring/LauncherResource.h"

#include <array>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "authoring/PackageWriter.h"
#include "tools/pkgtool/Authenticode.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/LauncherChecks.h"
#include "tools/pkgtool/PackageReport.h"
#include "tools/pkgtool/PeFacts.h"
#include "tools/pkgtool/Progress.h"
#include "tools/pkgtool/RecipeFile.h"
#include "tools/pkgtool/Simulation.h"
#include "tools/pkgtool/SimulationReport.h"

namespace pkgtool {

namespace {

using nlohmann::json;

std::string BaseName(const std::string& path) {
  return Utf8Of(PathOf(path).filename());
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

// A file that carries no package says so in one line, rather than as a
// report of fields that mean nothing.
void RefuseNonPackage(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::string problem = NotAPackage(bytes);
  if (!problem.empty()) throw ToolError(path + ": " + problem, kExitRefused);
}

// The launcher's checks, with progress when they take a while.
PackageCheck Checked(const std::vector<uint8_t>& bytes, bool quiet) {
  ProgressMeter progress("checking", bytes.size(), ProgressUnit::kBytes, ChooseProgressStyle(quiet));
  return CheckPackage(bytes, [&](uint64_t done, uint64_t total) {
    progress.SetTotal(total);
    progress.Update(done);
  });
}

std::string Unsound(const std::string& path, const PackageCheck& check) {
  return path + ": " + check.failedCheck + ": " + Utf16ToUtf8(check.verdict);
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

SimulationInput MakeInput(const std::string& packagePath, const RunOptions& o) {
  SimulationInput input;
  input.package = ReadPackage(packagePath);
  RefuseNonPackage(packagePath, input.package);
  if (o.date.empty()) {
    input.today = LocalToday();
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
  input.languages = ParseLanguageList(o.language);
  input.arguments = ToArguments(o.arguments);
  // Unpacked once here, with progress, rather than inside every run.
  input.check = std::make_shared<const PackageCheck>(Checked(input.package, o.quiet));
  return input;
}

}  // namespace

int RunInspect(const std::string& path, bool asJson, bool asRecipe, bool quiet) {
  const std::vector<uint8_t> bytes = ReadPackage(path);
  RefuseNonPackage(path, bytes);
  const PackageCheck check = Checked(bytes, quiet);
  if (asRecipe) {
    if (!check.sound) throw ToolError(Unsound(path, check), kExitRefused);
    const std::vector<uint8_t>& smaller =
        check.x86 && (!check.x64 || check.x86->size() <= check.x64->size()) ? *check.x86 : *check.x64;
    RecipeFromPackage r;
    {
      ProgressMeter progress("recompressing", smaller.size(), ProgressUnit::kBytes,
                             ChooseProgressStyle(quiet));
      r = RecipeOfPackage(bytes, check.x86, check.x64, BaseName(path),
                          [&](uint64_t done, uint64_t) { progress.Update(done); });
    }
    for (const std::string& w : r.warnings) std::cerr << "pkgtool: warning: " << path << ": " << w << '\n';
    std::cout << r.recipe.dump(2) << '\n';
    return kExitDone;
  }
  const json description = DescribePackage(path, bytes, check);
  if (asJson) {
    std::cout << description.dump(2) << '\n';
  } else {
    std::cout << RenderPackageText(description);
  }
  return check.sound ? kExitDone : kExitRefused;
}

int RunVerify(const std::string& path, bool quiet) {
  const std::vector<uint8_t> bytes = ReadPackage(path);
  RefuseNonPackage(path, bytes);
  const PackageCheck check = Checked(bytes, quiet);
  if (!check.sound) throw ToolError(Unsound(path, check), kExitRefused);
  if (!quiet) {
    std::cout << path << ": sound";
    if (check.x86) std::cout << "; x86 setup program " << check.x86->size() << " bytes";
    if (check.x64) std::cout << "; x64 setup program " << check.x64->size() << " bytes";
    std::cout << '\n';
    // The signatures' digests, not their trust (signtool verify decides that).
    if (FindCertificateTable(bytes)) {
      std::cout << "  package: " << SignatureText(ExamineSignature(bytes)) << '\n';
    }
    if (check.x86) std::cout << "  x86 setup program: " << SignatureText(ExamineSignature(*check.x86)) << '\n';
    if (check.x64) std::cout << "  x64 setup program: " << SignatureText(ExamineSignature(*check.x64)) << '\n';
  }
  return kExitDone;
}

int RunExtract(const std::string& path, std::string x86, std::string x64, bool quiet) {
  const std::vector<uint8_t> bytes = ReadPackage(path);
  RefuseNonPackage(path, bytes);
  const bool given = !x86.empty() || !x64.empty();
  if (!given) {
    // The programs the header names; the check below makes sure of them.
    if (const auto header = PeekHeader(bytes)) {
      if (stub::HasX86(*header)) x86 = Stem(path) + ".x86.exe";
      if (stub::HasX64(*header)) x64 = Stem(path) + ".x64.exe";
    }
  }
  // Before the unpacking: never over the package, never both into one file.
  const NamedPath package{path, "the package"};
  const NamedPath x86Out{x86, given ? "--x86" : ""}, x64Out{x64, given ? "--x64" : ""};
  if (!x86.empty()) CheckOutput(x86Out, {package, x64Out});
  if (!x64.empty()) CheckOutput(x64Out, {package, x86Out});

  const PackageCheck check = Checked(bytes, quiet);
  if (!check.sound) throw ToolError(Unsound(path, check), kExitRefused);
  if (!x86.empty() && !check.x86) throw ToolError(path + ": the package has no x86 setup program");
  if (!x64.empty() && !check.x64) throw ToolError(path + ": the package has no x64 setup program");
  // Both or neither: a target that cannot be written leaves the other
  // unwritten too.
  std::vector<FileToWrite> outputs;
  if (!x86.empty()) outputs.push_back({x86, &*check.x86});
  if (!x64.empty()) outputs.push_back({x64, &*check.x64});
  WriteFilesAtomically(outputs, 0777);
  if (!quiet) {
    for (const FileToWrite& output : outputs) {
      std::cout << "wrote " << output.path << " (" << output.bytes->size() << " bytes)\n";
    }
  }
  return kExitDone;
}

int RunSimulate(const std::string& packagePath, const std::string& windows, const std::string& arch,
                const RunOptions& o) {
  SimulationInput input = MakeInput(packagePath, o);
  input.windows = ParseWindowsScenario(windows);
  const std::string a = Lower(arch);
  if (a != "x86" && a != "x64" && a != "arm64") {
    throw ToolError("--arch: '" + arch + "' is none of x86, x64 and arm64");
  }
  input.arch = a == "x86" ? Arch::kX86 : a == "x64" ? Arch::kX64 : Arch::kArm64;
  if (input.arch == Arch::kX64 && !input.windows.has64BitEdition) {
    throw ToolError("--arch x64: " + input.windows.label + " has no 64-bit edition");
  }
  if (input.arch == Arch::kArm64 && !HasArm64Edition(input.windows)) {
    throw ToolError("--arch arm64: " + input.windows.label +
                    " has no Arm64 edition (Windows on Arm began with Windows 10 1709)");
  }
  const SimulationResult result = Simulate(input);
  if (o.asJson) {
    std::cout << ResultJson(input, result).dump(2) << '\n';
  } else {
    std::cout << ResultText(input, result);
  }
  return kExitDone;
}

int RunMatrix(const std::string& packagePath, const RunOptions& o) {
  SimulationInput input = MakeInput(packagePath, o);
  json rows = json::array();
  constexpr size_t kColumns = 4;
  std::vector<std::array<std::string, kColumns>> table;
  const std::vector<WindowsScenario> scenarios = KnownScenarios();
  auto has = [](const WindowsScenario& w, Arch arch) {
    return arch == Arch::kX86 || (arch == Arch::kX64 ? w.has64BitEdition : HasArm64Edition(w));
  };
  const Arch arches[] = {Arch::kX86, Arch::kX64, Arch::kArm64};
  uint64_t runs = 0, done = 0;
  for (const WindowsScenario& w : scenarios) {
    for (const Arch arch : arches) runs += has(w, arch) ? 1 : 0;
  }
  // The bar goes before the table comes.
  auto progress = std::make_unique<ProgressMeter>("simulating", runs, ProgressUnit::kRuns,
                                                  ChooseProgressStyle(o.quiet));
  for (const WindowsScenario& w : scenarios) {
    input.windows = w;
    json row = {{"windows", w.key}, {"label", w.label}};
    std::array<std::string, kColumns> cells = {w.label, "", "", ""};
    for (size_t column = 1; column < kColumns; ++column) {
      const Arch arch = arches[column - 1];
      if (!has(w, arch)) {
        row[ArchName(arch)] = nullptr;
        cells[column] = "-";
        continue;
      }
      input.arch = arch;
      const json result = ResultJson(input, Simulate(input));
      progress->Update(++done);
      row[ArchName(arch)] = result;
      cells[column] = result["summary"];
    }
    rows.push_back(row);
    table.push_back(cells);
  }
  progress.reset();
  if (o.asJson) {
    std::cout << rows.dump(2) << '\n';
    return kExitDone;
  }
  const std::array<std::string, kColumns> titles = {"Windows", "32-bit Windows", "64-bit Windows",
                                                    "Arm64 Windows"};
  std::array<size_t, kColumns> width;
  for (size_t i = 0; i < kColumns; ++i) width[i] = titles[i].size();
  for (const auto& cells : table) {
    for (size_t i = 0; i < kColumns; ++i) width[i] = std::max(width[i], cells[i].size());
  }
  auto print = [&](const std::array<std::string, kColumns>& cells) {
    std::string line;
    for (size_t i = 0; i < kColumns; ++i) {
      line += cells[i];
      if (i + 1 < kColumns) line += std::string(width[i] - cells[i].size() + 2, ' ');
    }
    std::cout << line << '\n';
  };
  print(titles);
  std::array<std::string, kColumns> rules;
  for (size_t i = 0; i < kColumns; ++i) rules[i] = std::string(width[i], '-');
  print(rules);
  for (const auto& cells : table) print(cells);
  return kExitDone;
}

}  // namespace pkgtool
