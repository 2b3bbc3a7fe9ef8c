// Puts the unpacked setup program on disk under a name nobody else has.
#pragma once

#include "launcher/StubContext.h"
#include "unpack/ProgramSource.h"

namespace stub {

// Up to and including the last backslash; empty when there is none.
Text ExtractFolder(const Text& path);
// After the last backslash; the whole path when there is none.
Text ExtractName(const Text& path);

// The folder for the copy, always ending in a backslash: the package's own
// folder when the last argument is "/temp", else the folder after the last
// "/temp" that has one, else the system's temporary folder ("C:\" when it
// has none).
Text ChooseTemporaryFolder(const ArgumentList& arguments, Platform& platform);

// The package's own name in `folder`, numbered (Setup2.exe, Setup3.exe, ...)
// from `firstNumber` on when taken. `firstNumber` 0 or 1 tries the plain name
// first; the digits go in front of the last four characters of the whole
// path. Each candidate is probed with platform.FileExists. When the numbers
// run out at 4294967295 the process ends with the cannot-create-copy message.
Text ChooseTemporaryPath(const ArgumentList& arguments, Platform& platform, const Text& folder,
                         uint32_t firstNumber = 0);
// As above; `chosenNumber` receives the number of the returned path (1 for
// the plain name), so that a caller can go on from the next one.
Text ChooseTemporaryPath(const ArgumentList& arguments, Platform& platform, const Text& folder,
                         uint32_t firstNumber, uint32_t& chosenNumber);

// Chooses folder and name and writes `program` there as it unpacks, a piece
// at a time. An existing file is never replaced: when the name turns out to
// be taken at creation, the next number is tried. Returns the copy's path,
// which is then held open read-only until the start has returned.
//
// Failures end the process, never leaving a partial copy behind. A damaged
// program shows the damaged-package box even when the copy cannot be made or
// written: the rest of the program is then unpacked to nowhere before the
// cannot-create-copy box is chosen. When unpacking is still going after
// kProgressDelayMs, a progress window captioned with the package's path shows
// the unpacked share; it is gone before this returns or any box shows.
Text CreateTemporaryCopy(const StubContext& context, ProgramSource& program);

constexpr uint32_t kProgressDelayMs = 1000;

}  // namespace stub
