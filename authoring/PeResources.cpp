#include "authoring/PeResources.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "package/StubTypes.h"

namespace stub::pe {

namespace {

constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint32_t kRelocDirectory = 5;
constexpr uint32_t kInitializedData = 0x40;
constexpr unsigned kTreeDepth = 3;  // type, name, language

uint16_t Get16(const std::vector<uint8_t>& b, uint64_t at) {
  if (at + 2 > b.size()) throw PeError("the image is cut short");
  return ReadU16(&b[at]);
}
uint32_t Get32(const std::vector<uint8_t>& b, uint64_t at) {
  if (at + 4 > b.size()) throw PeError("the image is cut short");
  return ReadU32(&b[at]);
}
void Put16(std::vector<uint8_t>& b, uint64_t at, uint16_t v) { WriteU16(&b[at], v); }
void Put32(std::vector<uint8_t>& b, uint64_t at, uint32_t v) { WriteU32(&b[at], v); }
uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return alignment ? (value + alignment - 1) / alignment * alignment : value;
}

struct Section {
  uint64_t entry;  // file offset of its section-table entry
  uint32_t virtualSize, rva, rawSize, rawPointer, characteristics;
  uint32_t End() const { return rva + std::max(virtualSize, rawSize); }
};

// Where the fields ReplaceResources touches live in this image.
struct Layout {
  uint64_t optional = 0;
  uint64_t directories = 0;
  uint32_t directoryCount = 0;
  uint32_t sectionAlignment = 0, fileAlignment = 0;
  std::vector<Section> sections;

  uint64_t Directory(uint32_t index) const {
    return index < directoryCount ? directories + 8ull * index : 0;
  }
  uint32_t DirectoryRva(const std::vector<uint8_t>& b, uint32_t index) const {
    return Directory(index) ? Get32(b, Directory(index)) : 0;
  }
  uint32_t DirectorySize(const std::vector<uint8_t>& b, uint32_t index) const {
    return Directory(index) ? Get32(b, Directory(index) + 4) : 0;
  }
  // The section holding `rva`, or -1.
  int SectionOf(uint32_t rva) const {
    for (size_t i = 0; i < sections.size(); ++i) {
      const Section& s = sections[i];
      if (rva >= s.rva && rva < s.End()) return static_cast<int>(i);
    }
    return -1;
  }
};

Layout ReadLayout(const std::vector<uint8_t>& b) {
  if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') throw PeError("not a Windows executable");
  Layout l;
  const uint64_t pe = Get32(b, kLfanewField);
  if (Get32(b, pe) != 0x00004550u) throw PeError("no PE header where the MZ header points");
  const uint16_t count = Get16(b, pe + 6);
  const uint16_t optionalSize = Get16(b, pe + 20);
  l.optional = pe + 24;
  const uint16_t magic = Get16(b, l.optional);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) throw PeError("unknown optional header");
  const uint64_t countField = l.optional + (magic == kPe32Magic ? 92 : 108);
  l.directories = countField + 4;
  l.directoryCount = std::min<uint32_t>(Get32(b, countField), 16);
  if (l.directories + 8ull * l.directoryCount > l.optional + optionalSize) {
    throw PeError("the data directories run past the optional header");
  }
  l.sectionAlignment = Get32(b, l.optional + 32);
  l.fileAlignment = Get32(b, l.optional + 36);
  if (l.sectionAlignment == 0 || l.fileAlignment == 0) throw PeError("zero section alignment");
  // Windows loads nothing else, and a rewrite pads the section to it: a few
  // bytes of header must not make pkgtool write gigabytes.
  if ((l.fileAlignment & (l.fileAlignment - 1)) != 0 || l.fileAlignment > 0x10000) {
    throw PeError("a file alignment that is not a power of two up to 64 KiB");
  }
  const uint64_t table = l.optional + optionalSize;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t e = table + static_cast<uint64_t>(i) * kSectionEntrySize;
    l.sections.push_back({e, Get32(b, e + 8), Get32(b, e + 12), Get32(b, e + 16), Get32(b, e + 20),
                          Get32(b, e + 36)});
  }
  return l;
}

// ------------------------------------------------------------- reading ----

