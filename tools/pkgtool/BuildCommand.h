// pkgtool build: from options and files to a written package. The recipe is
// made by a pure function of the options and the bytes read for them, so
// that every rule about options can be tested without files.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "authoring/VendorResources.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/LauncherOptions.h"

namespace pkgtool {

// A refusal text given inline, from a file, or not at all.
struct MessageOption {
  std::string text;
  std::string file;
  bool textGiven = false;
  bool fileGiven = false;
};

struct BuildOptions {
  std::string output, stub, x86, x64, trailingData;
  std::vector<std::string> windows;
  std::string win10 = "any", win11 = "any", expires, elevation = "standard", dictionary = "4M";
  bool no64 = false, detached = false, quiet = false;
  unsigned level = 6, lc = 3, lp = 0, pb = 2;
  MessageOption expired, wrongWidth, unsupported;
  // The vendor's icon and version information, and the recipe file the
  // options above may have come from.
  std::string icon, versionLanguage, recipe;
  std::vector<std::string> versionInfo;
  // An author who knows better: setup programs that do not fit their slots,
  // and an expiry date that has come.
  bool allowAnyProgram = false, allowExpired = false;
  // Signing: the vendor's command ({in} {out}, or {file}) run on copies of
  // the setup programs and on the package, and setup programs without a
  // sound signature refused instead of warned about.
  std::string signCommand;
  bool requireSignedPrograms = false;
  // The launcher's settings: deployment mode and its texts in other
  // languages (`detached` is filled in from above when used).
  LauncherOptions launcher;
  // Where an option's value came from when not the command line: "--x86" ->
  // "setup.json: x86". Errors name the source.
  std::map<std::string, std::string> sources;
  // The day the expiry date must lie after; year 0 leaves it unchecked.
  stub::LocalDate today{0, 0, 0};

  // The option itself ("--x86", "-o" for --output), or the recipe and field
  // that set it.
  std::string Source(const std::string& option) const;
  bool FromRecipe(const std::string& option) const { return sources.count(option) > 0; }
};

// What the options name on disk, read.
struct BuildFiles {
  std::vector<uint8_t> stub;
  std::string stubPath;  // where `stub` came from, for errors about it
  // The icon as read and the version information as checked; they go into
  // the stub's resources.
  stub::writer::VendorResources vendor;
  std::optional<std::vector<uint8_t>> x86, x64;
  std::optional<std::vector<uint8_t>> trailingData;
  // The contents of the --*-message-file files, as read.
  std::optional<std::string> expiredMessage, wrongWidthMessage, unsupportedMessage;
};

// Reads every file the options name, refusing what cannot be a part of a
// package (no stub, an empty program, sizes past the launcher's limits). The
// vendor settings are checked first, before anything large is read. A
// default stub must have been resolved into options.stub.
BuildFiles ReadBuildFiles(const BuildOptions& options);

// The recipe for `options`: checks every option, fills in the default
// texts, and refuses (exit 1) what could not work: a setup program that
// Windows cannot start from its slot, an expiry date that is not after
// options.today. Reads nothing; ToolError names what is wrong and where it
// came from. What is allowed but unwise (a text too long for a box) goes
// into `warnings`, each naming its source, when given.
stub::writer::PackageRecipe MakeRecipe(const BuildOptions& options, BuildFiles files,
                                       std::vector<std::string>* warnings = nullptr);

// The files a build reads, each with the option that named it: what its
// output must never be.
std::vector<NamedPath> BuildInputs(const BuildOptions& options);

int RunBuild(const BuildOptions& options);

}  // namespace pkgtool
