#include "tools/pkgtool/Sha.h"

#include "platform/memory/Sha256.h"

namespace pkgtool {

namespace {

uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

uint32_t BigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

Sha::Sha(DigestKind kind) {
  // SHA-256 is the one pkgtool records in every package; only SHA-1 is kept here.
  if (kind == DigestKind::kSha256) sha256_ = std::make_unique<stub::Sha256>();
  state_ = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
}

Sha::~Sha() = default;

void Sha::Block(const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = BigEndian(block + 4 * i);
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) f = (b & c) | (~b & d), k = 0x5A827999;
    else if (i < 40) f = b ^ c ^ d, k = 0x6ED9EBA1;
    else if (i < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
    else f = b ^ c ^ d, k = 0xCA62C1D6;
    const uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d, d = c, c = Rotl(b, 30), b = a, a = t;
  }
  state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d, state_[4] += e;
}

void Sha::Update(const uint8_t* data, size_t size) {
  if (sha256_) {
    sha256_->Add(data, size);
    return;
  }
  length_ += size;
  while (size > 0) {
    if (buffered_ == 0 && size >= 64) {
      Block(data);
      data += 64;
      size -= 64;
      continue;
    }
    const size_t take = size < 64 - buffered_ ? size : 64 - buffered_;
    for (size_t i = 0; i < take; ++i) buffer_[buffered_ + i] = data[i];
    buffered_ += take;
    data += take;
    size -= take;
    if (buffered_ == 64) {
      Block(buffer_.data());
      buffered_ = 0;
    }
  }
}

std::vector<uint8_t> Sha::Finish() {
  if (sha256_) {
    const stub::Sha256Digest digest = sha256_->Finish();
    return {digest.begin(), digest.end()};
  }
  const uint64_t bits = length_ * 8;
  const uint8_t one = 0x80, zero = 0;
  Update(&one, 1);
  while (buffered_ != 56) Update(&zero, 1);
  uint8_t tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Update(tail, 8);
  std::vector<uint8_t> out;
  for (size_t i = 0; i < 5; ++i) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(state_[i] >> shift));
  }
  return out;
}

std::vector<uint8_t> Digest(DigestKind kind, const uint8_t* data, size_t size) {
  Sha sha(kind);
  sha.Update(data, size);
  return sha.Finish();
}

}  // namespace pkgtool
