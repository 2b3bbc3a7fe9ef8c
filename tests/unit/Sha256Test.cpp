// The portable SHA-256 that pkgtool records and the in-memory Windows
// checks, against the known answers of FIPS 180.
#include "platform/memory/Sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stub {
namespace {

std::string Hex(const Sha256Digest& digest) {
  std::string out;
  for (uint8_t b : digest) {
    out += "0123456789abcdef"[b >> 4];
    out += "0123456789abcdef"[b & 15];
  }
  return out;
}

struct KnownAnswer {
  const char* name;
  std::string message;
  const char* digest;
};
void PrintTo(const KnownAnswer& c, std::ostream* os) { *os << c.name; }

class Sha256Test : public testing::TestWithParam<KnownAnswer> {};

TEST_P(Sha256Test, GivesTheKnownAnswerWholeAndInUnevenPieces) {
  const KnownAnswer& c = GetParam();
  EXPECT_EQ(Hex(Sha256Of(c.message.data(), c.message.size())), c.digest);
  // Pieces that straddle the 64-byte blocks every way.
  Sha256 hash;
  size_t at = 0;
  for (size_t piece = 1; at < c.message.size(); piece = piece * 7 % 131 + 1) {
    const size_t count = std::min(piece, c.message.size() - at);
    hash.Add(c.message.data() + at, count);
    at += count;
  }
  EXPECT_EQ(Hex(hash.Finish()), c.digest);
}

INSTANTIATE_TEST_SUITE_P(
    Fips180, Sha256Test,
    testing::Values(
        KnownAnswer{"Empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        KnownAnswer{"Abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        KnownAnswer{"TwoBlocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                    "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        KnownAnswer{"MillionA", std::string(1000000, 'a'),
                    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}),
    [](const testing::TestParamInfo<KnownAnswer>& info) { return info.param.name; });

}  // namespace
}  // namespace stub
