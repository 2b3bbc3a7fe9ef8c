// The setup program as the copy step receives it: a piece at a time, so that
// no more of it than one piece is ever held in memory.
#pragma once

#include <cstdint>

namespace stub {

class ProgramSource {
 public:
  enum class Step {
    kPiece,        // `piece` holds `count` more bytes, valid until the next call
    kDone,         // the program is complete: exactly Size() bytes were delivered
    kDamaged,      // the payload is damaged; nothing more will come
    kOutOfMemory,  // memory ran out part way; nothing more will come
  };

  // The program's size, as its package states it.
  virtual uint32_t Size() const = 0;
  virtual Step Next(const uint8_t*& piece, uint32_t& count) = 0;

 protected:
  ~ProgramSource() = default;
};

}  // namespace stub
