// Authenticode as pkgtool reads it: the two digests, the image hash and
// what it leaves out, the signed digest compared with it, and the sign
// command's template. Programs signed by osslsigncode are tested in
// tests/cli/signing_test.sh.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "authoring/PeResources.h"
#include "tools/pkgtool/Authenticode.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/SignCommand.h"

namespace pkgtool {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes& b) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t v : b) s += {digits[v >> 4], digits[v & 15]};
  return s;
}

struct DigestCase {
  DigestKind kind;
  std::string input;
  const char* hex;
};
class DigestTest : public testing::TestWithParam<DigestCase> {};

TEST_P(DigestTest, GivesTheStandardsVectorsWholeAndInPieces) {
  const DigestCase& c = GetParam();
  const auto* data = reinterpret_cast<const uint8_t*>(c.input.data());
  EXPECT_EQ(Hex(Digest(c.kind, data, c.input.size())), c.hex);
  Sha pieces(c.kind);
  for (size_t at = 0; at < c.input.size(); at += 7) pieces.Update(data + at, std::min<size_t>(7, c.input.size() - at));
  EXPECT_EQ(Hex(pieces.Finish()), c.hex);
}

const std::string k448Bits = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
INSTANTIATE_TEST_SUITE_P(
    Vectors, DigestTest,
    testing::Values(
        DigestCase{DigestKind::kSha1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        DigestCase{DigestKind::kSha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        DigestCase{DigestKind::kSha1, k448Bits, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        DigestCase{DigestKind::kSha1, std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        DigestCase{DigestKind::kSha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        DigestCase{DigestKind::kSha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        DigestCase{DigestKind::kSha256, k448Bits, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        DigestCase{DigestKind::kSha256, std::string(1000000, 'a'),
                   "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}));

// --- signed images, made here ----------------------------------------------------

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out = {tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
const Bytes kSha256Oid = Tlv(0x06, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01});
const Bytes kSha1Oid = Tlv(0x06, {0x2B, 0x0E, 0x03, 0x02, 0x1A});

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
// Where the image's certificate-table entry lies.
size_t SecurityEntry(const Bytes& image) {
  const size_t optional = Get32(image, 0x3C) + 24;
  return optional + (image[optional + 1] == 0x02 ? 112 : 96) + 4 * 8;
}

struct SignedImage {
  bool sha1 = false;
  bool attributes = false;      // the signer's signed attributes, with messageDigest
  bool attributesWrong = false; // ... naming another content's digest
};

// A program with a PKCS #7 SignedData in the shape signers write, its
// SpcIndirectDataContent holding the image's own hash. No certificates: the
// signer's name is tested on osslsigncode's output.
Bytes Signed(const SignedImage& s, Bytes image = stub::pe::MinimalProgramImage(false)) {
  image.resize((image.size() + 7) / 8 * 8, 0);
  const DigestKind kind = s.sha1 ? DigestKind::kSha1 : DigestKind::kSha256;
  const Bytes hash = *ImageHash(image, kind);
  const Bytes indirectContent =
      Cat({Tlv(0x30, Tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F})),
           Tlv(0x30, Cat({Tlv(0x30, Cat({s.sha1 ? kSha1Oid : kSha256Oid, Tlv(0x05, {})})), Tlv(0x04, hash)}))});
  Bytes contentDigest = Digest(kind, indirectContent.data(), indirectContent.size());
  if (s.attributesWrong) contentDigest[0] ^= 1;
  Bytes signerInfo = Cat({Tlv(0x02, {1}), Tlv(0x30, {}), Tlv(0x30, s.sha1 ? kSha1Oid : kSha256Oid)});
  if (s.attributes) {
    signerInfo = Cat({signerInfo, Tlv(0xA0, Tlv(0x30, Cat({Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04}),
                                                           Tlv(0x31, Tlv(0x04, contentDigest))})))});
  }
  const Bytes signedData = Tlv(0x30, Cat({Tlv(0x02, {1}), Tlv(0x31, {}),
                                          Tlv(0x30, Cat({Tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04}),
                                                         Tlv(0xA0, Tlv(0x30, indirectContent))})),
                                          Tlv(0x31, Tlv(0x30, signerInfo))}));
  const Bytes pkcs7 = Tlv(0x30, Cat({Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02}),
                                     Tlv(0xA0, signedData)}));
  Bytes table(8, 0);
  Put32(table, 0, static_cast<uint32_t>(8 + pkcs7.size()));
  table[5] = 0x02;  // revision 2.0
  table[6] = 0x02;  // PKCS #7 SignedData
  table.insert(table.end(), pkcs7.begin(), pkcs7.end());
  table.resize((table.size() + 7) / 8 * 8, 0);
  const size_t at = image.size();
  image.insert(image.end(), table.begin(), table.end());
  Put32(image, SecurityEntry(image), static_cast<uint32_t>(at));
  Put32(image, SecurityEntry(image) + 4, static_cast<uint32_t>(table.size()));
  return image;
}

using State = ProgramSignature::State;
struct SignatureCase {
  const char* name;
  std::function<Bytes()> bytes;
  State state;
  const char* text;
};
void PrintTo(const SignatureCase& c, std::ostream* os) { *os << c.name; }
class SignatureTest : public testing::TestWithParam<SignatureCase> {};

TEST_P(SignatureTest, TellsWhetherTheSignedDigestIsTheProgramsOwn) {
  const ProgramSignature s = ExamineSignature(GetParam().bytes());
  EXPECT_EQ(s.state, GetParam().state);
  EXPECT_EQ(SignatureText(s), GetParam().text);
}

Bytes Altered(Bytes b, size_t at) {
  b[at] ^= 0x55;
  return b;
}
Bytes WithEntry(Bytes b, uint32_t offset, uint32_t size) {
  Put32(b, SecurityEntry(b), offset);
  Put32(b, SecurityEntry(b) + 4, size);
  return b;
}
// The fields the image hash leaves out: a signer writes them after hashing.
Bytes WithChecksum(Bytes b) {
  Put32(b, Get32(b, 0x3C) + 24 + 64, 0x1234567);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Programs, SignatureTest,
    testing::Values(
        SignatureCase{"Unsigned", [] { return stub::pe::MinimalProgramImage(false); }, State::kUnsigned, "not signed"},
        SignatureCase{"NotPe", [] { return Bytes(300, 'x'); }, State::kUnsigned, "not signed"},
        SignatureCase{"Sha256", [] { return Signed({}); }, State::kMatches, "signed (SHA-256 digest matches)"},
        SignatureCase{"Sha1WithAttributes", [] { return Signed({true, true}); }, State::kMatches,
                      "signed (SHA-1 digest matches)"},
        SignatureCase{"X64", [] { return Signed({}, stub::pe::MinimalProgramImage(true)); }, State::kMatches,
                      "signed (SHA-256 digest matches)"},
        SignatureCase{"ChecksumWrittenAfter", [] { return WithChecksum(Signed({})); }, State::kMatches,
                      "signed (SHA-256 digest matches)"},
        SignatureCase{"HeaderAltered", [] { return Altered(Signed({}), 0x40); }, State::kDiffers,
                      "signed (digest does not match: the program changed after it was signed)"},
        SignatureCase{"SectionAltered", [] { return Altered(Signed({}), 0x200); }, State::kDiffers,
                      "signed (digest does not match: the program changed after it was signed)"},
        SignatureCase{"DigestEditedToFit", [] { return Signed({false, true, true}); }, State::kDiffers,
                      "signed (digest does not match: the signed digest was changed after signing)"},
        SignatureCase{"TableBeyondTheFile",
                      [] { return WithEntry(stub::pe::MinimalProgramImage(false), 0x10000, 64); },
                      State::kUnreadable, "signed (digest not checked: the certificate table lies beyond the file)"},
        SignatureCase{"TableNotPkcs7",
                      [] {
                        Bytes b = stub::pe::MinimalProgramImage(false);
                        const size_t at = b.size();
                        b.resize(at + 16, 0);
                        Put32(b, at, 16);
                        return WithEntry(b, static_cast<uint32_t>(at), 16);
                      },
                      State::kUnreadable, "signed (digest not checked: the certificate table holds no PKCS #7 signature)"},
        SignatureCase{"TableNotAtTheEnd",
                      [] {
                        Bytes b = Signed({});
                        b.resize(b.size() + 8, 0);
                        return b;
                      },
                      State::kUnreadable, "signed (digest not checked: the certificate table is not at the end of the file)"}));

TEST(ImageHash, RefusesSectionsBeyondTheFile) {
  Bytes image = stub::pe::MinimalProgramImage(false);
  const size_t firstSection = Get32(image, 0x3C) + 24 + (image[Get32(image, 0x3C) + 20] | image[Get32(image, 0x3C) + 21] << 8);
  Put32(image, firstSection + 16, 0x7FFFFFF0);  // SizeOfRawData
  std::string problem;
  EXPECT_FALSE(ImageHash(image, DigestKind::kSha256, &problem));
  EXPECT_EQ(problem, "a section lies beyond the file");
}

// --- the sign command ---------------------------------------------------------------

struct TemplateCase {
  const char* text;
  bool valid, inPlace;
  const char* expanded;  // with in = "a b.exe", out = "it's.exe" (POSIX quoting)
};
class TemplateTest : public testing::TestWithParam<TemplateCase> {};

TEST_P(TemplateTest, TakesInAndOutOrFileAlone) {
  const TemplateCase& c = GetParam();
  if (!c.valid) {
    EXPECT_THROW(ParseSignTemplate(c.text, "--sign-command"), ToolError);
    return;
  }
  const SignTemplate t = ParseSignTemplate(c.text, "--sign-command");
  EXPECT_EQ(t.inPlace, c.inPlace);
#ifndef _WIN32
  EXPECT_EQ(ExpandSignTemplate(t, "a b.exe", "it's.exe"), c.expanded);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Templates, TemplateTest,
    testing::Values(TemplateCase{"osslsigncode sign -in {in} -out {out}", true, false,
                                 "osslsigncode sign -in 'a b.exe' -out 'it'\\''s.exe'"},
                    TemplateCase{"signtool sign /fd SHA256 {file}", true, true, "signtool sign /fd SHA256 'a b.exe'"},
                    TemplateCase{"cp {in} {out} && sign {out} {in}", true, false, "cp 'a b.exe' 'it'\\''s.exe' && sign 'it'\\''s.exe' 'a b.exe'"},
                    TemplateCase{"cloud-sign --payload '{\"k\": 1}' {file}", true, true,
                                 "cloud-sign --payload '{\"k\": 1}' 'a b.exe'"},
                    TemplateCase{"signtool sign", false, false, ""},
                    TemplateCase{"sign {in}", false, false, ""},
                    TemplateCase{"sign {out}", false, false, ""},
                    TemplateCase{"sign {in} {out} {file}", false, false, ""}));

}  // namespace
}  // namespace pkgtool
