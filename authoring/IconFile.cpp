#include "authoring/IconFile.h"

#include <cstring>

#include "package/StubTypes.h"

namespace stub::icon {

namespace {

constexpr size_t kDirectorySize = 6;
constexpr size_t kFileEntrySize = 16;
constexpr size_t kGroupEntrySize = 14;
constexpr uint32_t kMaxSide = 256;

uint32_t Get32BigEndian(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// 256 is stored as 0 in a one-byte size field.
uint8_t SizeByte(uint32_t side) { return side >= 256 ? 0 : static_cast<uint8_t>(side); }

std::string Position(size_t index) { return "image " + std::to_string(index + 1); }

}  // namespace

std::vector<IconImage> ReadIcoFile(const std::vector<uint8_t>& file) {
  if (file.size() < kDirectorySize || ReadU16(&file[0]) != 0 || ReadU16(&file[2]) != 1) {
    throw IconError("not an icon file (no .ico header)");
  }
  const size_t count = ReadU16(&file[4]);
  if (count == 0) throw IconError("the icon file holds no images");
  if (kDirectorySize + count * kFileEntrySize > file.size()) {
    throw IconError("not an icon file (its directory runs past the end of the file)");
  }
  std::vector<IconImage> images;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = &file[kDirectorySize + i * kFileEntrySize];
    const uint64_t size = ReadU32(e + 8), offset = ReadU32(e + 12);
    if (size == 0 || offset + size > file.size() || offset < kDirectorySize + count * kFileEntrySize) {
      throw IconError("not an icon file (" + Position(i) + " lies outside the file)");
    }
    IconImage image;
    image.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                       file.begin() + static_cast<std::ptrdiff_t>(offset + size));
    image.colorCount = e[2];
    image.planes = ReadU16(e + 4);
    image.bitCount = ReadU16(e + 6);
    const uint8_t* p = image.bytes.data();
    if (size >= 24 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0 &&
        std::memcmp(p + 12, "IHDR", 4) == 0) {
      image.png = true;
      image.width = Get32BigEndian(p + 16);
      image.height = Get32BigEndian(p + 20);
      if (image.bitCount == 0 && size >= 26) {
        // Colour type 6 (RGBA) at 8 bits a sample is what icons use.
        image.bitCount = p[25] == 6 ? static_cast<uint16_t>(4 * p[24]) : p[24];
      }
    } else if (size >= 40 && ReadU32(p) >= 40) {
      // A DIB: the height counts the colour image and the AND mask.
      const int32_t width = static_cast<int32_t>(ReadU32(p + 4));
      const int32_t height = static_cast<int32_t>(ReadU32(p + 8));
      if (width <= 0 || height <= 0) {
        throw IconError("not an icon file (" + Position(i) + " has no valid size)");
      }
      image.width = static_cast<uint32_t>(width);
      image.height = static_cast<uint32_t>(height) / 2;
      if (image.bitCount == 0) image.bitCount = ReadU16(p + 14);
    } else {
      throw IconError("not an icon file (" + Position(i) + " is neither PNG nor a bitmap)");
    }
    if (image.width == 0 || image.height == 0) {
      throw IconError("not an icon file (" + Position(i) + " has no valid size)");
    }
    if (image.width > kMaxSide || image.height > kMaxSide) {
      throw IconError(Position(i) + " is " + std::to_string(image.width) + "x" +
                      std::to_string(image.height) + " pixels; icons are at most 256x256");
    }
    if (image.planes == 0) image.planes = 1;
    images.push_back(std::move(image));
  }
  return images;
}

std::vector<uint8_t> GroupIconData(const std::vector<IconImage>& images, uint16_t firstId) {
  std::vector<uint8_t> out(kDirectorySize + images.size() * kGroupEntrySize, 0);
  WriteU16(&out[2], 1);
  WriteU16(&out[4], static_cast<uint16_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const IconImage& image = images[i];
    const size_t e = kDirectorySize + i * kGroupEntrySize;
    out[e] = SizeByte(image.width);
    out[e + 1] = SizeByte(image.height);
    out[e + 2] = image.colorCount;
    WriteU16(&out[e + 4], image.planes);
    WriteU16(&out[e + 6], image.bitCount);
    WriteU32(&out[e + 8], static_cast<uint32_t>(image.bytes.size()));
    WriteU16(&out[e + 12], static_cast<uint16_t>(firstId + i));
  }
  return out;
}

std::vector<GroupEntry> ReadGroupIconData(const std::vector<uint8_t>& data) {
  if (data.size() < kDirectorySize || ReadU16(&data[2]) != 1) {
    throw IconError("the icon group is malformed");
  }
  const size_t count = ReadU16(&data[4]);
  if (kDirectorySize + count * kGroupEntrySize > data.size()) {
    throw IconError("the icon group is malformed");
  }
  std::vector<GroupEntry> entries;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = &data[kDirectorySize + i * kGroupEntrySize];
    entries.push_back({e[0] ? e[0] : 256u, e[1] ? e[1] : 256u, ReadU16(e + 6), ReadU32(e + 8),
                       ReadU16(e + 12)});
  }
  return entries;
}

}  // namespace stub::icon
