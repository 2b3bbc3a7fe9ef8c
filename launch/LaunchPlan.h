// The setup program's command line, the choice between a direct and a shell
// start, and the start, wait and clean-up.
#pragma once

#include <cstdint>

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

// The quoted package path, then each user argument, quoted only when it holds
// a space.
Text BuildArgumentsText(const Text& packagePath, const ArgumentList& arguments);

// The decision. Asks `platform.IsAdministrator()` only when majorVersion >= 6.
LaunchPlan ChooseLaunchPlan(uint32_t majorVersion, Platform& platform,
                            const ArgumentList& arguments, ElevationMode elevationMode,
                            const Text& temporaryCopyPath, const Text& argumentsText,
                            const Text& packageFolder);

// Starts the copy as planned; unless detached, waits for it, closes the
// process handle and deletes the copy. A failed start shows the
// cannot-execute message (the copy stays) and ends the process.
void RunSetupProgram(const StubContext& context, const Text& temporaryCopyPath,
                     uint32_t majorVersion, ElevationMode elevationMode, bool detached);

}  // namespace stub
