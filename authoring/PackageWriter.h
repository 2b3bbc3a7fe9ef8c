// Writes packages: a launcher stub followed by the header, the raw-LZMA1
// setup programs, the UTF-16LE refusal texts and the setup program's own
// trailing data, with the locator at offset 128 sealing it all. Host only.
//
// Output is a pure function of the PackageRecipe: the same recipe gives the same
// bytes, whatever the machine or the thread timing.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "package/StubTypes.h"

namespace stub::writer {

// Bad input, with a message fit to show the user as it is.
class WriterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Every version the launcher names, and the "any other Windows" element.
WindowsVersionSet AllWindows();

// Called from the compressing threads (serialised by the writer) with the
// bytes consumed so far over both setup programs and their total.
using ProgressFunction = std::function<void(uint64_t consumed, uint64_t total)>;

struct PackageRecipe {
  std::vector<uint8_t> stub;
  std::optional<std::vector<uint8_t>> x86;
  std::optional<std::vector<uint8_t>> x64;
  // A 32-bit-only package that must not run on 64-bit Windows (no x64 allowed).
  bool barFrom64Bit = false;
  WindowsVersionSet allowedWindows = AllWindows();
  uint16_t win10Min = 0, win10Max = 9999;
  uint16_t win11Min = 0, win11Max = 9999;
  uint8_t elevationMode = 0;
  uint16_t expiryYear = 0, expiryMonth = 0, expiryDay = 0;
  std::u16string expiredMessage;
  std::u16string wrongWidthMessage;
  std::u16string unsupportedWindowsMessage;
  // Read by the setup program, not by the launcher; outside the checksum.
  std::vector<uint8_t> trailingData;

  uint32_t lzmaLevel = 6;
  uint32_t dictionarySize = 1u << 22;
  uint8_t lc = 3, lp = 0, pb = 2;

  // The launcher neither waits for the setup program nor deletes its copy.
  // The minimum size is then the 32-bit detachedMinSize: the file's own size
  // unless detachedMinSize says otherwise.
  bool detached = false;
  uint32_t detachedMinSize = 0;

  // Last-moment edits for tests that need packages the writer would not make
  // on its own. adjustHeader runs before the header is encoded and checksummed;
  // adjustLocator runs on the finished locator, so it can break the seal.
  std::function<void(PackageHeader&)> adjustHeader;
  std::function<void(PackageLocator&)> adjustLocator;

  ProgressFunction progress;

  // When set, the package's stub records the SHA-256 of the checksum span:
  // called with that digest once the span is written, it returns the stub
  // that carries it, which must be exactly as long as `stub` so that no
  // offset moves (the settings resource's digest record has a fixed size).
  std::function<std::vector<uint8_t>(const std::array<uint8_t, 32>& digest)> stubWithDigest;
};

struct BuiltPackage {
  std::vector<uint8_t> bytes;
  PackageLocator locator;
  PackageHeader header;
  std::optional<std::array<uint8_t, 32>> digest;  // what the stub records, if anything
};

// Throws WriterError on a stub that cannot carry a package, a payload or a
// package beyond the launcher's limits, an overlong message, LZMA settings
// the encoder refuses, or a package with a 64-bit setup program that is also
// barred from 64-bit Windows.
BuiltPackage BuildPackage(const PackageRecipe& recipe);

// Writes `locator` at offset 128 of `package.bytes` and keeps it in `package`.
void StoreLocator(BuiltPackage& package, const PackageLocator& locator);
// Writes `header` at the package offset, then recomputes the checksum so the
// package stays sealed.
void StoreHeader(BuiltPackage& package, const PackageHeader& header);
// Recomputes crc over crcLength bytes at packageOffset after the bytes were
// patched, and stores the locator. A digest the stub records stays as it
// was: such a package is then one whose data were swapped.
void Reseal(BuiltPackage& package);

// Why `stub` cannot carry a package, or nothing when it can: it must be an
// 'MZ' image whose PE header starts at offset 152 or later and whose bytes
// 128..151 are still zero.
std::optional<std::string> StubProblem(const std::vector<uint8_t>& stub);

// A 512-byte stand-in for the launcher image, for tests: 'MZ', PE header at
// 256, locator room zeroed.
std::vector<uint8_t> MinimalStubImage();

// Raw LZMA1 without end marker (the size is stored beside it). Throws
// WriterError when liblzma refuses the settings.
std::vector<uint8_t> CompressRawLzma1(const std::vector<uint8_t>& bytes, uint32_t level,
                                      uint32_t dictionarySize, uint8_t lc, uint8_t lp, uint8_t pb,
                                      const std::function<void(uint64_t consumed)>& progress = {});

// Decodes exactly `unpackedSize` bytes of raw LZMA1; returns what was decoded,
// which is shorter when the data end early or are damaged.
std::vector<uint8_t> DecompressRawLzma1(const uint8_t* packed, size_t packedSize,
                                        uint8_t properties, uint32_t dictionarySize,
                                        uint32_t unpackedSize);

std::vector<uint8_t> Utf16Le(const std::u16string& text);

// The version of the liblzma this writer runs ("5.4.1"): its encoder decides
// the packed bytes, so the same recipe gives the same package only with the
// same liblzma.
std::string LzmaVersion();

// The properties byte of the header: (pb * 5 + lp) * 9 + lc.
uint8_t LzmaPropertiesByte(uint8_t lc, uint8_t lp, uint8_t pb);

// Limits the writer enforces.
constexpr uint64_t kMaxPackageSize = 0x7FFFFFFFu;  // every offset below 2 GiB
constexpr size_t kMaxMessageUnits = 0xFFFF;

}  // namespace stub::writer
