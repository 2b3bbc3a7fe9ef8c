// pkgtool: builds setup packages and answers questions about them using the
// launcher's own code. This file only wires the command line to the commands.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "package/writer/PackageWriter.h"
#include "tools/pkgtool/BuildCommand.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/PackageCommands.h"

namespace pkgtool {
namespace {

// ----------------------------------------------------------------- main ----

int Main(int argc, char** argv) {
  CLI::App app{"pkgtool: builds self-contained setup packages (launcher stub + setup programs) "
               "and inspects, verifies, unpacks and simulates them with the launcher's own code."};
  app.require_subcommand(1);
  app.footer("Exit codes: 0 done; 1 the package is not sound (verify, inspect); 2 bad input.");

  BuildOptions b;
  CLI::App* build = app.add_subcommand("build", "Write a package from a stub and setup programs.");
  build->add_option("-o,--output", b.output, "Package to write (replaced atomically)")->required();
  build->add_option("--stub", b.stub,
                    "Launcher stub (default: Stub32.exe beside the pkgtool executable)");
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
  std::pair<CLI::Option*, CLI::Option*> messageOptions[3];
  for (size_t i = 0; i < 3; ++i) {
    MessageOption* m = messages[i].first;
    auto& [textOption, fileOption] = messageOptions[i];
    textOption = build->add_option("--" + messages[i].second + "-message", m->text, what[i]);
    fileOption = build->add_option("--" + messages[i].second + "-message-file", m->file,
                                      "The same, from a UTF-8 file");
    textOption->excludes(fileOption);
  }
  build->add_option("--trailing-data", b.trailingData,
                    "File appended after the messages, for the setup program (not checksummed)");
  build->add_option("--level", b.level, "LZMA preset 0-9 (default 6)")->check(CLI::Range(0, 9));
  build->add_option("--dict", b.dictionary, "LZMA dictionary size: bytes or 64K, 4M, 64M (default 4M)");
  build->add_option("--lc", b.lc, "LZMA literal context bits (default 3)")->check(CLI::Range(0, 4));
  build->add_option("--lp", b.lp, "LZMA literal position bits (default 0)")->check(CLI::Range(0, 4));
  build->add_option("--pb", b.pb, "LZMA position bits (default 2)")->check(CLI::Range(0, 4));
  build->add_flag("-q,--quiet", b.quiet, "No summary and no progress");

  std::string package;
  bool asJson = false, quiet = false;
  CLI::App* inspect = app.add_subcommand("inspect", "Show every field of a package and its integrity.");
  inspect->add_option("package", package, "Package file")->required();
  inspect->add_flag("--json", asJson, "Machine-readable output");

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

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "pkgtool: " << e.what() << '\n';
    return kExitError;
  }

  for (size_t i = 0; i < 3; ++i) {
    messages[i].first->textGiven = messageOptions[i].first->count() > 0;
    messages[i].first->fileGiven = messageOptions[i].second->count() > 0;
  }

  try {
    if (*build) return RunBuild(b);
    if (*inspect) return RunInspect(package, asJson);
    if (*verify) return RunVerify(package, quiet);
    if (*extract) return RunExtract(package, x86Out, x64Out, quiet);
    if (*simulate) return RunSimulate(package, windows, arch, run);
    if (*matrix) return RunMatrix(package, run);
    if (*makeStub) {
      WriteFileAtomically(stubOut, stub::writer::MinimalStubImage());
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
