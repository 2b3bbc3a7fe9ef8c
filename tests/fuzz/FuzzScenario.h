// How a fuzz input is read: a fixed 16-byte prefix scripts the computer the
// launcher runs on (Windows version, rights, date, registry, command line,
// temporary folder, what the file system already holds), and everything after
// it is the launcher's own file. The seed generator writes inputs in the same
// shape, so both sides share this one description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory/MemoryPlatform.h"

namespace stub::fuzz {

constexpr size_t kFactsSize = 16;

// The raw prefix, field by field. Everything is a plain byte so that a
// mutation of one byte changes one fact.
struct Facts {
  uint8_t major = 10;
  uint8_t minor = 0;
  uint8_t flagsA = 0;  // see kA* below
  uint8_t flagsB = 0;  // see kB* below
  uint16_t year = 2026;
  uint8_t month = 6;
  uint8_t day = 1;
  uint16_t currentBuild = 19045;
  uint8_t releaseChoice = 0;  // low nibble DisplayVersion, high nibble ReleaseId (0: absent)
  uint8_t flagsC = 0;         // see kC* below
  uint8_t arguments[2] = {};  // four nibbles: argument tokens, 0 ends the list
  uint8_t shortWriteBytes = 0;
  uint8_t servicePackMajor = 0;
};

// flagsA
constexpr uint8_t kAVersionOk = 0x01;
constexpr uint8_t kAPlatformIdShift = 1;  // two bits
constexpr uint8_t kAWow64 = 0x08;
constexpr uint8_t kAAdministrator = 0x10;
constexpr uint8_t kAKeyOpens = 0x20;
constexpr uint8_t kAServicePackOk = 0x40;
constexpr uint8_t kAStartFails = 0x80;
// flagsB
constexpr uint8_t kBShortWrite = 0x01;
constexpr uint8_t kBOpenFails = 0x02;
constexpr uint8_t kBPlainNameTaken = 0x04;
constexpr uint8_t kBSecondNameTaken = 0x08;
constexpr uint8_t kBUncreatable = 0x10;
constexpr uint8_t kBTakenAtCreation = 0x20;
constexpr uint8_t kBSizeQueryFails = 0x40;
constexpr uint8_t kBMappedDrive = 0x80;
// flagsC
constexpr uint8_t kCCurrentBuildPresent = 0x01;
constexpr uint8_t kCCurrentBuildTooLong = 0x02;
constexpr uint8_t kCTempPathShift = 2;    // two bits
constexpr uint8_t kCModulePathShift = 4;  // three bits
constexpr uint8_t kCNoisyRegistry = 0x80;

// A typical computer: 64-bit Windows 10 22H2, not elevated, nothing in the
// way of the copy.
Facts TypicalFacts();

void EncodeFacts(const Facts& facts, uint8_t (&bytes)[kFactsSize]);
// Short input: the missing bytes read as zero.
Facts DecodeFacts(const uint8_t* data, size_t size);

// The argument tokens the nibbles choose from (index 1..15).
extern const char16_t* const kArgumentTokens[16];
// The module paths flagsC chooses from.
extern const char16_t* const kModulePaths[8];

// Scripts `platform` from the facts and the package bytes.
void ApplyFacts(const Facts& facts, const uint8_t* package, size_t packageSize,
                MemoryPlatform& platform);

// Names already present before the launcher runs, with their contents: the
// launcher must leave every one of them as it was.
struct Preexisting {
  std::u16string path;
  std::vector<uint8_t> bytes;
};
std::vector<Preexisting> PreexistingFiles(const MemoryPlatform& platform);

}  // namespace stub::fuzz
