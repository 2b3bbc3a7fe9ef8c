// What a setup program asks of Windows when it starts: the execution level
// its application manifest requests, and whether Windows' installer
// detection would elevate it anyway. A non-elevated launcher needs to know
// before it writes the copy, because Windows raises the rights of a copy that
// a less-trusted process wrote and could still change.
#pragma once

#include <cstdint>

#include "package/Text.h"

namespace stub {

// The stored values are part of the launcher settings' format: never renumber.
enum class RequestedLevel : uint8_t {
  kUnknown = 0,               // not recorded: the copy's own manifest has to be read
  kAsInvoker = 1,
  kHighestAvailable = 2,
  kRequireAdministrator = 3,
  kNotStated = 4,             // no manifest, or one without a requested level
};

// The level the manifest text asks for. `bytes` is the RT_MANIFEST resource
// as stored: UTF-8, or UTF-16 (either byte order) with its byte-order mark.
// Comments are skipped; a level Windows does not know counts as not stated
// (Windows refuses to start such a program, so nothing is raised). Reads
// exactly `size` bytes; never kUnknown.
RequestedLevel LevelFromManifest(const uint8_t* bytes, uint32_t size);

// Whether a file name (no folder) holds one of the words Windows' installer
// detection looks for ("setup", "install", "update", "patch"; letters in any
// case). Detection applies only to a 32-bit program that states no level.
bool NameSuggestsInstaller(const Text& fileName);

// Whether a shell start of a program that asks for `level` gets more rights
// than the launcher has: the verb "runas"; requireAdministrator; for an
// administrator whose token is filtered, highestAvailable; and for a 32-bit
// program that states no level, a name installer detection recognises.
bool StartRaisesRights(bool runasVerb, RequestedLevel level, bool filteredAdministrator,
                       bool installerDetection);

}  // namespace stub
