#include "authoring/ProgramFacts.h"

#include <exception>

#include "authoring/PeResources.h"
#include "authoring/VersionResource.h"
#include "platform/memory/Utf8.h"

namespace stub::writer {

namespace {

constexpr uint16_t kProgramManifestId = 1;  // CREATEPROCESS_MANIFEST_RESOURCE_ID

bool VersionNamesInstaller(const std::vector<uint8_t>& data) {
  static const char* const kKeys[] = {"FileDescription", "ProductName", "OriginalFilename",
                                      "InternalName", "CompanyName"};
  version::VersionInfo info;
  try {
    info = version::DecodeVersionInfo(data);
  } catch (const version::VersionError&) {
    return false;  // Windows finds no strings in it either
  }
  for (const auto& [key, value] : info.strings) {
    for (const char* wanted : kKeys) {
      if (key != wanted) continue;
      const std::u16string text = FromUtf8(value);
      if (NameSuggestsInstaller(Text(text.data(), text.size()))) return true;
    }
  }
  return false;
}

}  // namespace

ProgramFacts ReadProgramFacts(const std::vector<uint8_t>& program) {
  ProgramFacts facts;
  std::vector<pe::Resource> resources;
  try {
    resources = pe::ReadResources(program);
  } catch (const std::exception&) {
    return facts;
  }
  facts.level = RequestedLevel::kNotStated;
  bool manifestSeen = false, versionSeen = false;
  for (const pe::Resource& r : resources) {
    if (r.type.IsName() || r.name.IsName()) continue;
    if (!manifestSeen && r.type.id == pe::kRtManifest && r.name.id == kProgramManifestId) {
      manifestSeen = true;
      facts.level = LevelFromManifest(r.data.data(), static_cast<uint32_t>(r.data.size()));
    } else if (!versionSeen && r.type.id == pe::kRtVersion) {
      versionSeen = true;
      facts.namedInstaller = VersionNamesInstaller(r.data);
    }
  }
  return facts;
}

}  // namespace stub::writer
