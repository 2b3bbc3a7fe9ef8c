// The vendor's resources in the package's copy of the stub: the main icon and
// the version information. The stub's other resources (its manifest above
// all) stay as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "authoring/IconFile.h"
#include "authoring/LauncherResource.h"
#include "authoring/VersionResource.h"

namespace stub::writer {

struct VendorResources {
  // Every image of the vendor's .ico, as the main (first) icon group.
  std::optional<std::vector<icon::IconImage>> icon;
  std::optional<version::VersionInfo> version;
  // The launcher's settings (deployment mode, texts in other languages):
  // the stub gets its settings resource only when this is set.
  std::optional<LauncherSettingsChoice> launcher;

  bool Empty() const { return !icon && !version && !launcher; }
};

// A copy of `stub` carrying `vendor`: an icon replaces every icon and icon
// group the stub had (so it is the one Explorer shows), version information
// replaces the stub's, launcher settings replace any the stub had. Icons and
// settings go in language-neutral, so every lookup finds them; the version
// resource goes in under its own language. Throws
// pe::PeError when the stub's resources cannot be rewritten.
std::vector<uint8_t> ApplyVendorResources(const std::vector<uint8_t>& stub,
                                          const VendorResources& vendor);

// What a package's image says about its vendor, for inspect and for
// writing a recipe back.
struct ResourceSummary {
  std::vector<icon::GroupEntry> icons;  // the main icon group; empty without one
  std::optional<version::VersionInfo> version;
  std::optional<LauncherSettingsChoice> launcher;
  bool launcherDamaged = false;  // a settings resource is there but not sound
  bool manifest = false;
  std::string problem;  // why the resources could not be read; empty when they could
};

// Never throws on a damaged image: the problem goes into `problem`.
ResourceSummary SummarizeResources(const std::vector<uint8_t>& image);

}  // namespace stub::writer
