// .ico files and the icon resources made from them: each image becomes one
// RT_ICON resource, and one RT_GROUP_ICON lists them the way the .ico's own
// directory did, with resource ids in place of file offsets.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace stub::icon {

// Not an icon file, or one Windows could not show; the message names the
// problem, the caller names the file.
class IconError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct IconImage {
  uint32_t width = 0, height = 0;  // the image's own size, 1..256
  uint16_t planes = 1, bitCount = 0;
  uint8_t colorCount = 0;
  bool png = false;
  std::vector<uint8_t> bytes;  // the image as stored in the .ico
};

// Every image of an .ico, in file order. Refused: a file that is not an icon
// (bad directory, an image outside the file, images that are neither PNG
// nor a DIB), no images at all, and any image above 256x256 pixels. The
// size checked is the image's own, not the directory's (one byte there cannot
// say more than 256).
std::vector<IconImage> ReadIcoFile(const std::vector<uint8_t>& file);

// The RT_GROUP_ICON data for `images`, whose RT_ICON ids are firstId,
// firstId + 1, ...
std::vector<uint8_t> GroupIconData(const std::vector<IconImage>& images, uint16_t firstId);

// One entry of a group as read back from a package.
struct GroupEntry {
  uint32_t width = 0, height = 0;
  uint16_t bitCount = 0;
  uint32_t bytes = 0;
  uint16_t id = 0;
};

// The entries of RT_GROUP_ICON data; IconError when it is malformed.
std::vector<GroupEntry> ReadGroupIconData(const std::vector<uint8_t>& data);

}  // namespace stub::icon
