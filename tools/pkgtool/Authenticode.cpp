#include "tools/pkgtool/Authenticode.h"

#include <algorithm>
#include <cstring>

#include "authoring/PeResources.h"
#include "package/StubTypes.h"
#include "tools/pkgtool/DerReader.h"
#include "tools/pkgtool/PeFacts.h"

namespace pkgtool {

namespace {

using stub::ReadU16;
using stub::ReadU32;

const uint8_t kSha1Oid[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
const uint8_t kSha256Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const uint8_t kSpcIndirectDataOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
const uint8_t kMessageDigestOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
constexpr uint16_t kPkcsSignedData = 0x0002;

// Where the fields the image hash leaves out lie.
struct PeLayout {
  uint64_t checksum = 0;        // the optional header's CheckSum
  uint64_t securityEntry = 0;   // the certificate table's directory entry
  uint64_t headersEnd = 0;      // SizeOfHeaders
  uint64_t sectionTable = 0;
  uint32_t sections = 0;
  uint64_t tableOffset = 0, tableSize = 0;  // the entry's values
};

std::optional<PeLayout> Layout(const std::vector<uint8_t>& bytes, std::string& problem) {
  problem = "not a PE image";
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return std::nullopt;
  const uint64_t pe = ReadU32(bytes.data() + stub::pe::kLfanewField);
  if (pe + 24 > bytes.size() || std::memcmp(bytes.data() + pe, "PE\0\0", 4) != 0) return std::nullopt;
  const uint64_t optional = pe + 24;
  const uint16_t optionalSize = ReadU16(bytes.data() + pe + 20);
  if (optional + optionalSize > bytes.size() || optionalSize < 2) return std::nullopt;
  const uint16_t magic = ReadU16(bytes.data() + optional);
  const uint64_t countAt = magic == stub::pe::kPe32Magic ? 92 : magic == stub::pe::kPe32PlusMagic ? 108 : 0;
  problem = "the optional header has no certificate-table entry";
  if (countAt == 0 || countAt + 4 + 40 > optionalSize) return std::nullopt;
  if (ReadU32(bytes.data() + optional + countAt) < 5) return std::nullopt;
  PeLayout l;
  l.checksum = optional + 64;
  l.securityEntry = optional + countAt + 4 + 8 * 4;
  l.headersEnd = ReadU32(bytes.data() + optional + 60);
  l.sectionTable = optional + optionalSize;
  l.sections = ReadU16(bytes.data() + pe + 6);
  l.tableOffset = ReadU32(bytes.data() + l.securityEntry);
  l.tableSize = ReadU32(bytes.data() + l.securityEntry + 4);
  problem = "the headers do not lie within the file";
  if (l.headersEnd < l.securityEntry + 8 || l.headersEnd > bytes.size() ||
      l.sectionTable + 40ull * l.sections > bytes.size()) {
    return std::nullopt;
  }
  problem.clear();
  return l;
}

struct SignedDigest {
  DigestKind kind = DigestKind::kSha256;
  std::vector<uint8_t> digest;
  bool attributesMatch = true;  // the signer's messageDigest names this content
};

std::optional<DigestKind> KindOf(DerReader algorithm) {
  DerReader oid;
  if (!algorithm.Expect(der::kOid, oid)) return std::nullopt;
  if (oid.Is(kSha1Oid, sizeof kSha1Oid)) return DigestKind::kSha1;
  if (oid.Is(kSha256Oid, sizeof kSha256Oid)) return DigestKind::kSha256;
  return std::nullopt;
}

// The SpcIndirectDataContent's digest, and whether the first signer's signed
// attributes carry the digest of that content, from a PKCS #7 SignedData.
std::optional<SignedDigest> ReadSignedDigest(DerReader der, std::string& problem) {
  problem = "the signature is not a PKCS #7 SignedData pkgtool can read";
  DerReader contentInfo, wrap, signedData, encap, encapOid, encapWrap, indirect, element;
  if (!der.Expect(der::kSequence, contentInfo) || !contentInfo.Skip(der::kOid) ||
      !contentInfo.Expect(der::kContext0, wrap) || !wrap.Expect(der::kSequence, signedData) ||
      !signedData.Skip(der::kInteger) || !signedData.Skip(der::kSet) ||
      !signedData.Expect(der::kSequence, encap) || !encap.Expect(der::kOid, encapOid)) {
    return std::nullopt;
  }
  problem = "the signature signs no program digest (no SpcIndirectDataContent)";
  if (!encapOid.Is(kSpcIndirectDataOid, sizeof kSpcIndirectDataOid) ||
      !encap.Expect(der::kContext0, encapWrap) || !encapWrap.Expect(der::kSequence, indirect)) {
    return std::nullopt;
  }
  const DerReader indirectContent = indirect;
  DerReader digestInfo, algorithm, digest;
  if (!indirect.Skip(der::kSequence) || !indirect.Expect(der::kSequence, digestInfo) ||
      !digestInfo.Expect(der::kSequence, algorithm) || !digestInfo.Expect(der::kOctetString, digest)) {
    return std::nullopt;
  }
  const std::optional<DigestKind> kind = KindOf(algorithm);
  problem = "the signed digest is neither SHA-1 nor SHA-256";
  if (!kind) return std::nullopt;
  SignedDigest result;
  result.kind = *kind;
  result.digest.assign(digest.p, digest.p + digest.n);
  problem.clear();

  // The signer signs its attributes, among them the digest of the content
  // above (its value without tag and length): a digest edited to fit an
  // altered program no longer fits them.
  uint8_t tag = 0;
  DerReader signerInfos;
  while (signedData.Next(tag, element)) {
    if (tag == der::kSet) signerInfos = element;
  }
  DerReader signerInfo, signerAlgorithm, attributes;
  if (!signerInfos.Expect(der::kSequence, signerInfo) || !signerInfo.Skip(der::kInteger) ||
      !signerInfo.Skip(der::kSequence) || !signerInfo.Expect(der::kSequence, signerAlgorithm) ||
      !signerInfo.Expect(der::kContext0, attributes)) {
    return result;  // no signed attributes: nothing more to compare
  }
  const std::optional<DigestKind> signerKind = KindOf(signerAlgorithm);
  DerReader attribute;
  while (signerKind && attributes.Expect(der::kSequence, attribute)) {
    DerReader oid, values, value;
    if (!attribute.Expect(der::kOid, oid) || !oid.Is(kMessageDigestOid, sizeof kMessageDigestOid)) continue;
    if (!attribute.Expect(der::kSet, values) || !values.Expect(der::kOctetString, value)) break;
    const std::vector<uint8_t> actual = Digest(*signerKind, indirectContent.p, indirectContent.n);
    result.attributesMatch = value.Is(actual.data(), actual.size());
  }
  return result;
}

void HashRange(Sha& sha, const std::vector<uint8_t>& bytes, uint64_t from, uint64_t to) {
  if (to > from) sha.Update(bytes.data() + from, static_cast<size_t>(to - from));
}

}  // namespace

std::optional<std::vector<uint8_t>> ImageHash(const std::vector<uint8_t>& bytes, DigestKind kind,
                                              std::string* problem) {
  std::string why;
  const std::optional<PeLayout> l = Layout(bytes, why);
  auto fail = [&](const std::string& text) {
    if (problem) *problem = text;
    return std::nullopt;
  };
  if (!l) return fail(why);
  // The table is left out only where it is the file's end, as signers put
  // it; one elsewhere would leave bytes behind it that no hash covers.
  uint64_t end = bytes.size();
  if (l->tableOffset != 0 && l->tableSize != 0) {
    if (l->tableOffset + l->tableSize != bytes.size() || l->tableOffset < l->headersEnd) {
      return fail("the certificate table is not at the end of the file");
    }
    end = l->tableOffset;
  }
  Sha sha(kind);
  HashRange(sha, bytes, 0, l->checksum);
  HashRange(sha, bytes, l->checksum + 4, l->securityEntry);
  HashRange(sha, bytes, l->securityEntry + 8, l->headersEnd);
  struct Section {
    uint64_t offset, size;
  };
  std::vector<Section> sections;
  for (uint32_t i = 0; i < l->sections; ++i) {
    const uint8_t* s = bytes.data() + l->sectionTable + 40ull * i;
    const Section section{ReadU32(s + 20), ReadU32(s + 16)};
    if (section.size == 0) continue;
    if (section.offset + section.size > end) return fail("a section lies beyond the file");
    sections.push_back(section);
  }
  std::sort(sections.begin(), sections.end(),
            [](const Section& a, const Section& b) { return a.offset < b.offset; });
  uint64_t hashed = l->headersEnd;
  for (const Section& s : sections) {
    HashRange(sha, bytes, s.offset, s.offset + s.size);
    hashed = std::max(hashed, s.offset + s.size);
  }
  // What follows the last section (a package's own data) counts too.
  HashRange(sha, bytes, hashed, end);
  return sha.Finish();
}

ProgramSignature ExamineSignature(const std::vector<uint8_t>& bytes) {
  ProgramSignature s;
  std::string problem;
  const std::optional<PeLayout> l = Layout(bytes, problem);
  if (!l || l->tableOffset == 0 || l->tableSize == 0) return s;
  s.state = ProgramSignature::State::kUnreadable;
  const std::optional<CertificateTable> table = FindCertificateTable(bytes);
  if (!table) {
    s.problem = "the certificate table lies beyond the file";
    return s;
  }
  s.signer = table->signer;
  const uint8_t* entry = bytes.data() + table->offset;
  const uint32_t length = table->size >= 8 ? ReadU32(entry) : 0;
  if (length < 8 || length > table->size || ReadU16(entry + 6) != kPkcsSignedData) {
    s.problem = "the certificate table holds no PKCS #7 signature";
    return s;
  }
  const std::optional<SignedDigest> signedDigest = ReadSignedDigest({entry + 8, length - 8u}, problem);
  if (!signedDigest) {
    s.problem = problem;
    return s;
  }
  s.algorithm = signedDigest->kind == DigestKind::kSha1 ? "SHA-1" : "SHA-256";
  const std::optional<std::vector<uint8_t>> actual = ImageHash(bytes, signedDigest->kind, &problem);
  if (!actual) {
    s.problem = problem;
    return s;
  }
  if (*actual != signedDigest->digest) {
    s.state = ProgramSignature::State::kDiffers;
    s.problem = "the program changed after it was signed";
  } else if (!signedDigest->attributesMatch) {
    s.state = ProgramSignature::State::kDiffers;
    s.problem = "the signed digest was changed after signing";
  } else {
    s.state = ProgramSignature::State::kMatches;
  }
  return s;
}

nlohmann::json SignatureJson(const ProgramSignature& s) {
  using State = ProgramSignature::State;
  nlohmann::json j = {{"signed", s.state != State::kUnsigned}};
  if (s.state == State::kUnsigned) return j;
  j["signer"] = s.signer.empty() ? nlohmann::json(nullptr) : nlohmann::json(s.signer);
  j["digestAlgorithm"] = s.algorithm.empty() ? nlohmann::json(nullptr) : nlohmann::json(s.algorithm);
  j["digestMatches"] = s.state == State::kMatches  ? nlohmann::json(true)
                       : s.state == State::kDiffers ? nlohmann::json(false)
                                                    : nlohmann::json(nullptr);
  if (!s.problem.empty()) j["problem"] = s.problem;
  return j;
}

std::string DigestTextOfJson(const nlohmann::json& j) {
  const nlohmann::json matches = j.value("digestMatches", nlohmann::json(nullptr));
  if (matches.is_boolean() && matches.get<bool>()) {
    return j.value("digestAlgorithm", std::string()) + " digest matches";
  }
  return std::string(matches.is_boolean() ? "digest does not match: " : "digest not checked: ") +
         j.value("problem", std::string());
}

std::string SignatureTextOfJson(const nlohmann::json& j) {
  if (!j.value("signed", false)) return "not signed";
  std::string text = "signed";
  if (j.contains("signer") && j["signer"].is_string()) {
    text += " by \"" + j["signer"].get<std::string>() + "\"";
  }
  return text + " (" + DigestTextOfJson(j) + ")";
}

std::string SignatureText(const ProgramSignature& s) { return SignatureTextOfJson(SignatureJson(s)); }

}  // namespace pkgtool
