// The resources of a PE image: reading the resource tree, writing a new one,
// and the layout that lets a package writer replace it cheaply.
//
// The stub keeps its resources in its last section. Everything else in the
// image (code, data, imports, base relocations) then stays where the linker
// put it when the resources change: only that one section is rewritten and
// the fields that describe its size (section entry, SizeOfImage, the
// resource directory, SizeOfInitializedData) follow. No RVA outside the
// resource tree moves, so nothing needs relocating.
//
// Standard C++ only: pefix (built with the host compiler in the cross build)
// compiles this file on its own.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace stub::pe {

// Facts of the PE format that every reader of an image here starts from.
constexpr uint32_t kLfanewField = 0x3C;  // where the DOS header says the PE header is
constexpr uint32_t kSectionEntrySize = 40;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;

// Malformed or unsuitable image, with a message fit for the user.
class PeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Integer id or name (names are kept as written; Windows compares them
// upper-cased, which is how rc writes them).
struct ResourceId {
  uint16_t id = 0;
  std::u16string name;
  bool IsName() const { return !name.empty(); }
  bool operator==(const ResourceId&) const = default;
};

struct Resource {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

constexpr uint16_t kRtIcon = 3;
constexpr uint16_t kRtGroupIcon = 14;
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kRtManifest = 24;

// Every leaf of the image's resource tree, in tree order. An image without
// resources gives an empty list. PeError on anything malformed.
std::vector<Resource> ReadResources(const std::vector<uint8_t>& image);

// The bytes of a resource section holding `resources`, placed at
// `sectionRva`. Entries are sorted as Windows searches them (names before
// ids, each ascending), so the same set gives the same bytes in any order.
std::vector<uint8_t> EncodeResourceSection(std::vector<Resource> resources, uint32_t sectionRva);

// A copy of `image` whose resources are exactly `resources`. The image must
// keep its resources in its last section and have nothing behind that
// section (no appended data, no signature). The optional header's checksum
// is set to 0: whatever is appended later changes the file anyway, and
// Windows checks it only for drivers.
std::vector<uint8_t> ReplaceResources(const std::vector<uint8_t>& image,
                                      const std::vector<Resource>& resources);

// Why ReplaceResources would refuse `image`, or an empty string.
std::string ResourceLayoutProblem(const std::vector<uint8_t>& image);

// Makes the resource section the last one, for ReplaceResources. Handles the
// GNU linker's layout, where only the base relocations follow it: they swap
// places, the resource tree is re-encoded at its new address. Returns false
// when the image already had that layout (or has no resources); PeError when
// anything other than base relocations follows the resources.
bool MoveResourcesLast(std::vector<uint8_t>& image);

// A small but complete PE32 image for tests: headers at 256, locator room
// zero, one code section and a last resource section holding `manifest` as
// resource 24/1. Windows tools (wrestool, osslsigncode) read it as a program.
std::vector<uint8_t> MinimalPeImage(const std::string& manifest);

// A small program image for tests that need a setup program of either kind:
// a PE32 image for i386, or with `x64` a PE32+ image for AMD64, whose one
// section returns at once. Data appended to it leave it that kind.
std::vector<uint8_t> MinimalProgramImage(bool x64);

}  // namespace stub::pe