class TreeReader {
 public:
  TreeReader(const std::vector<uint8_t>& image, const Section& s)
      : image_(image), section_(s) {
    if (static_cast<uint64_t>(s.rawPointer) + s.rawSize > image.size()) {
      throw PeError("the resource section lies beyond the end of the file");
    }
  }

  void Walk(uint32_t offset, unsigned depth, Resource& path, std::vector<Resource>& out) {
    const uint16_t named = U16(offset + 12), ids = U16(offset + 14);
    for (uint32_t i = 0; i < static_cast<uint32_t>(named) + ids; ++i) {
      const uint32_t entry = offset + 16 + 8 * i;
      const uint32_t nameField = U32(entry), target = U32(entry + 4);
      ResourceId id;
      if (nameField & 0x80000000u) {
        const uint32_t at = nameField & 0x7FFFFFFFu;
        const uint16_t length = U16(at);
        for (uint32_t c = 0; c < length; ++c) id.name += static_cast<char16_t>(U16(at + 2 + 2 * c));
        if (id.name.empty()) throw PeError("a resource has an empty name");
      } else {
        id.id = static_cast<uint16_t>(nameField);
      }
      const bool subdirectory = (target & 0x80000000u) != 0;
      if (subdirectory != (depth + 1 < kTreeDepth)) throw PeError("the resource tree is malformed");
      if (depth == 0) path.type = id;
      if (depth == 1) path.name = id;
      if (subdirectory) {
        Walk(target & 0x7FFFFFFFu, depth + 1, path, out);
        continue;
      }
      path.language = id.id;
      const uint32_t rva = U32(target), size = U32(target + 4);
      path.codePage = U32(target + 8);
      if (rva < section_.rva || static_cast<uint64_t>(rva - section_.rva) + size > section_.rawSize) {
        throw PeError("a resource's data lie outside the resource section");
      }
      const auto begin = image_.begin() + section_.rawPointer + (rva - section_.rva);
      path.data.assign(begin, begin + size);
      out.push_back(path);
      if (out.size() > 65536) throw PeError("the resource tree is malformed");
    }
  }

 private:
  uint16_t U16(uint64_t at) const { return Get16(image_, Checked(at, 2)); }
  uint32_t U32(uint64_t at) const { return Get32(image_, Checked(at, 4)); }
  uint64_t Checked(uint64_t at, uint64_t width) const {
    if (at + width > section_.rawSize) throw PeError("the resource tree points outside its section");
    return section_.rawPointer + at;
  }

  const std::vector<uint8_t>& image_;
  const Section& section_;
};

// ------------------------------------------------------------- writing ----

bool IdLess(const ResourceId& a, const ResourceId& b) {
  if (a.IsName() != b.IsName()) return a.IsName();
  return a.IsName() ? a.name < b.name : a.id < b.id;
}

void PutId(std::vector<uint8_t>& out, uint64_t entry, const ResourceId& id,
           std::map<std::u16string, uint32_t>& strings) {
  Put32(out, entry, id.IsName() ? 0x80000000u | strings.at(id.name) : id.id);
}

// Where ReplaceResources may write: the resource section, last in the image
// and at its end.
const Section& ReplaceableSection(const std::vector<uint8_t>& image, const Layout& l) {
  if (l.DirectorySize(image, kSecurityDirectory) != 0) {
    throw PeError("the image is signed; sign the package instead, after building it");
  }
  const uint32_t rva = l.DirectoryRva(image, kResourceDirectory);
  if (rva == 0) throw PeError("the image has no resource section");
  const int index = l.SectionOf(rva);
  if (index < 0 || l.sections[index].rva != rva) {
    throw PeError("the resources do not start a section of their own");
  }
  const Section& s = l.sections[index];
  for (const Section& other : l.sections) {
    if (&other != &s && (other.rva > s.rva || other.rawPointer > s.rawPointer)) {
      throw PeError("the resources are not the last section of the image");
    }
  }
  if (static_cast<uint64_t>(s.rawPointer) + s.rawSize != image.size()) {
    throw PeError("data follow the image's last section");
  }
  return s;
}

}  // namespace

