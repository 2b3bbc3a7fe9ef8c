// What a file is, as Windows would see it: the kind of program a setup
// program is (so that a build can refuse one that cannot start from its
// slot), the Authenticode signature behind a signed package, and the marks
// of a file that carries no package at all. Every offset and size read here
// comes from an untrusted file and is checked against its size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pkgtool {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

struct ProgramImage {
  enum class Format { kNotPe, kPe32, kPe32Plus, kUnknownPe };
  Format format = Format::kNotPe;
  uint16_t machine = 0;
  bool program = false;  // an executable image, not a DLL
  // An AMD64 header over Arm64 code (Arm64EC): the load configuration names
  // hybrid metadata, which x64 Windows cannot run.
  bool arm64ec = false;
  // "a PE32 image for i386", "a PE32+ DLL for ARM64", "not a Windows
  // program (it does not begin with MZ)".
  std::string description;
};
ProgramImage DescribeImage(const uint8_t* bytes, size_t size);
inline ProgramImage DescribeImage(const std::vector<uint8_t>& bytes) {
  return DescribeImage(bytes.data(), bytes.size());
}

// The machine the program is built for, from its header's Machine field:
// "x86", "x64", "arm64" (ARM64X too), "arm64ec", another machine's name
// ("ARM", "machine 0x1234"); empty for a file that is no PE image.
std::string BuiltFor(const ProgramImage& image);
// Built for Arm64, for which the launcher has no slot.
bool IsArm64(const ProgramImage& image);

// Whether Windows can start `image` from the x64 slot (a PE32+ program for
// AMD64) or the x86 slot (a PE32 program for i386).
bool FitsSlot(const ProgramImage& image, bool x64);
// "a PE32 image for i386" or "a PE32+ image for AMD64": what the slot takes.
const char* SlotNeeds(bool x64);

// The certificate table that the PE header's security directory names: an
// Authenticode signature, appended behind everything else when a package is
// signed.
struct CertificateTable {
  uint64_t offset = 0;
  uint64_t size = 0;
  // The signer's subject (its common name, else its organisation), when the
  // first signature can be read that far; empty otherwise.
  std::string signer;
};
// Nothing when the image names no table, or one that does not lie wholly
// within the file.
std::optional<CertificateTable> FindCertificateTable(const std::vector<uint8_t>& bytes);

// Where the file ended before it was signed: the signer pads it with up to
// seven zero bytes so that the table starts at a multiple of eight. `built`
// is the size the package writer recorded (the locator's minimum size); it
// is the answer when only such padding lies between it and the table, else
// the table's offset is.
uint64_t UnsignedEnd(const std::vector<uint8_t>& bytes, const CertificateTable& table, uint64_t built);

// Why `bytes` cannot be a package at all, or an empty string when it may
// be one (sound or damaged: the launcher's own checks tell). Not a package:
// too short to hold the locator, not a Windows program, a PE header that
// starts where the locator lies, a locator that was never written, or the
// record another linker keeps where the locator goes.
std::string NotAPackage(const std::vector<uint8_t>& bytes);

}  // namespace pkgtool
