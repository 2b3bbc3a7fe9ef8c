// Finds the package inside the launcher's own file and proves it complete and
// undamaged before anything else of it is read.
#pragma once

#include <cstdint>

#include "launcher/StubContext.h"
#include "package/StubTypes.h"

namespace stub {

// The checksum pass reads the span in pieces of this size.
constexpr uint32_t kChecksumPiece = 1u << 20;

enum class SizeVerdict { kLargeEnough, kTruncated };

// The truncation test alone: a detached package compares its 32-bit minimum
// with the low word of the file size; an ordinary one compares the 64-bit
// minimum with the file size as signed 64-bit values.
SizeVerdict JudgeFileSize(const PackageLocator& locator, uint64_t fileSize);

// Reads the locator at offset 128, checks the file size, reads the checksum
// span and checks its CRC-32 and, where the settings hold a digest and
// `checkDigest` asks for it, its SHA-256 in the same pass. The driver asks
// for it in an elevated launcher, the one whose rights a swapped file could
// borrow: under Wine, whose SHA-256 is plain C, it costs about a tenth of the
// run; a launcher without rights gains nothing from it that a process of the
// same user could not undo. Returns the locator when all pass; ends the
// process with the truncated or damaged message otherwise. A span that
// reaches past the end of the file is damaged before any memory is taken for
// it. Where Windows cannot compute SHA-256 the digest is not checked, as the
// gates go on where Windows cannot say. With a digest, `context.vouched` is
// set to the span, whether it could be checked or not: what lies outside it
// is damaged for every later read.
PackageLocator VerifyPackage(StubContext& context, bool checkDigest);

}  // namespace stub