std::vector<Resource> ReadResources(const std::vector<uint8_t>& image) {
  const Layout l = ReadLayout(image);
  const uint32_t rva = l.DirectoryRva(image, kResourceDirectory);
  std::vector<Resource> out;
  if (rva == 0) return out;
  const int index = l.SectionOf(rva);
  if (index < 0) throw PeError("the resource directory lies outside every section");
  TreeReader reader(image, l.sections[index]);
  Resource path;
  reader.Walk(rva - l.sections[index].rva, 0, path, out);
  return out;
}

std::vector<uint8_t> EncodeResourceSection(std::vector<Resource> resources, uint32_t sectionRva) {
  std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
    if (!(a.type == b.type)) return IdLess(a.type, b.type);
    if (!(a.name == b.name)) return IdLess(a.name, b.name);
    return a.language < b.language;
  });
  for (size_t i = 1; i < resources.size(); ++i) {
    const Resource& a = resources[i - 1];
    const Resource& b = resources[i];
    if (a.type == b.type && a.name == b.name && a.language == b.language) {
      throw PeError("two resources share type, name and language");
    }
  }
  // The tree's shape: types, then the names of each type, then the
  // languages of each name (ranges of `resources`).
  struct Node {
    size_t begin, end;
  };
  std::vector<Node> types, names;
  for (size_t i = 0; i < resources.size(); ++i) {
    if (i == 0 || !(resources[i].type == resources[i - 1].type)) types.push_back({i, i});
    types.back().end = i + 1;
    if (i == 0 || !(resources[i].type == resources[i - 1].type) ||
        !(resources[i].name == resources[i - 1].name)) {
      names.push_back({i, i});
    }
    names.back().end = i + 1;
  }
  // Directories first (root, one per type, one per name), then the data
  // entries, the name strings and the data themselves.
  const uint64_t dirBytes = 16 * (1 + types.size() + names.size()) +
                            8 * (types.size() + names.size() + resources.size());
  const uint64_t entriesAt = dirBytes;
  uint64_t at = entriesAt + 16 * resources.size();
  std::map<std::u16string, uint32_t> strings;
  for (const Resource& r : resources) {
    for (const ResourceId* id : {&r.type, &r.name}) {
      if (!id->IsName() || strings.count(id->name)) continue;
      if (id->name.size() > 0xFFFF) throw PeError("a resource name is too long");
      strings[id->name] = static_cast<uint32_t>(at);
      at += 2 + 2 * id->name.size();
    }
  }
  std::vector<uint64_t> dataAt;
  for (const Resource& r : resources) {
    at = AlignUp(at, 8);
    dataAt.push_back(at);
    at += r.data.size();
  }
  if (at > 0x7FFFFFFFu) throw PeError("the resources are too large");
  std::vector<uint8_t> out(AlignUp(at, 8), 0);

  auto directory = [&](uint64_t offset, const std::vector<const ResourceId*>& ids) {
    uint16_t named = 0;
    for (const ResourceId* id : ids) named += id->IsName();
    Put16(out, offset + 12, named);
    Put16(out, offset + 14, static_cast<uint16_t>(ids.size() - named));
  };
  uint64_t next = 0;  // next free directory offset
  const uint64_t root = next;
  next += 16 + 8 * types.size();
  size_t nameIndex = 0;
  {
    std::vector<const ResourceId*> ids;
    for (const Node& t : types) ids.push_back(&resources[t.begin].type);
    directory(root, ids);
  }
  size_t leaf = 0;
  for (size_t t = 0; t < types.size(); ++t) {
    const uint64_t typeDir = next;
    PutId(out, root + 16 + 8 * t, resources[types[t].begin].type, strings);
    Put32(out, root + 16 + 8 * t + 4, 0x80000000u | static_cast<uint32_t>(typeDir));
    std::vector<const ResourceId*> nameIds;
    const size_t firstName = nameIndex;
    while (nameIndex < names.size() && names[nameIndex].begin < types[t].end) {
      nameIds.push_back(&resources[names[nameIndex].begin].name);
      ++nameIndex;
    }
    next += 16 + 8 * nameIds.size();
    directory(typeDir, nameIds);
    for (size_t n = firstName; n < nameIndex; ++n) {
      const uint64_t nameEntry = typeDir + 16 + 8 * (n - firstName);
      const uint64_t languageDir = next;
      PutId(out, nameEntry, resources[names[n].begin].name, strings);
      Put32(out, nameEntry + 4, 0x80000000u | static_cast<uint32_t>(languageDir));
      const size_t languages = names[n].end - names[n].begin;
      next += 16 + 8 * languages;
      Put16(out, languageDir + 14, static_cast<uint16_t>(languages));
      for (size_t k = 0; k < languages; ++k, ++leaf) {
        const Resource& r = resources[leaf];
        const uint64_t entry = entriesAt + 16 * leaf;
        Put32(out, languageDir + 16 + 8 * k, r.language);
        Put32(out, languageDir + 16 + 8 * k + 4, static_cast<uint32_t>(entry));
        Put32(out, entry, sectionRva + static_cast<uint32_t>(dataAt[leaf]));
        Put32(out, entry + 4, static_cast<uint32_t>(r.data.size()));
        Put32(out, entry + 8, r.codePage);
        std::copy(r.data.begin(), r.data.end(), out.begin() + static_cast<std::ptrdiff_t>(dataAt[leaf]));
      }
    }
  }
  for (const auto& [name, offset] : strings) {
    Put16(out, offset, static_cast<uint16_t>(name.size()));
    for (size_t c = 0; c < name.size(); ++c) Put16(out, offset + 2 + 2 * c, name[c]);
  }
  return out;
}

