// SHA-1 and SHA-256 (FIPS 180-4), for the digests Authenticode signs. Small
// and portable rather than fast: a setup program is hashed once per run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace stub {
class Sha256;
}

namespace pkgtool {

enum class DigestKind { kSha1, kSha256 };

class Sha {
 public:
  explicit Sha(DigestKind kind);
  ~Sha();
  void Update(const uint8_t* data, size_t size);
  // The digest (20 or 32 bytes); the object is spent afterwards.
  std::vector<uint8_t> Finish();

 private:
  void Block(const uint8_t* block);

  std::unique_ptr<stub::Sha256> sha256_;  // the core's, for kSha256
  std::array<uint32_t, 5> state_{};       // SHA-1's
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes taken so far
};

std::vector<uint8_t> Digest(DigestKind kind, const uint8_t* data, size_t size);

}  // namespace pkgtool
