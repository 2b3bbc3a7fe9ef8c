#include "tools/pkgtool/VendorOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "authoring/PackageWriter.h"
#include "authoring/PeResources.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/LauncherOptions.h"

#ifndef PKGTOOL_VERSION
#define PKGTOOL_VERSION "unknown"
#endif

namespace pkgtool {

namespace {

using nlohmann::json;

constexpr uint64_t kIconFileLimit = 16 << 20;

std::string Hex16(uint16_t value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%04X", value);
  return buffer;
}

}  // namespace

stub::writer::VendorResources ReadVendorOptions(const std::string& iconPath,
                                                const std::vector<std::string>& versionInfo,
                                                const std::string& versionLanguage,
                                                const std::string& iconSource,
                                                const std::string& languageSource) {
  stub::writer::VendorResources vendor;
  if (!iconPath.empty()) {
    try {
      vendor.icon =
          stub::icon::ReadIcoFile(ReadWholeFile(iconPath, kIconFileLimit, "the icon", iconSource));
    } catch (const stub::icon::IconError& e) {
      throw ToolError(WithSource(iconSource, iconPath + ": " + e.what()));
    }
  }
  uint16_t language = 0x0409;
  if (!versionLanguage.empty()) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(versionLanguage.c_str(), &end, 0);
    if (versionLanguage[0] == '-' || *end != '\0' || value == 0 || value > 0xFFFF) {
      throw ToolError(languageSource + ": '" + versionLanguage +
                      "' is not a language id (a number such as 0x0409 or 1033)");
    }
    if (versionInfo.empty()) throw ToolError("--version-language needs --version-info");
    language = static_cast<uint16_t>(value);
  }
  if (!versionInfo.empty()) {
    try {
      std::vector<std::pair<std::string, std::string>> settings;
      for (const std::string& s : versionInfo) settings.push_back(stub::version::SplitSetting(s));
      vendor.version = stub::version::MakeVersionInfo(settings, language);
    } catch (const stub::version::VersionError& e) {
      throw ToolError(std::string("--version-info: ") + e.what());
    }
  }
  return vendor;
}

std::vector<uint8_t> StubWithVendorResources(const std::vector<uint8_t>& stub,
                                             const std::string& stubPath,
                                             const stub::writer::VendorResources& vendor) {
  try {
    return stub::writer::ApplyVendorResources(stub, vendor);
  } catch (const stub::pe::PeError& e) {
    throw ToolError(stubPath + ": cannot take the icon or version information: " + e.what());
  }
}

json DescribeVendorResources(const std::vector<uint8_t>& package) {
  const stub::writer::ResourceSummary s = stub::writer::SummarizeResources(package);
  json r;
  r["manifest"] = s.manifest;
  r["icons"] = json::array();
  for (const stub::icon::GroupEntry& e : s.icons) {
    r["icons"].push_back(
        {{"width", e.width}, {"height", e.height}, {"bitCount", e.bitCount}, {"bytes", e.bytes}});
  }
  if (s.version) {
    json strings = json::object();
    for (const auto& [key, value] : s.version->strings) strings[key] = value;
    r["versionInfo"] = {{"language", Hex16(s.version->language)},
                        {"codePage", s.version->codePage},
                        {"fileVersion", stub::version::FormatVersionNumber(s.version->fileVersion)},
                        {"productVersion", stub::version::FormatVersionNumber(s.version->productVersion)},
                        {"strings", strings}};
  } else {
    r["versionInfo"] = nullptr;
  }
  if (!s.problem.empty()) r["problem"] = s.problem;
  r["launcher"] = DescribeLauncherSettings(package);
  return r;
}

std::string RenderVendorResourcesText(const json& r) {
  std::string out;
  auto line = [&](const std::string& label, const std::string& value) {
    out += label + std::string(label.size() < 22 ? 22 - label.size() : 1, ' ') + value + "\n";
  };
  if (r.contains("problem")) {
    line("Resources", "unreadable: " + r["problem"].get<std::string>());
    return out;
  }
  std::string icons;
  for (const json& i : r["icons"]) {
    icons += (icons.empty() ? "" : ", ") + std::to_string(i["width"].get<unsigned>()) + "x" +
             std::to_string(i["height"].get<unsigned>());
    if (i["bitCount"].get<unsigned>() != 0) icons += " " + std::to_string(i["bitCount"].get<unsigned>()) + "-bit";
  }
  line("Icon", icons.empty() ? "none (the stub's own)"
                             : std::to_string(r["icons"].size()) +
                                   (r["icons"].size() == 1 ? " image: " : " images: ") + icons);
  const json& v = r["versionInfo"];
  if (v.is_null()) {
    line("Version information", "none");
  } else {
    line("Version information", "language " + v["language"].get<std::string>() + ", code page " +
                                    std::to_string(v["codePage"].get<unsigned>()));
    line("  file version", v["fileVersion"].get<std::string>());
    line("  product version", v["productVersion"].get<std::string>());
    // The keys in the order Explorer lists them, then any another tool wrote.
    std::vector<std::string> keys;
    for (const std::string& k : stub::version::Keys()) {
      if (v["strings"].contains(k)) keys.push_back(k);
    }
    for (const auto& [k, value] : v["strings"].items()) {
      if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
    }
    for (const std::string& k : keys) line("  " + k, "\"" + v["strings"][k].get<std::string>() + "\"");
  }
  out += RenderLauncherSettingsText(r["launcher"]);
  return out;
}

std::string DefaultStubPath() {
  const std::filesystem::path folder = PathOf(ExecutableFolder());
  const std::string beside = Utf8Of(folder / "Stub32.exe");
  const std::string installed =
      Utf8Of((folder / ".." / "share" / "setup-launcher" / "Stub32.exe").lexically_normal());
  if (Examine(beside).kind != EntryKind::kMissing) return beside;
  if (Examine(installed).kind != EntryKind::kMissing) return installed;
  throw ToolError("no --stub given and " + beside + " does not exist (nor " + installed + ")");
}

std::string VersionText() {
  return std::string("pkgtool ") + PKGTOOL_VERSION + "\nliblzma " + stub::writer::LzmaVersion() +
         " (its encoder decides the packed bytes)\n";
}

}  // namespace pkgtool
