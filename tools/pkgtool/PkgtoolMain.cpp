// pkgtool: builds setup packages and answers questions about them using the
// launcher's own code. This file only wires the command line to the commands.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "authoring/PeResources.h"
#include "tools/pkgtool/BuildCommand.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/LauncherOptions.h"
#include "tools/pkgtool/PackageCommands.h"
#include "tools/pkgtool/RecipeFile.h"
#include "tools/pkgtool/VendorOptions.h"
#ifdef _WIN32
#include "tools/pkgtool/Console.h"
#endif

namespace pkgtool {
namespace {

// make-test-stub --pe: a real PE image whose resource section the vendor
// resources can be merged into.
const char kTestManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><assembly "
    "xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"/>";

const char kExitCodes[] =
    "Exit codes: 0 done, the package is sound; 1 not sound, or refused (a setup program that does "
    "not fit its slot, an expiry date that has passed); 2 bad input (the message names the option, "
    "recipe field or file); 3 the system failed (disk full, no permission, I/O error, out of "
    "memory). A failing --sign-command ends a build with its own exit code.";

const std::string kSignatureNote =
    "Signatures: for the package and each setup program, whether it carries an Authenticode "
    "signature, by whom, and whether the signed digest still matches it. Whether to trust the "
    "certificate is for signtool verify or osslsigncode verify to judge.\n\n";

// The commands users see, in the order help lists them.
const std::vector<std::string> kCommands = {"build",    "inspect", "verify", "extract",
                                            "simulate", "matrix",  "help"};

std::string Examples(std::initializer_list<const char*> lines) {
  std::string text = "Examples:\n";
  for (const char* line : lines) text += std::string("  ") + line + "\n";
  return text + "\n" + kExitCodes;
}

// Every name an option of `app` answers to: "--x86", "-o", "--output".
std::vector<std::string> OptionNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& l : option->get_lnames()) names.push_back("--" + l);
    for (const std::string& s : option->get_snames()) names.push_back("-" + s);
  }
  return names;
}

std::string DidYouMean(const std::string& typed, const std::vector<std::string>& known) {
  const std::string name = ClosestName(typed, known);
  return name.empty() ? "" : "; did you mean " + name + "?";
}

// What the user typed first, told apart before the parser sees it: "help"
// becomes --help of pkgtool or of a command, and a mistyped command gets a
// suggestion instead of the parser's "A subcommand is required".
std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    throw ToolError("give a command: build, inspect, verify, extract, simulate or matrix "
                    "(pkgtool help tells more)");
  }
  const std::string& first = args[0];
  if (first == "help") {
    if (args.size() == 1) return {"--help"};
    args = {args[1], "--help"};
  }
  const std::string& command = args[0];
  const bool hidden = command == "make-test-stub" || command == "make-test-program";
  if (command.empty() || command[0] != '-') {
    if (!hidden && std::find(kCommands.begin(), kCommands.end(), command) == kCommands.end()) {
      throw ToolError("unknown command '" + command + "'" + DidYouMean(command, kCommands) +
                      " (pkgtool help lists the commands)");
    }
  } else if (command != "-h" && command != "--help" && command != "-V" && command != "--version") {
    const std::string name = command.substr(0, command.find('='));
    const std::string suggestion = DidYouMean(name, {"--help", "--version"});
    throw ToolError("unknown option '" + name + "'" +
                    (suggestion.empty() ? "; a command comes first (pkgtool help lists them)"
                                        : suggestion));
  }
  return args;
}

// The parser keeps what it does not know; the first such word becomes one
// error with a suggestion.
void RefuseExtras(const CLI::App& command) {
  for (const std::string& extra : command.remaining()) {
    if (extra == "--") continue;
    if (extra.size() > 1 && extra[0] == '-') {
      const std::string name = extra.substr(0, extra.find('='));
      throw ToolError(command.get_name() + ": unknown option '" + name + "'" +
                      DidYouMean(name, OptionNames(command)) + " (pkgtool help " +
                      command.get_name() + " lists them)");
    }
    throw ToolError(command.get_name() + ": unexpected argument '" + extra + "'");
  }
}

// ----------------------------------------------------------------- main ----

