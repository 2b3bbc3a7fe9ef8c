// Whether a program carries an Authenticode signature, by whom, and whether
// the digest it signs is still the program's own: the image hash that
// Authenticode defines (the whole file but the checksum field, the
// certificate-table entry and the certificate table itself), in SHA-1 or
// SHA-256, compared with the digest the signature holds, and that digest
// with the one the signer's signed attributes name.
//
// What this does not decide is whether to trust the signature: the
// certificate chain, its validity dates, revocation and the cryptographic
// signature itself stay with `signtool verify` and `osslsigncode verify`.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tools/pkgtool/Sha.h"

namespace pkgtool {

struct ProgramSignature {
  enum class State {
    kUnsigned,    // no certificate table
    kMatches,     // the signed digest is the program's image hash
    kDiffers,     // the program changed since it was signed
    kUnreadable,  // a table, but no signed digest pkgtool can compare
  };
  State state = State::kUnsigned;
  std::string signer;     // common name (else organisation) of the signer
  std::string algorithm;  // "SHA-256", "SHA-1"; empty when unknown
  std::string problem;    // for kDiffers and kUnreadable: why, in a phrase
};

// Why an unsigned setup program matters, in one line.
inline constexpr const char* kUnsignedProgramRisk =
    "Windows 11's Smart App Control and application-control policies (AppLocker, WDAC) judge "
    "every program started from a temporary folder by its own signature, so they may block it "
    "even inside a signed package";

ProgramSignature ExamineSignature(const std::vector<uint8_t>& bytes);

// The Authenticode image hash of a PE file; nothing (with `problem` set)
// when its headers or sections do not lie within the file.
std::optional<std::vector<uint8_t>> ImageHash(const std::vector<uint8_t>& bytes, DigestKind kind,
                                              std::string* problem = nullptr);

// "signed by \"Example Ltd\" (SHA-256 digest matches)", "not signed", ...
std::string SignatureText(const ProgramSignature& signature);
// {"signed": true, "signer": ..., "digestAlgorithm": ..., "digestMatches": ...}
nlohmann::json SignatureJson(const ProgramSignature& signature);
// "SHA-256 digest matches", "digest does not match: the program changed
// after it was signed", "digest not checked: ..." from the JSON above.
std::string DigestTextOfJson(const nlohmann::json& signature);
// The JSON above read back as the same text (for reports rendered from JSON).
std::string SignatureTextOfJson(const nlohmann::json& signature);

}  // namespace pkgtool
