#include "authoring/VendorResources.h"

#include <algorithm>

#include "authoring/PeResources.h"

namespace stub::writer {

namespace {

constexpr uint16_t kMainIconGroup = 1;
constexpr uint16_t kFirstIconId = 1;
constexpr uint16_t kVersionId = 1;
constexpr uint16_t kRtRcData = 10;

bool IsSettings(const pe::Resource& r) {
  return !r.type.IsName() && r.type.id == kRtRcData && r.name.name == kSettingsResourceName;
}

}  // namespace

std::vector<uint8_t> ApplyVendorResources(const std::vector<uint8_t>& stub,
                                          const VendorResources& vendor) {
  if (vendor.Empty()) return stub;
  std::vector<pe::Resource> resources = pe::ReadResources(stub);
  auto drop = [&](uint16_t type) {
    std::erase_if(resources, [&](const pe::Resource& r) { return !r.type.IsName() && r.type.id == type; });
  };
  if (vendor.icon) {
    if (vendor.icon->size() > 0xFFFF - kFirstIconId) throw pe::PeError("the icon holds too many images");
    drop(pe::kRtIcon);
    drop(pe::kRtGroupIcon);
    for (size_t i = 0; i < vendor.icon->size(); ++i) {
      pe::Resource image;
      image.type.id = pe::kRtIcon;
      image.name.id = static_cast<uint16_t>(kFirstIconId + i);
      image.data = (*vendor.icon)[i].bytes;
      resources.push_back(std::move(image));
    }
    pe::Resource group;
    group.type.id = pe::kRtGroupIcon;
    group.name.id = kMainIconGroup;
    group.data = icon::GroupIconData(*vendor.icon, kFirstIconId);
    resources.push_back(std::move(group));
  }
  if (vendor.version) {
    drop(pe::kRtVersion);
    pe::Resource version;
    version.type.id = pe::kRtVersion;
    version.name.id = kVersionId;
    version.language = vendor.version->language;
    version.data = version::EncodeVersionInfo(*vendor.version);
    resources.push_back(std::move(version));
  }
  if (vendor.launcher) {
    std::erase_if(resources, IsSettings);
    pe::Resource settings;
    settings.type.id = kRtRcData;
    settings.name.name = kSettingsResourceName;
    try {
      settings.data = EncodeLauncherSettings(*vendor.launcher);
    } catch (const std::invalid_argument& e) {
      throw pe::PeError(std::string("the launcher settings: ") + e.what());
    }
    resources.push_back(std::move(settings));
  }
  return pe::ReplaceResources(stub, resources);
}

ResourceSummary SummarizeResources(const std::vector<uint8_t>& image) {
  ResourceSummary summary;
  try {
    const std::vector<pe::Resource> resources = pe::ReadResources(image);
    auto ofType = [&](uint16_t type) {
      std::vector<const pe::Resource*> found;
      for (const pe::Resource& r : resources) {
        if (!r.type.IsName() && r.type.id == type) found.push_back(&r);
      }
      return found;
    };
    // Tree order is Windows' search order: the first group is the one
    // Explorer shows.
    const auto groups = ofType(pe::kRtGroupIcon);
    if (!groups.empty()) summary.icons = icon::ReadGroupIconData(groups.front()->data);
    const auto versions = ofType(pe::kRtVersion);
    if (!versions.empty()) summary.version = version::DecodeVersionInfo(versions.front()->data);
    summary.manifest = !ofType(pe::kRtManifest).empty();
    for (const pe::Resource& r : resources) {
      if (!IsSettings(r)) continue;
      summary.launcher = DecodeLauncherSettingsChoice(r.data);
      summary.launcherDamaged = !summary.launcher;
      break;
    }
  } catch (const std::exception& e) {
    summary.problem = e.what();
  }
  return summary;
}

}  // namespace stub::writer