int Main(int argc, char** argv) {
  CLI::App app{"pkgtool: builds self-contained setup packages (launcher stub + setup programs) "
               "and inspects, verifies, unpacks and simulates them with the launcher's own code.",
               "pkgtool"};
  app.require_subcommand(1);
  app.set_version_flag("-V,--version", VersionText().substr(0, VersionText().size() - 1),
                       "Print pkgtool's version and liblzma's, then exit");
  app.footer(std::string("Run 'pkgtool help COMMAND' for a command's options and examples.\n\n") +
             kExitCodes);

  BuildOptions b;
  CLI::App* build = app.add_subcommand("build", "Write a package from a stub and setup programs.");
  build->add_option("-o,--output", b.output,
                    "Package to write (replaced atomically); required unless the recipe names it");
  build->add_option("--stub", b.stub,
                    "Launcher stub (default: Stub32.exe beside the pkgtool executable, else "
                    "../share/setup-launcher/Stub32.exe from it)");
  build->add_option("--x86", b.x86, "32-bit setup program (a PE32 image for i386)");
  build->add_option("--x64", b.x64, "64-bit setup program (a PE32+ image for AMD64)");
  build->add_flag("--allow-any-program", b.allowAnyProgram,
                  "Build even when a setup program is not the kind of program its slot takes");
  build->add_flag("--require-signed-programs", b.requireSignedPrograms,
                  "Refuse a setup program that carries no Authenticode signature, or one whose "
                  "signed digest no longer matches it (without this, a warning). Trust in the "
                  "certificate is for signtool verify or osslsigncode verify to judge");
  build->add_option("--sign-command", b.signCommand,
                    "Command that signs: with {in} and {out} (osslsigncode sign ... -in {in} -out "
                    "{out}) or {file} alone (signtool sign /fd SHA256 ... {file}). Run through the "
                    "shell on a temporary copy of each setup program before it is packed, and on "
                    "the package before it is put in place; each result must carry a signature "
                    "whose digest matches");
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
                    "First day on which the package refuses to run, YYYY-MM-DD (default: never); "
                    "it must lie after today");
  build->add_flag("--allow-expired", b.allowExpired,
                  "Build even when the expiry date is today or has passed");
  build->add_option("--elevation", b.elevation,
                    "How a shell start on Vista and later (launcher not elevated) elevates: "
                    "standard (0): silent runs get \"open\" without /noadmin; silent-runas (1): "
                    "silent runs get \"runas\"; always-noadmin (2): every run gets /noadmin. "
                    "Interactive runs always get \"open\" + /noadmin (default: standard)");
  build->add_flag("--no-64bit-windows", b.no64,
                  "Refuse 64-bit Windows (only for a package without --x64)");
  build->add_flag("--detached", b.detached,
                  "The launcher neither waits for the setup program nor deletes its copy");
  build->add_flag("--pass-exit-code", b.launcher.passExitCode,
                  "Deployment mode: the launcher ends with the setup program's exit code, its own "
                  "failures with distinct codes (" + DeploymentExitCodesHelp() + "), and shows "
                  "no box when started with /s or /silent. Not with --detached");
  build->add_option("--launcher-languages", b.launcher.languages,
                    "The launcher's own messages (damaged, truncated, cannot copy, cannot run, out "
                    "of memory) in these languages too, chosen by the user's Windows display "
                    "language and fallbacks: all, or a list such as de,fr,ja (" + ShippedTags() + ")");
  build->add_option("--launcher-text", b.launcher.texts,
                    "LANGUAGE.TEXT=WORDING: your own wording of one text in one language, e.g. "
                    "de.expired=\"Diese Version ist abgelaufen.\"; TEXT is one of " + LauncherTextKeys() +
                    "; repeatable");
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
  build->footer(Examples(
      {"pkgtool build -o MyAppSetup.exe --x86 setup32.exe --x64 setup64.exe",
       "pkgtool build -o MyAppSetup.exe --x86 setup32.exe --windows 7,8.1,10,11 --win10 1809.. "
       "--expires 2027-01-01",
       "pkgtool build -o MyAppSetup.exe --x64 setup64.exe --icon myapp.ico --version-info "
       "ProductName=MyApp --version-info FileVersion=2.4.1",
       "pkgtool build --recipe installer/setup.json --version-info FileVersion=2.4.2",
       "pkgtool build -o MyAppSetup.exe --x64 setup64.exe --pass-exit-code --launcher-languages all",
       "pkgtool build -o MyAppSetup.exe --x64 setup64.exe --require-signed-programs --sign-command "
       "'osslsigncode sign -pkcs12 release.p12 -readpass pass.txt -h sha256 -t "
       "http://timestamp.digicert.com -in {in} -out {out}'"}));

  std::string package;
  bool asJson = false, quiet = false;
  CLI::App* inspect = app.add_subcommand("inspect", "Show every field of a package and its integrity.");
  inspect->add_option("package", package, "Package file")->required();
  inspect->add_flag("--json", asJson, "Machine-readable output");
  bool asRecipe = false;
  inspect->add_flag("--recipe", asRecipe,
                    "Print the package's build recipe (JSON; file names become placeholders)");
  inspect->add_flag("-q,--quiet", quiet, "No progress");
  inspect->footer(kSignatureNote + Examples({"pkgtool inspect MyAppSetup.exe",
                            "pkgtool inspect --json MyAppSetup.exe | jq .header.expiry",
                            "pkgtool inspect --recipe MyAppSetup.exe > setup.json"}));

  CLI::App* verify = app.add_subcommand(
      "verify", "Check the package as the launcher does before it looks at the computer: size, "
                "checksum, the SHA-256 digest the stub records, header, message texts, and both "
                "setup programs unpacking to exactly their sizes. Prints the launcher's own error text on failure.");
  verify->add_option("package", package, "Package file")->required();
  verify->add_flag("-q,--quiet", quiet, "Print nothing when the package is sound, and no progress");
  verify->footer(kSignatureNote + Examples({"pkgtool verify MyAppSetup.exe",
                           "pkgtool verify -q MyAppSetup.exe && publish MyAppSetup.exe"}));

  std::string x86Out, x64Out;
  CLI::App* extract = app.add_subcommand(
      "extract", "Write the setup programs as the launcher unpacks them (default: NAME.x86.exe "
                 "and NAME.x64.exe in the current folder).");
  extract->add_option("package", package, "Package file")->required();
  extract->add_option("--x86", x86Out, "Where to write the x86 setup program");
  extract->add_option("--x64", x64Out, "Where to write the x64 setup program");
  extract->add_flag("-q,--quiet", quiet, "Print nothing");
  extract->footer(Examples({"pkgtool extract MyAppSetup.exe",
                            "pkgtool extract MyAppSetup.exe --x64 setup64.exe"}));

  RunOptions run;
  std::string windows = "11", arch = "x64";
  auto addRunOptions = [&](CLI::App* sub) {
    sub->add_option("package", package, "Package file")->required();
    sub->add_option("--date", run.date, "Local date on that computer, YYYY-MM-DD (default: today)");
    sub->add_flag("--admin", run.admin, "The launcher runs elevated");
    sub->add_option("--path", run.path,
                    "Where the package lies on that computer (default: C:\\Downloads\\NAME)");
    sub->add_option("--temp", run.temp, "The user's temporary folder (default: " + run.temp + ")");
    sub->add_option("--language", run.language,
                    "The user's Windows display language, e.g. de-DE, ja or 0x0407, or it and "
                    "the fallbacks set in Windows, best first: ca-ES,es-ES (default: en-US)");
    sub->add_flag("--json", run.asJson, "Machine-readable output");
    sub->add_flag("-q,--quiet", run.quiet, "No progress");
    sub->add_option("arguments", run.arguments, "Arguments given to the package, after --");
  };
  CLI::App* simulate = app.add_subcommand(
      "simulate", "Run the launcher's main sequence on a stated computer and show what it does.");
  addRunOptions(simulate);
  simulate->add_option("--windows", windows,
                       "Windows version: 95, 98, me, nt4, 2000 [sp0-sp4], xp, vista, 7, 8, 8.1, "
                       "10 [RELEASE|BUILD], 11 [RELEASE|BUILD [DISPLAYVERSION]] (default: 11, "
                       "its latest release)");
  simulate->add_option("--arch", arch,
                       "x86, x64 or arm64 Windows (default: x64); arm64 is Windows 10 1709 or later "
                       "on an Arm computer, where Windows 11 runs x64 programs and Windows 10 does "
                       "not");
  simulate->footer(Examples(
      {"pkgtool simulate MyAppSetup.exe --windows \"10 1809\" --arch x64",
       "pkgtool simulate MyAppSetup.exe --windows 7 --arch x86 --admin -- /s /temp \"D:\\My Temp\"",
       "pkgtool simulate MyAppSetup.exe --windows \"10 22H2\" --arch arm64",
       "pkgtool simulate Damaged.exe --language de-DE -- /s"}));
  CLI::App* matrix = app.add_subcommand(
      "matrix", "Simulate every Windows version and release the launcher knows, on 32-bit, "
                "64-bit and Arm64 Windows.");
  addRunOptions(matrix);
  matrix->footer(Examples({"pkgtool matrix MyAppSetup.exe --date 2026-06-01",
                           "pkgtool matrix MyAppSetup.exe --json -- /silent"}));
  CLI::App* help = app.add_subcommand("help", "Show the help of pkgtool, or of one command: "
                                              "pkgtool help build");
  std::string helpTopic;
  help->add_option("command", helpTopic, "The command");
  for (CLI::App* command : {build, inspect, verify, extract, simulate, matrix}) command->allow_extras();

  std::string stubOut;
  CLI::App* makeStub = app.add_subcommand("make-test-stub", "");  // tests only, hidden
  makeStub->group("");
  makeStub->add_option("output", stubOut)->required();
  bool peStub = false;
  makeStub->add_flag("--pe", peStub);
  // A setup program of any kind, with data after it: make-test-program
  // x86|x64|arm64 OUT [DATA]
  std::string programKind, programOut, programData;
  CLI::App* makeProgram = app.add_subcommand("make-test-program", "");  // tests only, hidden
  makeProgram->group("");
  makeProgram->add_option("kind", programKind)->required()->check(CLI::IsMember({"x86", "x64", "arm64"}));
  makeProgram->add_option("output", programOut)->required();
  makeProgram->add_option("data", programData);

  try {
    std::vector<std::string> args = Arguments(argc, argv);
    std::reverse(args.begin(), args.end());  // CLI11 takes them last first
    app.parse(args);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string message = e.what();
    for (const CLI::App* command : app.get_subcommands()) {
      message = command->get_name() + ": " + message;
    }
    std::cerr << "pkgtool: " << message << '\n';
    return kExitBadInput;
  } catch (const ToolError& e) {
    std::cerr << "pkgtool: " << e.what() << '\n';
    return e.exitCode();
  }

  try {
    for (const CLI::App* command : app.get_subcommands()) RefuseExtras(*command);
    if (*build) {
      // The recipe fills what the command line left unset, so its message
      // options count as given below.
      if (!b.recipe.empty()) {
        b.sources = ApplyRecipe(*build, RecipeOptions(LoadRecipe(b.recipe), b.recipe), b.recipe);
      }
      for (size_t i = 0; i < 3; ++i) {
        messages[i].first->textGiven = messageOptions[i].first->count() > 0;
        messages[i].first->fileGiven = messageOptions[i].second->count() > 0;
      }
      return RunBuild(b);
    }
    if (*inspect) return RunInspect(package, asJson, asRecipe, quiet);
    if (*verify) return RunVerify(package, quiet);
    if (*extract) return RunExtract(package, x86Out, x64Out, quiet);
    if (*simulate) return RunSimulate(package, windows, arch, run);
    if (*matrix) return RunMatrix(package, run);
    if (*makeStub) {
      WriteFileAtomically(stubOut, peStub ? stub::pe::MinimalPeImage(kTestManifest)
                                          : stub::writer::MinimalStubImage());
      return kExitDone;
    }
    if (*makeProgram) {
      std::vector<uint8_t> image = stub::pe::MinimalProgramImage(programKind != "x86");
      if (programKind == "arm64") {  // the x64 image with the machine ARM64
        const uint32_t pe = stub::ReadU32(image.data() + 0x3C);
        image[pe + 4] = 0x64;
        image[pe + 5] = 0xAA;
      }
      if (!programData.empty()) {
        const std::vector<uint8_t> data = ReadWholeFile(programData, stub::kMaxPayloadSize, "the data");
        image.insert(image.end(), data.begin(), data.end());
      }
      WriteFileAtomically(programOut, image, 0777);
      return kExitDone;
    }
  } catch (const ToolError& e) {
    std::cerr << "pkgtool: " << e.what() << '\n';
    return e.exitCode();
  } catch (const std::bad_alloc&) {
    std::cerr << "pkgtool: out of memory\n";
    return kExitSystemError;
  }
  return kExitBadInput;
}

}  // namespace
}  // namespace pkgtool

#ifdef _WIN32
// Windows hands over the command line in UTF-16 (wmain, linked with -municode).
int wmain(int argc, wchar_t** argv) {
  pkgtool::ConsoleText console;
  std::vector<std::string> arguments = pkgtool::Utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return pkgtool::Main(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return pkgtool::Main(argc, argv); }
#endif
