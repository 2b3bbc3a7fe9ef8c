// A setup program handed to the copy step in fixed pieces, as the decoder
// hands it, optionally failing after a number of pieces.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "unpack/ProgramSource.h"

namespace stub {

class ProgramPieces final : public ProgramSource {
 public:
  static constexpr size_t kNever = SIZE_MAX;

  explicit ProgramPieces(std::vector<uint8_t> bytes, uint32_t pieceSize = 3,
                         size_t failAfter = kNever, Step failure = Step::kDamaged)
      : bytes_(std::move(bytes)), pieceSize_(pieceSize), failAfter_(failAfter), failure_(failure) {}

  uint32_t Size() const override { return static_cast<uint32_t>(bytes_.size()); }
  Step Next(const uint8_t*& piece, uint32_t& count) override {
    count = 0;
    if (delivered == failAfter_) return failure_;
    if (at_ == bytes_.size()) return Step::kDone;
    piece = bytes_.data() + at_;
    count = static_cast<uint32_t>(std::min<size_t>(pieceSize_, bytes_.size() - at_));
    at_ += count;
    ++delivered;
    return Step::kPiece;
  }

  size_t delivered = 0;  // pieces handed out so far

 private:
  std::vector<uint8_t> bytes_;
  uint32_t pieceSize_;
  size_t failAfter_;
  Step failure_;
  size_t at_ = 0;
};

}  // namespace stub
