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

// The quoted package path, then each user argument, quoted when it holds a
// character the launcher splits at (codes 1 to 32), so that the setup
// program gets back exactly the arguments the launcher saw. Nothing else is
// changed: an argument holds no quotes, and backslashes stay as they are.
Text BuildArgumentsText(const Text& packagePath, const ArgumentList& arguments);

// Whether the launcher runs as an administrator, as far as the launch cares:
// asks `platform.IsAdministrator()` only when majorVersion >= 6 (before
// Vista there is no elevation to tell apart); false below that.
bool LaunchesAsAdministrator(uint32_t majorVersion, Platform& platform);

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