std::string ResourceLayoutProblem(const std::vector<uint8_t>& image) {
  try {
    ReplaceableSection(image, ReadLayout(image));
    return {};
  } catch (const PeError& e) {
    return e.what();
  }
}

std::vector<uint8_t> ReplaceResources(const std::vector<uint8_t>& image,
                                      const std::vector<Resource>& resources) {
  const Layout l = ReadLayout(image);
  const Section& s = ReplaceableSection(image, l);
  const std::vector<uint8_t> section = EncodeResourceSection(resources, s.rva);
  const uint64_t rawSize = AlignUp(section.size(), l.fileAlignment);
  const uint64_t imageSize = AlignUp(static_cast<uint64_t>(s.rva) + section.size(), l.sectionAlignment);
  if (s.rawPointer + rawSize > 0x7FFFFFFFu || imageSize > 0x7FFFFFFFu) {
    throw PeError("the resources are too large");
  }
  std::vector<uint8_t> out(image.begin(), image.begin() + s.rawPointer);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(s.rawPointer + rawSize, 0);
  Put32(out, s.entry + 8, static_cast<uint32_t>(section.size()));
  Put32(out, s.entry + 16, static_cast<uint32_t>(rawSize));
  if (s.characteristics & kInitializedData) {
    const uint32_t initialized = Get32(out, l.optional + 8);
    Put32(out, l.optional + 8, static_cast<uint32_t>(initialized - s.rawSize + rawSize));
  }
  Put32(out, l.optional + 56, static_cast<uint32_t>(imageSize));
  Put32(out, l.optional + 64, 0);
  Put32(out, l.Directory(kResourceDirectory) + 4, static_cast<uint32_t>(section.size()));
  return out;
}

