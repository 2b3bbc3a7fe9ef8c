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

// Whether the user named a folder for the copy: "/temp" among the arguments.
bool TempSwitchGiven(const ArgumentList& arguments);

// The package's own name in `folder`, numbered (Setup2.exe, Setup3.exe, ...)
// from `firstNumber` on when taken. `firstNumber` 0 or 1 tries the plain name
// first; the digits go in front of the last four characters of the whole
// path. Each candidate is probed with platform.FileExists. `chosenNumber`
// receives the number of the returned path (1 for the plain name), so that a
// caller can go on from the next one. When the numbers run out at
// 4294967295 the process ends with the cannot-create-copy message.
Text ChooseTemporaryPath(const StubContext& context, const Text& folder, uint32_t firstNumber,
                         uint32_t& chosenNumber);

// Where the copy went. `privateFolder` is empty unless the launcher runs as
// an administrator; then it is the new folder, ending in a backslash, that
// holds the copy and that only Administrators and SYSTEM may write, named
// by its final path where Windows can give it (no junction, link or drive
// mapping in it), and `name` is the copy's name in it. `path` is what is
// started: the folder and the name.
struct TemporaryCopy {
  Text path;
  Text privateFolder;
  Text name;
};

// The rights an administrator's private folder and its copy are created
// with: owned by Administrators, full control for SYSTEM and Administrators
// (inherited by what is created inside), nothing for anyone else, and
// nothing inherited from the parent. Owner and entries together shut out
// the same user's unelevated processes, which as the owner of an ordinary
// new folder could rewrite its access list.
extern const char16_t kPrivateFolderAccess[];

// Random bytes behind a private folder's name: 128 bits, 32 hex digits.
constexpr uint32_t kPrivateNameBytes = 16;
// Names drawn before giving up. Each is unpredictable, so only a broken
// random source or a folder that answers "taken" to everything gets there.
constexpr int kPrivateNameAttempts = 8;

// Chooses folder and name and writes `program` there as it unpacks, a piece
// at a time. An existing file is never replaced: when the name turns out to
// be taken at creation, the next number is tried.
//
// An administrator's launcher (`administrator`) works only below folders no
// less trusted process can write or redirect. Without "/temp", the parent is
// the machine's own temporary folder (SystemTemp in the Windows folder where
// a folder can be made there, else Temp), never the user's. In it, or in the
// folder "/temp" names, it creates a new folder with an unpredictable name,
// born with kPrivateFolderAccess and held from then on (so that nobody can
// move it aside), and asks Windows for that folder's final path: every later
// step names the folder by it, so a junction above the folder that is
// flipped afterwards leads nowhere. The copy is created and reopened through
// the held handle, under the package's name. A volume that keeps no access
// lists (FAT, many network shares) cannot protect the folder: it ends with
// the cannot-create-copy box. An existing folder is never used.
//
// Returns once the copy is complete and held open read-only, until the
// start has returned. Failures end the process, never leaving a partial
// copy or an empty private folder behind. A damaged program shows the
// damaged-package box even when the folder or the copy cannot be made or
// written: the rest of the program is then unpacked to nowhere before the
// cannot-create-copy box is chosen. A finished copy that cannot be held
// (another process holds it for writing, or has put another file in its
// place; for an administrator also one whose identity the file system cannot
// confirm) is never started: it is deleted where possible and the
// cannot-execute box shows. When unpacking is still going after
// kProgressDelayMs, a progress window captioned with the package's path
// shows the unpacked share; it is gone before this returns or any box shows.
TemporaryCopy CreateTemporaryCopy(const StubContext& context, ProgramSource& program,
                                  bool administrator);

// Deletes the copy, then its private folder if it has one. After the setup
// program has run (`afterRun`), a copy that cannot be deleted yet is tried
// again for up to kRemoveRetryMs: a virus scanner often holds a new program
// for a moment after it ends. What an administrator's launcher still cannot
// delete (the setup program started another process from the copy that
// still runs, say) is left to Windows to delete at the next restart; a
// non-administrator cannot ask for that, and its copy then stays, as it
// always has.
void RemoveTemporaryCopy(Platform& platform, const TemporaryCopy& copy, bool afterRun);

constexpr uint32_t kRemoveRetryMs = 2000;
constexpr uint32_t kRemoveRetryStepMs = 100;

constexpr uint32_t kProgressDelayMs = 1000;

}  // namespace stub
