// SHA-256 (FIPS 180-4), portable: what the in-memory Windows answers where
// the real one asks CryptoAPI, and what pkgtool records in every package.
// Sha256Of("abc") is ba7816bf...f20015ad.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace stub {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Add(const void* bytes, size_t count);
  // The digest of everything added; the object is spent afterwards.
  Sha256Digest Finish();

 private:
  void Block(const uint8_t* block);

  uint32_t state_[8];
  uint8_t pending_[64];
  size_t pendingCount_ = 0;
  uint64_t total_ = 0;  // bytes
};

Sha256Digest Sha256Of(const void* bytes, size_t count);

}  // namespace stub