bool MoveResourcesLast(std::vector<uint8_t>& image) {
  const Layout l = ReadLayout(image);
  const uint32_t rva = l.DirectoryRva(image, kResourceDirectory);
  if (rva == 0) return false;
  const int index = l.SectionOf(rva);
  if (index < 0 || l.sections[index].rva != rva) {
    throw PeError("the resources do not start a section of their own");
  }
  const Section rsrc = l.sections[index];
  std::vector<const Section*> after;
  for (const Section& s : l.sections) {
    if (s.rva > rsrc.rva) after.push_back(&s);
  }
  if (after.empty()) return false;
  const uint32_t relocRva = l.DirectoryRva(image, kRelocDirectory);
  if (after.size() != 1 || relocRva < after[0]->rva || relocRva >= after[0]->End() ||
      after[0]->rawPointer < rsrc.rawPointer) {
    throw PeError("sections other than the base relocations follow the resources");
  }
  const Section reloc = *after[0];
  if (static_cast<uint64_t>(reloc.rawPointer) + reloc.rawSize > image.size()) {
    throw PeError("the base relocations lie beyond the end of the file");
  }
  std::vector<Resource> resources = ReadResources(image);

  // The relocations take the resources' place; their blocks name pages of
  // other sections, so they do not change. The resources follow them.
  const uint32_t newRelocRva = rsrc.rva;
  const uint32_t newRelocRaw = rsrc.rawPointer;
  const uint32_t newRsrcRva =
      static_cast<uint32_t>(AlignUp(static_cast<uint64_t>(newRelocRva) + reloc.End() - reloc.rva,
                                    l.sectionAlignment));
  const uint32_t newRsrcRaw = newRelocRaw + reloc.rawSize;
  std::vector<uint8_t> out(image.begin(), image.begin() + rsrc.rawPointer);
  out.insert(out.end(), image.begin() + reloc.rawPointer,
             image.begin() + reloc.rawPointer + reloc.rawSize);
  const std::vector<uint8_t> section = EncodeResourceSection(resources, newRsrcRva);
  const uint64_t rawSize = AlignUp(section.size(), l.fileAlignment);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(newRsrcRaw + rawSize, 0);
  // Section table: the entries swap places too, so the table stays in
  // address order.
  std::vector<uint8_t> relocEntry(image.begin() + reloc.entry, image.begin() + reloc.entry + 40);
  std::vector<uint8_t> rsrcEntry(image.begin() + rsrc.entry, image.begin() + rsrc.entry + 40);
  Put32(relocEntry, 12, newRelocRva);
  Put32(relocEntry, 20, newRelocRaw);
  Put32(rsrcEntry, 8, static_cast<uint32_t>(section.size()));
  Put32(rsrcEntry, 12, newRsrcRva);
  Put32(rsrcEntry, 16, static_cast<uint32_t>(rawSize));
  Put32(rsrcEntry, 20, newRsrcRaw);
  const uint64_t first = std::min(rsrc.entry, reloc.entry), second = std::max(rsrc.entry, reloc.entry);
  std::copy(relocEntry.begin(), relocEntry.end(), out.begin() + first);
  std::copy(rsrcEntry.begin(), rsrcEntry.end(), out.begin() + second);
  if (rsrc.characteristics & kInitializedData) {
    const uint32_t initialized = Get32(out, l.optional + 8);
    Put32(out, l.optional + 8, static_cast<uint32_t>(initialized - rsrc.rawSize + rawSize));
  }
  Put32(out, l.Directory(kResourceDirectory), newRsrcRva);
  Put32(out, l.Directory(kResourceDirectory) + 4, static_cast<uint32_t>(section.size()));
  Put32(out, l.Directory(kRelocDirectory), newRelocRva + (relocRva - reloc.rva));
  Put32(out, l.optional + 56,
        static_cast<uint32_t>(AlignUp(static_cast<uint64_t>(newRsrcRva) + section.size(),
                                      l.sectionAlignment)));
  Put32(out, l.optional + 64, 0);
  image.swap(out);
  return true;
}

namespace {

// The one code section both minimal images carry: a byte of `ret` at file
// offset 0x400, mapped at 0x1000, in one 0x200-byte file block.
void PutCodeSection(std::vector<uint8_t>& b, uint32_t entry) {
  std::memcpy(&b[entry], ".text", 5);
  Put32(b, entry + 8, 1);
  Put32(b, entry + 12, 0x1000);
  Put32(b, entry + 16, 0x200);
  Put32(b, entry + 20, 0x400);
  Put32(b, entry + 36, 0x60000020);  // code, execute, read
}

}  // namespace

