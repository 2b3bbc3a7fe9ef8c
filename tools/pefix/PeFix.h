// Makes room for the package locator in a freshly linked stub. The GNU linker
// puts the PE header right behind the DOS stub, at offset 128, which is where
// the package writer stores its locator. RelocatePeHeaders moves the whole
// header block (signature, file header, optional header, section table) up to
// a later offset, points e_lfanew at it and zero-fills the freed room.
//
// Nothing else in the image moves: sections keep their file offsets, so the
// block must still end within SizeOfHeaders and before the first section's
// raw data. An image where it would not is refused untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pefix {

struct Placement {
  uint32_t roomStart = 128;    // first byte that must end up zero
  uint32_t headerOffset = 256; // where the PE signature goes; also the end of the room
};

struct Outcome {
  bool ok = false;
  bool changed = false;  // false when the image already had the wanted layout
  std::string error;     // why the image was refused (ok == false)
};

// Rewrites `image` in place. On success e_lfanew equals headerOffset, the
// bytes [roomStart, headerOffset) are zero and the PE checksum is cleared
// (a package written into the image changes it anyway, and 0 tells Windows
// not to check it). On failure `image` is unchanged.
Outcome RelocatePeHeaders(std::vector<uint8_t>& image, const Placement& placement = {});

}  // namespace pefix
