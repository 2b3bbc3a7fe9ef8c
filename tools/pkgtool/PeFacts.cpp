#include "tools/pkgtool/PeFacts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "authoring/PeResources.h"
#include "package/StubTypes.h"
#include "platform/memory/Utf8.h"
#include "tools/pkgtool/DerReader.h"

namespace pkgtool {

namespace {

using stub::ReadU16;
using stub::ReadU32;

using stub::pe::kPe32Magic;
using stub::pe::kPe32PlusMagic;
constexpr uint16_t kExecutableImage = 0x0002;
constexpr uint16_t kDll = 0x2000;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint16_t kPkcsSignedData = 0x0002;
constexpr uint16_t kMachineArm64 = 0xAA64;
constexpr uint16_t kMachineArm64ec = 0xA641;  // as object files name it

std::string MachineName(uint16_t machine) {
  switch (machine) {
    case kMachineI386: return "i386";
    case kMachineAmd64: return "AMD64";
    case kMachineArm64: return "ARM64";
    case 0x01C0: return "ARM";
    case 0x01C4: return "ARMv7";
    case 0x0200: return "Itanium";
    case kMachineArm64ec: return "ARM64EC";
  }
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "machine 0x%04X", machine);
  return buffer;
}

// Where the PE header starts, or 0 when `bytes` has none.
uint32_t PeHeaderOffset(const uint8_t* bytes, size_t size) {
  if (size < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
  const uint32_t at = ReadU32(bytes + stub::pe::kLfanewField);
  if (at < 64 || static_cast<uint64_t>(at) + 24 > size) return 0;
  if (std::memcmp(bytes + at, "PE\0\0", 4) != 0) return 0;
  return at;
}

// Whether the load configuration of the PE32+ image whose PE header lies at
// `pe` names hybrid (CHPE) metadata: Arm64 code behind the header.
bool HasHybridMetadata(const uint8_t* bytes, size_t size, uint32_t pe) {
  constexpr uint32_t kLoadConfigDirectory = 10;
  constexpr uint32_t kChpeMetadataAt = 200;  // IMAGE_LOAD_CONFIG_DIRECTORY64.CHPEMetadataPointer
  const uint64_t optional = pe + 24ull;
  const uint16_t optionalSize = ReadU16(bytes + pe + 20);
  const uint64_t entryAt = 112 + 8ull * kLoadConfigDirectory;
  if (optionalSize < entryAt + 8 || optional + optionalSize > size) return false;
  if (ReadU16(bytes + optional) != kPe32PlusMagic) return false;
  if (ReadU32(bytes + optional + 108) <= kLoadConfigDirectory) return false;
  const uint32_t rva = ReadU32(bytes + optional + entryAt);
  if (rva == 0) return false;
  const uint16_t sections = ReadU16(bytes + pe + 6);
  for (uint64_t at = optional + optionalSize, i = 0; i < sections; ++i, at += 40) {
    if (at + 40 > size) return false;
    const uint32_t address = ReadU32(bytes + at + 12);
    const uint32_t rawSize = ReadU32(bytes + at + 16);
    if (rva < address || rva - address >= rawSize) continue;
    const uint64_t config = ReadU32(bytes + at + 20) + static_cast<uint64_t>(rva - address);
    if (config + kChpeMetadataAt + 8 > size || ReadU32(bytes + config) < kChpeMetadataAt + 8) {
      return false;
    }
    return ReadU32(bytes + config + kChpeMetadataAt) != 0 ||
           ReadU32(bytes + config + kChpeMetadataAt + 4) != 0;
  }
  return false;
}

// --- The signer's name, from the signature's PKCS #7. ---------------------

const uint8_t kCommonName[] = {0x55, 0x04, 0x03};
const uint8_t kOrganisation[] = {0x55, 0x04, 0x0A};

// A name as text fit for a report: any string type of the certificate (a
// BMPString is UTF-16 big-endian, the others are read as UTF-8, leniently:
// the bytes are the signer's, not the user's), control characters as '?'.
std::string PrintableText(uint8_t tag, const DerReader& value) {
  std::u16string wide;
  if (tag == der::kBmpString) {
    for (size_t i = 0; i + 1 < value.n; i += 2) {
      wide += static_cast<char16_t>((value.p[i] << 8) | value.p[i + 1]);
    }
  } else {
    wide = stub::FromUtf8(std::string(reinterpret_cast<const char*>(value.p), value.n));
  }
  for (char16_t& c : wide) {
    if (c < 0x20 || c == 0x7F) c = u'?';
  }
  return stub::ToUtf8(wide);
}

// The value of attribute `type` in a Name, or "".
std::string NameAttribute(DerReader name, const uint8_t* type, size_t typeSize) {
  DerReader rdn;
  while (name.Expect(der::kSet, rdn)) {
    DerReader pair;
    while (rdn.Expect(der::kSequence, pair)) {
      DerReader oid, value;
      uint8_t valueTag = 0;
      if (!pair.Expect(der::kOid, oid) || !pair.Next(valueTag, value)) break;
      if (oid.Is(type, typeSize)) {
        return PrintableText(valueTag, value);
      }
    }
  }
  return "";
}

// The subject of the certificate whose issuer and serial number the first
// signer names, from a PKCS #7 SignedData.
std::string SignerName(DerReader signature) {
  DerReader contentInfo, signedDataWrap, signedData, skip;
  if (!signature.Expect(der::kSequence, contentInfo)) return "";
  if (!contentInfo.Expect(der::kOid, skip) || !contentInfo.Expect(der::kContext0, signedDataWrap)) return "";
  if (!signedDataWrap.Expect(der::kSequence, signedData)) return "";
  if (!signedData.Expect(der::kInteger, skip) || !signedData.Expect(der::kSet, skip) ||
      !signedData.Expect(der::kSequence, skip)) {
    return "";
  }
  DerReader certificates, signerInfos;
  uint8_t tag = 0;
  DerReader element;
  while (signedData.Next(tag, element)) {
    if (tag == der::kContext0) certificates = element;  // [0] IMPLICIT SET OF Certificate
    if (tag == der::kSet) signerInfos = element;
  }
  DerReader signerInfo, issuerAndSerial, issuer, serial;
  if (!signerInfos.Expect(der::kSequence, signerInfo) || !signerInfo.Expect(der::kInteger, skip) ||
      !signerInfo.Expect(der::kSequence, issuerAndSerial) || !issuerAndSerial.Raw(issuer) ||
      !issuerAndSerial.Raw(serial)) {
    return "";
  }
  DerReader certificate;
  while (certificates.Expect(der::kSequence, certificate)) {
    DerReader tbs, certSerial, certIssuer, subject, name;
    if (!certificate.Expect(der::kSequence, tbs)) continue;
    DerReader probe = tbs;
    uint8_t first = 0;
    if (probe.Next(first, skip) && first == der::kContext0) tbs = probe;  // [0] version
    if (!tbs.Raw(certSerial) || !tbs.Expect(der::kSequence, skip) || !tbs.Raw(certIssuer) ||
        !tbs.Expect(der::kSequence, skip) || !tbs.Expect(der::kSequence, subject)) {
      continue;
    }
    if (!certSerial.Is(serial.p, serial.n) || !certIssuer.Is(issuer.p, issuer.n)) continue;
    std::string text = NameAttribute(subject, kCommonName, sizeof kCommonName);
    if (text.empty()) text = NameAttribute(subject, kOrganisation, sizeof kOrganisation);
    return text;
  }
  return "";
}

// The linker record of Microsoft's tools ("DanS" ... "Rich", masked with a
// key) lies from offset 128, where a package keeps its locator.
bool HasRichHeader(const std::vector<uint8_t>& bytes, uint32_t peHeader) {
  for (uint32_t at = 0x80 + 16; at + 8 <= peHeader; at += 4) {
    if (std::memcmp(bytes.data() + at, "Rich", 4) != 0) continue;
    const uint32_t key = ReadU32(bytes.data() + at + 4);
    return (ReadU32(bytes.data() + 0x80) ^ key) == 0x536E6144;  // "DanS"
  }
  return false;
}

}  // namespace

ProgramImage DescribeImage(const uint8_t* bytes, size_t size) {
  ProgramImage image;
  if (size < 2 || bytes[0] != 'M' || bytes[1] != 'Z') {
    image.description = "not a Windows program (it does not begin with MZ)";
    return image;
  }
  const uint32_t pe = PeHeaderOffset(bytes, size);
  if (pe == 0) {
    image.description = "not a Windows program (an MZ file without a PE header)";
    return image;
  }
  image.machine = ReadU16(bytes + pe + 4);
  const uint16_t characteristics = ReadU16(bytes + pe + 22);
  const uint16_t optionalSize = ReadU16(bytes + pe + 20);
  // The optional header's size is the file's word; its magic must also lie
  // inside the file.
  const uint16_t magic =
      optionalSize >= 2 && static_cast<uint64_t>(pe) + 26 <= size ? ReadU16(bytes + pe + 24) : 0;
  image.format = magic == kPe32Magic       ? ProgramImage::Format::kPe32
                 : magic == kPe32PlusMagic ? ProgramImage::Format::kPe32Plus
                                           : ProgramImage::Format::kUnknownPe;
  const bool dll = (characteristics & kDll) != 0;
  image.program = !dll && (characteristics & kExecutableImage) != 0;
  image.arm64ec = image.machine == kMachineAmd64 && HasHybridMetadata(bytes, size, pe);
  const char* format = image.format == ProgramImage::Format::kPe32       ? "a PE32"
                       : image.format == ProgramImage::Format::kPe32Plus ? "a PE32+"
                                                                         : "a PE";
  image.description = std::string(format) + (dll ? " DLL" : " image") + " for " +
                      MachineName(image.arm64ec ? kMachineArm64ec : image.machine);
  if (image.format == ProgramImage::Format::kUnknownPe) {
    image.description += " with an unknown optional header";
  }
  if (!dll && !image.program) image.description += ", not marked executable";
  return image;
}

std::string BuiltFor(const ProgramImage& image) {
  if (image.format == ProgramImage::Format::kNotPe) return "";
  switch (image.machine) {
    case kMachineI386: return "x86";
    case kMachineAmd64: return image.arm64ec ? "arm64ec" : "x64";
    case kMachineArm64: return "arm64";
    case kMachineArm64ec: return "arm64ec";
  }
  return MachineName(image.machine);
}

bool IsArm64(const ProgramImage& image) {
  return image.machine == kMachineArm64 || image.machine == kMachineArm64ec || image.arm64ec;
}

bool FitsSlot(const ProgramImage& image, bool x64) {
  return image.program &&
         (x64 ? image.format == ProgramImage::Format::kPe32Plus &&
                    image.machine == kMachineAmd64 && !image.arm64ec
              : image.format == ProgramImage::Format::kPe32 && image.machine == kMachineI386);
}

const char* SlotNeeds(bool x64) { return x64 ? "a PE32+ image for AMD64" : "a PE32 image for i386"; }

std::optional<CertificateTable> FindCertificateTable(const std::vector<uint8_t>& bytes) {
  const uint32_t pe = PeHeaderOffset(bytes.data(), bytes.size());
  if (pe == 0) return std::nullopt;
  const uint64_t optional = pe + 24ull;
  const uint16_t optionalSize = ReadU16(bytes.data() + pe + 20);
  if (optionalSize < 2 || optional + optionalSize > bytes.size()) return std::nullopt;
  const uint16_t magic = ReadU16(bytes.data() + optional);
  uint64_t countAt = 0;
  if (magic == kPe32Magic) countAt = 92;
  else if (magic == kPe32PlusMagic) countAt = 108;
  else return std::nullopt;
  const uint64_t entryAt = countAt + 4 + 8ull * kSecurityDirectory;
  if (entryAt + 8 > optionalSize) return std::nullopt;
  if (ReadU32(bytes.data() + optional + countAt) <= kSecurityDirectory) return std::nullopt;
  // The security directory holds a file offset, not an address.
  CertificateTable table;
  table.offset = ReadU32(bytes.data() + optional + entryAt);
  table.size = ReadU32(bytes.data() + optional + entryAt + 4);
  if (table.offset == 0 || table.size == 0 || table.offset + table.size > bytes.size()) {
    return std::nullopt;
  }
  // WIN_CERTIFICATE: length, revision, type, then the PKCS #7 bytes.
  const uint8_t* entry = bytes.data() + table.offset;
  if (table.size >= 8 && ReadU16(entry + 6) == kPkcsSignedData) {
    const uint32_t length = ReadU32(entry);
    if (length >= 8 && length <= table.size) table.signer = SignerName({entry + 8, length - 8u});
  }
  return table;
}

uint64_t UnsignedEnd(const std::vector<uint8_t>& bytes, const CertificateTable& table, uint64_t built) {
  if (built > table.offset || table.offset - built >= 8 || table.offset > bytes.size()) {
    return table.offset;
  }
  const bool padding = std::all_of(bytes.begin() + built, bytes.begin() + table.offset,
                                   [](uint8_t b) { return b == 0; });
  return padding ? built : table.offset;
}

std::string NotAPackage(const std::vector<uint8_t>& bytes) {
  const uint64_t locatorEnd = stub::kLocatorOffset + stub::kLocatorSize;
  const ProgramImage image = DescribeImage(bytes);
  if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z') {
    return "not a setup package: " + image.description;
  }
  if (bytes.size() < locatorEnd) {
    return "not a setup package: " + std::to_string(bytes.size()) +
           " bytes are too few to hold one";
  }
  const uint32_t pe = PeHeaderOffset(bytes.data(), bytes.size());
  const bool locatorUnwritten =
      std::all_of(bytes.begin() + stub::kLocatorOffset, bytes.begin() + locatorEnd,
                  [](uint8_t b) { return b == 0; });
  if (pe != 0 && (pe < locatorEnd || locatorUnwritten || HasRichHeader(bytes, pe))) {
    return "not a setup package: " + image.description + " without package data";
  }
  if (locatorUnwritten) return "not a setup package: no package data";
  return "";
}

}  // namespace pkgtool
