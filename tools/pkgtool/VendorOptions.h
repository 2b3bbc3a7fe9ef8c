// pkgtool's side of the vendor's resources: the build options that name
// them (--icon, --version-info, --version-language), what inspect shows of
// them, and where an installed pkgtool finds its stub.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "authoring/VendorResources.h"

namespace pkgtool {

// Reads the .ico and checks the settings. ToolError naming the file or the
// option: an .ico that is not one or holds an image above 256x256, a key
// that is unknown or given twice, a version that is not 1 to 4 dotted
// numbers up to 65535, a language that is not a number up to 0xFFFF. The
// sources name where the icon and the language were given ("--icon", or a
// recipe's field).
stub::writer::VendorResources ReadVendorOptions(const std::string& iconPath,
                                                const std::vector<std::string>& versionInfo,
                                                const std::string& versionLanguage,
                                                const std::string& iconSource = "--icon",
                                                const std::string& languageSource = "--version-language");

// The stub with the vendor's resources in place; ToolError naming the stub
// when its resources cannot be rewritten.
std::vector<uint8_t> StubWithVendorResources(const std::vector<uint8_t>& stub,
                                             const std::string& stubPath,
                                             const stub::writer::VendorResources& vendor);

// inspect: the main icon's images and the version strings.
nlohmann::json DescribeVendorResources(const std::vector<uint8_t>& package);
// The same as lines for RenderPackageText, each already ending in '\n'.
std::string RenderVendorResourcesText(const nlohmann::json& resources);

// The stub a build uses when --stub is not given: Stub32.exe beside the
// pkgtool executable, else the installed one in ../share/setup-launcher/.
// ToolError naming both places when neither exists.
std::string DefaultStubPath();

// What `pkgtool --version` prints: its own version and liblzma's, whose
// encoder decides the packed bytes.
std::string VersionText();

}  // namespace pkgtool
