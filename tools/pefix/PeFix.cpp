#include "tools/pefix/PeFix.h"

#include <algorithm>
#include <utility>

#include "authoring/PeResources.h"
#include "package/StubTypes.h"

namespace pefix {

namespace {

using stub::pe::kLfanewField;
using stub::pe::kPe32Magic;
using stub::pe::kPe32PlusMagic;
using stub::pe::kSectionEntrySize;

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kSignatureAndFileHeader = 24;
// Offsets inside the optional header; the same for PE32 and PE32+.
constexpr uint32_t kSizeOfHeadersField = 60;
constexpr uint32_t kCheckSumField = 64;
constexpr uint32_t kMinOptionalHeader = kCheckSumField + 4;

uint16_t Get16(const std::vector<uint8_t>& b, uint64_t at) { return stub::ReadU16(&b[at]); }
uint32_t Get32(const std::vector<uint8_t>& b, uint64_t at) { return stub::ReadU32(&b[at]); }
void Put32(std::vector<uint8_t>& b, uint64_t at, uint32_t v) { stub::WriteU32(&b[at], v); }

Outcome Refuse(std::string why) { return Outcome{false, false, std::move(why)}; }

}  // namespace

Outcome RelocatePeHeaders(std::vector<uint8_t>& image, const Placement& placement) {
  const uint64_t size = image.size();
  const uint64_t target = placement.headerOffset;
  const uint64_t roomStart = placement.roomStart;
  if (roomStart < kDosHeaderSize || roomStart > target)
    return Refuse("the room to clear must lie between the DOS header and the PE header");
  if (size < kDosHeaderSize || image[0] != 'M' || image[1] != 'Z')
    return Refuse("not an MZ executable");

  // 64-bit arithmetic throughout: every field below comes from the file.
  const uint64_t from = Get32(image, kLfanewField);
  if (from < kDosHeaderSize) return Refuse("e_lfanew points into the DOS header");
  if (from + kSignatureAndFileHeader > size) return Refuse("PE header lies beyond the end of the file");
  if (Get32(image, from) != 0x00004550u) return Refuse("no PE signature at e_lfanew");

  const uint64_t sections = Get16(image, from + 6);
  const uint64_t optionalSize = Get16(image, from + 20);
  const uint64_t optional = from + kSignatureAndFileHeader;
  if (optionalSize < kMinOptionalHeader) return Refuse("optional header too small");
  const uint64_t length = kSignatureAndFileHeader + optionalSize + sections * kSectionEntrySize;
  if (from + length > size) return Refuse("section table runs past the end of the file");
  const uint16_t magic = Get16(image, optional);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return Refuse("unknown optional header magic");

  // The headers may grow up to the first byte of section data, and never
  // beyond what SizeOfHeaders declares (the loader maps only that much).
  uint64_t limit = Get32(image, optional + kSizeOfHeadersField);
  const uint64_t table = optional + optionalSize;
  for (uint64_t i = 0; i < sections; ++i) {
    const uint64_t entry = table + i * kSectionEntrySize;
    const uint32_t rawSize = Get32(image, entry + 16);
    const uint32_t rawPointer = Get32(image, entry + 20);
    if (rawSize != 0 && rawPointer != 0) limit = std::min<uint64_t>(limit, rawPointer);
  }
  if (target + length > limit) {
    return Refuse("PE headers of " + std::to_string(length) + " bytes do not fit between offset " +
                  std::to_string(target) + " and " + std::to_string(limit));
  }
  if (limit > size) return Refuse("SizeOfHeaders lies beyond the end of the file");

  // Moving up, the block grows over bytes behind the old section table; they
  // must be free, since a linker that put anything there (bound imports,
  // say) would lose it. Moving down only covers what lay between the DOS
  // stub and the old header, which is the room being cleared anyway.
  for (uint64_t at = std::max(from + length, target); at < target + length; ++at) {
    if (image[at] != 0)
      return Refuse("data follows the section table at offset " + std::to_string(at));
  }

  std::vector<uint8_t> before = image;
  std::copy(before.begin() + static_cast<std::ptrdiff_t>(from),
            before.begin() + static_cast<std::ptrdiff_t>(from + length),
            image.begin() + static_cast<std::ptrdiff_t>(target));
  // Whatever the old block occupied outside the new one, and the room itself.
  for (uint64_t at = from; at < from + length; ++at) {
    if (at < target || at >= target + length) image[at] = 0;
  }
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(roomStart),
            image.begin() + static_cast<std::ptrdiff_t>(target), 0);
  Put32(image, kLfanewField, static_cast<uint32_t>(target));
  Put32(image, target + kSignatureAndFileHeader + kCheckSumField, 0);

  Outcome done;
  done.ok = true;
  done.changed = image != before;
  return done;
}

}  // namespace pefix