std::vector<uint8_t> MinimalPeImage(const std::string& manifest) {
  constexpr uint32_t kPe = 256, kFileAlign = 0x200, kSectionAlign = 0x1000;
  std::vector<uint8_t> b(0x400, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, kLfanewField, kPe);
  std::memcpy(&b[kPe], "PE\0\0", 4);
  Put16(b, kPe + 4, 0x14C);   // i386
  Put16(b, kPe + 6, 2);       // sections
  Put16(b, kPe + 20, 224);    // optional header size
  Put16(b, kPe + 22, 0x0122); // executable, 32-bit, large-address-aware
  const uint32_t o = kPe + 24;
  Put16(b, o, kPe32Magic);
  Put32(b, o + 4, kFileAlign);        // SizeOfCode
  Put32(b, o + 8, kFileAlign);        // SizeOfInitializedData
  Put32(b, o + 16, 0x1000);           // entry point
  Put32(b, o + 20, 0x1000);           // BaseOfCode
  Put32(b, o + 28, 0x400000);         // ImageBase
  Put32(b, o + 32, kSectionAlign);
  Put32(b, o + 36, kFileAlign);
  Put16(b, o + 40, 4);                // OS version
  Put16(b, o + 48, 4);                // subsystem version
  Put32(b, o + 56, 0x2000);           // SizeOfImage (until the resources go in)
  Put32(b, o + 60, 0x400);            // SizeOfHeaders
  Put16(b, o + 68, 2);                // GUI
  Put32(b, o + 72, 0x100000);
  Put32(b, o + 76, 0x1000);
  Put32(b, o + 80, 0x100000);
  Put32(b, o + 84, 0x1000);
  Put32(b, o + 92, 16);
  const uint32_t table = o + 224;
  PutCodeSection(b, table);
  std::memcpy(&b[table + 40], ".rsrc", 5);
  Put32(b, table + 40 + 12, 0x2000);
  Put32(b, table + 40 + 20, 0x600);
  Put32(b, table + 40 + 36, 0x40000040);  // initialised data, read
  Put32(b, o + 96 + 8 * kResourceDirectory, 0x2000);
  b.resize(0x600, 0);
  b[0x400] = 0xC3;  // ret
  Resource m;
  m.type.id = kRtManifest;
  m.name.id = 1;
  m.language = 0x0409;
  m.data.assign(manifest.begin(), manifest.end());
  // An empty resource section for ReplaceResources to fill.
  Put32(b, o + 96 + 8 * kResourceDirectory + 4, 16);
  Put32(b, table + 40 + 8, 16);
  Put32(b, table + 40 + 16, kFileAlign);
  b.resize(0x800, 0);
  return ReplaceResources(b, {m});
}

std::vector<uint8_t> MinimalProgramImage(bool x64) {
  constexpr uint32_t kPe = 128, kFileAlign = 0x200, kSectionAlign = 0x1000;
  const uint32_t optionalSize = x64 ? 240 : 224;
  std::vector<uint8_t> b(0x400, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, kLfanewField, kPe);
  std::memcpy(&b[kPe], "PE\0\0", 4);
  Put16(b, kPe + 4, x64 ? 0x8664 : 0x14C);  // AMD64 or i386
  Put16(b, kPe + 6, 1);                      // one section
  Put16(b, kPe + 20, optionalSize);
  Put16(b, kPe + 22, x64 ? 0x0022 : 0x0102);  // executable; large-address-aware or 32-bit
  const uint32_t o = kPe + 24;
  Put16(b, o, x64 ? 0x20B : kPe32Magic);
  Put32(b, o + 4, kFileAlign);  // SizeOfCode
  Put32(b, o + 16, 0x1000);     // entry point
  Put32(b, o + 20, 0x1000);     // BaseOfCode
  if (x64) {
    Put32(b, o + 24, 0x40000000);  // ImageBase, low half of 0x140000000
    Put32(b, o + 28, 1);
  } else {
    Put32(b, o + 28, 0x400000);
  }
  Put32(b, o + 32, kSectionAlign);
  Put32(b, o + 36, kFileAlign);
  Put16(b, o + 40, 6);       // OS version
  Put16(b, o + 48, 6);       // subsystem version
  Put32(b, o + 56, 0x2000);  // SizeOfImage
  Put32(b, o + 60, 0x400);   // SizeOfHeaders
  Put16(b, o + 68, 2);       // GUI
  // Stack and heap reserve and commit: four fields of 4 or 8 bytes.
  const uint32_t field = x64 ? 8 : 4;
  const uint32_t sizes[] = {0x100000, 0x1000, 0x100000, 0x1000};
  for (uint32_t i = 0; i < 4; ++i) Put32(b, o + 72 + i * field, sizes[i]);
  Put32(b, o + 72 + 4 * field + 4, 16);  // NumberOfRvaAndSizes
  const uint32_t table = o + optionalSize;
  PutCodeSection(b, table);
  b.resize(0x600, 0);
  b[0x400] = 0xC3;  // ret
  return b;
}

}  // namespace stub::pe
