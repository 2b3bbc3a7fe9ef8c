// Elevation before extraction. A copy that a non-elevated launcher wrote and
// Windows then starts with more rights runs, with those rights, from a file
// and a folder that the user's unelevated processes can change (a DLL put
// beside it is loaded first). So when the start would raise rights, the
// launcher raises itself instead, and its elevated self makes the copy where
// only administrators can write and starts it directly.
#pragma once

#include <cstdint>

#include "launch/ExecutionLevel.h"
#include "launcher/StubContext.h"
#include "package/StubTypes.h"

namespace stub {

// The first argument of a relaunched launcher, removed before anything else
// reads the arguments: a launcher that carries it never relaunches again,
// also where "runas" raised nothing (a standard user with user account
// control off), so that it cannot go round in circles.
extern const char16_t kRelaunchedSwitch[];

// Takes the relaunch marker off the front of the arguments; true when it
// was there.
bool TakeRelaunchedSwitch(ArgumentList& arguments);

// What the launcher knows of the chosen setup program before it starts it.
struct ProgramFacts {
  RequestedLevel level = RequestedLevel::kUnknown;  // kUnknown: read the copy's manifest
  bool x86 = false;             // the 32-bit program, which installer detection may elevate
  bool namedInstaller = false;  // its version information holds an installer's word
};

// The facts pkgtool recorded for the chosen slot (kUnknown when the
// package has no record).
ProgramFacts RecordedProgramFacts(const StubContext& context, bool x86);

// Whether a non-elevated launcher on this Windows (`majorVersion`) would,
// by starting `program` through the shell, give it more rights than it has:
// the only case that needs the relaunch. A launcher that is an
// administrator, or a Windows before Vista (a direct start, which Windows
// never elevates), never does. Asks platform.IsFilteredAdministrator only
// when a program asking for the highest available rights needs it. False
// while `program.level` is kUnknown.
bool StartWouldRaiseRights(const StubContext& context, uint32_t majorVersion, bool administrator,
                           ElevationMode elevationMode, const ProgramFacts& program);

// Reads the requested level from the held copy's manifest (loaded as data,
// never run). A copy without one states no level.
RequestedLevel LevelOfCopy(Platform& platform, const Text& copyPath);

// Starts the launcher's own file again with the verb "runas" and its own
// arguments, behind the relaunch marker, by its network path when it lies on
// a mapped drive; waits for it and returns its exit code. The elevated
// launcher shows every box itself. A declined prompt ends this launcher with
// the cannot-execute box as a declined start does (1223 in deployment
// mode); a failed start with the cannot-execute box.
uint32_t RelaunchElevated(const StubContext& context);

}  // namespace stub
