// pkgtool's reading of a PE image, on the fuzz input: what kind of program it
// is, its certificate table, whether it can be a package, its resource tree
// (icon groups, version information, manifest, the launcher's settings) as
// inspect describes it, and, for a stub whose resources can be rewritten,
// the rewrite a build makes. Every file a vendor or an analyst hands pkgtool
// goes through these.
//
// Findings: a crash or overread; an exception other than the readers' own
// errors; a certificate table outside the file; a rewritten image whose
// resources do not read back as written.
#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "authoring/PeResources.h"
#include "authoring/VendorResources.h"
#include "tests/fuzz/ToolReaderFuzzer.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/PeFacts.h"
#include "tools/pkgtool/VendorOptions.h"

namespace {

using stub::fuzz::Fail;

// The same resources, in any order: a rewrite sorts them as Windows
// searches them.
bool SameResources(std::vector<stub::pe::Resource> a, std::vector<stub::pe::Resource> b) {
  auto key = [](const stub::pe::Resource& r) {
    return std::make_tuple(r.type.IsName(), r.type.name, r.type.id, r.name.IsName(), r.name.name, r.name.id,
                           r.language, r.data);
  };
  auto before = [&](const stub::pe::Resource& x, const stub::pe::Resource& y) { return key(x) < key(y); };
  std::sort(a.begin(), a.end(), before);
  std::sort(b.begin(), b.end(), before);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (key(a[i]) != key(b[i])) return false;
  }
  return true;
}

void Read(const std::vector<uint8_t>& bytes) {
  const pkgtool::ProgramImage image = pkgtool::DescribeImage(bytes);
  if (image.description.empty()) Fail("an image described as nothing");
  pkgtool::FitsSlot(image, false);
  pkgtool::FitsSlot(image, true);
  if (const auto table = pkgtool::FindCertificateTable(bytes)) {
    if (table->offset > bytes.size() || table->size > bytes.size() - table->offset) {
      Fail("a certificate table outside the file");
    }
    if (pkgtool::UnsignedEnd(bytes, *table, bytes.size() / 2) > bytes.size()) Fail("an end past the file");
  }
  pkgtool::NotAPackage(bytes);

  const nlohmann::json resources = pkgtool::DescribeVendorResources(bytes);
  if (pkgtool::RenderVendorResourcesText(resources).empty()) Fail("empty resource report");

  std::vector<stub::pe::Resource> tree;
  try {
    tree = stub::pe::ReadResources(bytes);
  } catch (const stub::pe::PeError&) {
    return;
  }
  // What a build does with a stub: rewrite its resource section with the
  // same resources; they must read back as they were.
  std::vector<uint8_t> stub = bytes;
  try {
    stub::pe::MoveResourcesLast(stub);
    if (!stub::pe::ResourceLayoutProblem(stub).empty()) return;
    const std::vector<stub::pe::Resource> before = stub::pe::ReadResources(stub);
    const std::vector<uint8_t> rewritten = stub::pe::ReplaceResources(stub, before);
    if (!SameResources(stub::pe::ReadResources(rewritten), before)) Fail("rewritten resources differ");
  } catch (const stub::pe::PeError&) {
  }
}

}  // namespace

namespace stub::fuzz {

const char kReaderName[] = "PE reader";

void CheckInput(const uint8_t* data, size_t size) {
  Read(std::vector<uint8_t>(data, data + size));
}

}  // namespace stub::fuzz
