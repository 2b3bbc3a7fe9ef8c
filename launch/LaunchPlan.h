// The setup program's command line, the choice between a direct and a shell
// start, and the start, wait and clean-up.
#pragma once

#include <cstdint>

#include "launch/TemporaryCopy.h"
#include "launcher/StubContext.h"
#include "package/StubTypes.h"

namespace stub {

enum class StartMode { kDirectStart, kShellStart };

struct LaunchPlan {
  StartMode mode = StartMode::kDirectStart;
  Text commandLine;       // direct: "copy" argumentsText
  Text currentDirectory;  // direct: the package's folder
  Text verb;              // shell: "open" or "runas"
  Text file;              // shell: the copy, unquoted
  Text parameters;        // shell: argumentsText [+ " /noadmin"]
};

// The network form of a path on a mapped drive; any other path unchanged.
Text ResolveUniversalPath(Platform& platform, const Text& path);

// The quoted package path, then each user argument (AppendArguments).
Text BuildArgumentsText(const Text& packagePath, const ArgumentList& arguments);

// Appends each user argument after a space, quoted when it holds a
// character the launcher splits at (codes 1 to 32), with the closing quote
// before any backslashes it ends in: a program that splits as the launcher
// does and one that splits as CommandLineToArgvW does (where a backslash
// before a quote escapes it) then both get back exactly the arguments the
// launcher saw. An argument holds no quotes.
void AppendArguments(Text& text, const ArgumentList& arguments);

// Whether the launcher runs as an administrator: the token's answer, on
// every Windows version, since a version can be reported falsely (a
// compatibility layer the user chose) while the token cannot.
bool LaunchesAsAdministrator(Platform& platform);

// The cannot-execute box (in the user's language where the vendor's
// settings have it), ending the process for `reason`.
[[noreturn]] void EndWithCannotExecute(const StubContext& context, EndReason reason);

// Whether the start goes through the shell (Vista or later, and not an
// administrator), the one start Windows may elevate. A failed version query
// reports 0 and so starts directly.
bool StartsThroughShell(uint32_t majorVersion, bool administrator);

// The decision, from the answer LaunchesAsAdministrator gave.
LaunchPlan ChooseLaunchPlan(uint32_t majorVersion, bool administrator,
                            const ArgumentList& arguments, ElevationMode elevationMode,
                            const Text& temporaryCopyPath, const Text& argumentsText,
                            const Text& packageFolder);

// Starts the copy as planned; unless detached, waits for it, closes the
// process handle and removes the copy (RemoveTemporaryCopy). Returns the
// setup program's exit code (0 when detached). A failed start shows the
// cannot-execute message (the copy stays) and ends the process.
uint32_t RunSetupProgram(const StubContext& context, const TemporaryCopy& copy,
                         uint32_t majorVersion, bool administrator, ElevationMode elevationMode,
                         bool detached);

}  // namespace stub
