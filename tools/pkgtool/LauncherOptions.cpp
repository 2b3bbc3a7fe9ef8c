#include "tools/pkgtool/LauncherOptions.h"

#include <algorithm>
#include <map>

#include "authoring/PeResources.h"
#include "authoring/VendorResources.h"
#include "launcher/Endings.h"
#include "platform/memory/Sha256.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/VendorText.h"

namespace pkgtool {

namespace {

using nlohmann::json;
using stub::writer::LauncherLanguage;
using stub::writer::ShippedLanguage;
using stub::writer::ShippedLanguages;

const ShippedLanguage* Shipped(uint16_t language) {
  for (const ShippedLanguage& l : ShippedLanguages()) {
    if (l.language == language) return &l;
  }
  return nullptr;
}

// Shipped languages first, in the order pkgtool ships them, then the others
// by language id. The order decides only between entries the launcher ranks
// alike for a user, which are one language in one script: the shipped entry,
// which has every text, is the better stand-in for a region nobody wrote
// for. (Before the launcher told scripts apart, zh-CN coming first gave Hong
// Kong and Macau Simplified Chinese over a vendor's own zh-TW.)
size_t Rank(uint16_t language) {
  const auto& shipped = ShippedLanguages();
  for (size_t i = 0; i < shipped.size(); ++i) {
    if (shipped[i].language == language) return i;
  }
  return shipped.size() + language;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

const char* LevelName(stub::RequestedLevel level) {
  switch (level) {
    case stub::RequestedLevel::kAsInvoker: return "asInvoker";
    case stub::RequestedLevel::kHighestAvailable: return "highestAvailable";
    case stub::RequestedLevel::kRequireAdministrator: return "requireAdministrator";
    case stub::RequestedLevel::kNotStated: return "notStated";
    case stub::RequestedLevel::kUnknown: break;
  }
  return "unknown";
}

std::string Hex(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

// The facts pkgtool recorded beside the vendor's choice: the digest, with
// whether the package data still have it, and what each setup program asks
// of Windows.
void DescribeRecordedFacts(const std::vector<uint8_t>* packageFile,
                           const stub::writer::LauncherSettingsChoice& choice, json& s) {
  s["packageDigest"] = nullptr;
  if (choice.packageDigest) {
    json digest = {{"sha256", Hex(choice.packageDigest->data(), choice.packageDigest->size())}};
    // What the data have now, over the span the locator names (when it lies
    // in the file); the verdict on the package is the launcher's check.
    std::optional<bool> matches;
    const std::vector<uint8_t> none;
    const std::vector<uint8_t>& package = packageFile ? *packageFile : none;
    if (package.size() >= stub::kLocatorOffset + stub::kLocatorSize) {
      uint8_t raw[stub::kLocatorSize];
      std::copy_n(package.begin() + stub::kLocatorOffset, stub::kLocatorSize, raw);
      const stub::PackageLocator l = stub::DecodeLocator(raw);
      if (static_cast<uint64_t>(l.packageOffset) + l.crcLength <= package.size()) {
        matches = stub::Sha256Of(package.data() + l.packageOffset, l.crcLength) == *choice.packageDigest;
      }
    }
    digest["matches"] = matches ? json(*matches) : json(nullptr);
    s["packageDigest"] = digest;
  }
  s["programs"] = nullptr;
  if (choice.programs) {
    s["programs"] = json::object();
    const char* slots[2] = {"x86", "x64"};
    for (int slot = 0; slot < 2; ++slot) {
      const stub::writer::ProgramFacts& p = (*choice.programs)[slot];
      s["programs"][slots[slot]] = {{"requestedLevel", LevelName(p.level)},
                                    {"namedInstaller", p.namedInstaller}};
    }
  }
}

std::string RecordedFactsText(const json& s) {
  std::string out;
  auto line = [&](const std::string& label, const std::string& value) {
    out += label + std::string(label.size() < 22 ? 22 - label.size() : 1, ' ') + value + "\n";
  };
  static const json kNone;
  const json& digest = s.contains("packageDigest") ? s["packageDigest"] : kNone;
  if (digest.is_null()) {
    line("Package digest", "none: the launcher checks the checksum alone");
  } else {
    const json& matches = digest["matches"];
    line("Package digest", "SHA-256 " + digest["sha256"].get<std::string>() +
                               (matches.is_null()          ? " (the package data lie outside the file)"
                                : matches.get<bool>() ? " (matches the package data)"
                                                      : " (does NOT match the package data)"));
  }
  const json& programs = s.contains("programs") ? s["programs"] : kNone;
  if (!programs.is_null()) {
    for (const char* slot : {"x86", "x64"}) {
      const json& p = programs[slot];
      std::string level = p["requestedLevel"].get<std::string>();
      if (level == "notStated") level = "no level stated";
      if (level == "unknown") level = "not recorded";
      line(std::string("  ") + slot + " program asks", level + (p["namedInstaller"].get<bool>()
                                                                   ? "; its version information names an installer"
                                                                   : ""));
    }
  }
  return out;
}

}  // namespace

std::string ShippedTags() {
  std::string tags;
  for (const ShippedLanguage& l : ShippedLanguages()) tags += (tags.empty() ? "" : ", ") + std::string(l.tag);
  return tags;
}

std::string LauncherTextKeys() {
  std::vector<std::string> keys;
  for (int t = 0; t < stub::kLauncherTextCount; ++t) {
    keys.push_back(stub::writer::LauncherTextKey(static_cast<stub::LauncherText>(t)));
  }
  return Join(keys, ", ");
}

std::string DeploymentExitCodeList() {
  std::vector<std::string> codes;
  for (const stub::EndingFacts& e : stub::kEndings) {
    const std::string code = std::to_string(e.exitCode);
    if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(code);
  }
  return Join(codes, ", ");
}

std::string DeploymentExitCodesHelp() {
  // One code, the endings it stands for: "1620 damaged or truncated".
  std::vector<std::pair<uint32_t, std::string>> codes;
  for (const stub::EndingFacts& e : stub::kEndings) {
    auto same = std::find_if(codes.begin(), codes.end(), [&](const auto& c) { return c.first == e.exitCode; });
    if (same == codes.end()) {
      codes.emplace_back(e.exitCode, e.name);
    } else {
      same->second += std::string(" or ") + e.name;
    }
  }
  std::vector<std::string> items;
  for (const auto& [code, names] : codes) items.push_back(std::to_string(code) + " " + names);
  return Join(items, ", ");
}

std::optional<stub::writer::LauncherSettingsChoice> MakeLauncherSettings(
    const LauncherOptions& o, const std::function<std::string(const std::string&)>& source,
    std::vector<std::string>* warnings) {
  if (!o.passExitCode && o.languages.empty() && o.texts.empty()) return std::nullopt;
  if (o.passExitCode && o.detached) {
    throw ToolError(WithSource(source("--pass-exit-code"),
                               "a detached package (--detached) is not waited for, so it has no "
                               "exit code to pass on; choose one of the two"));
  }
  stub::writer::LauncherSettingsChoice choice;
  choice.passExitCode = o.passExitCode;
  std::map<uint16_t, LauncherLanguage> languages;

  if (!o.languages.empty()) {
    std::vector<uint16_t> wanted;
    if (Lower(o.languages) == "all") {
      for (const ShippedLanguage& l : ShippedLanguages()) wanted.push_back(l.language);
    } else {
      size_t from = 0;
      for (;;) {
        const size_t comma = o.languages.find(',', from);
        const std::string tag = Trim(o.languages.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        const std::optional<uint16_t> language = stub::writer::LanguageFromTag(tag);
        if (!language || !Shipped(*language)) {
          throw ToolError(WithSource(source("--launcher-languages"),
                                     "'" + tag + "' is not a language pkgtool has the launcher's texts in (" +
                                         ShippedTags() + ", or all); --launcher-text gives texts for any other"));
        }
        wanted.push_back(*language);
        if (comma == std::string::npos) break;
        from = comma + 1;
      }
    }
    for (uint16_t id : wanted) {
      LauncherLanguage& l = languages[id];
      l.language = id;
      const ShippedLanguage* shipped = Shipped(id);
      for (const stub::LauncherText t : stub::writer::kShippedTexts) {
        l.texts[static_cast<int>(t)] = Utf8ToUtf16(shipped->Text(t), shipped->tag);
      }
    }
  }

  for (const std::string& setting : o.texts) {
    const size_t dot = setting.find('.');
    const size_t equals = setting.find('=');
    if (dot == std::string::npos || equals == std::string::npos || dot > equals) {
      throw ToolError(WithSource(source("--launcher-text"),
                                 "'" + setting + "' is not LANGUAGE.TEXT=WORDING (e.g. de.expired=...)"));
    }
    const std::string tag = setting.substr(0, dot);
    const std::string key = setting.substr(dot + 1, equals - dot - 1);
    const std::optional<uint16_t> language = stub::writer::LanguageFromTag(tag);
    if (!language) {
      throw ToolError(WithSource(source("--launcher-text"),
                                 "'" + tag + "' is not a language tag (e.g. de, de-AT, pt-BR, 0x0407)"));
    }
    const std::optional<stub::LauncherText> which = stub::writer::LauncherTextFromKey(key);
    if (!which) {
      throw ToolError(WithSource(source("--launcher-text"), "'" + key + "' is not a text (" + LauncherTextKeys() + ")"));
    }
    const std::string where = WithSource(source("--launcher-text"), tag + "." + key);
    std::u16string text = Utf8ToUtf16(setting.substr(equals + 1), where);
    if (text.empty()) throw ToolError(where + ": the text is empty");
    if (text.size() > 0xFFFF) throw ToolError(where + ": longer than 65535 UTF-16 units");
    CheckVendorText(text, where, warnings);
    LauncherLanguage& l = languages[*language];
    l.language = *language;
    l.texts[static_cast<int>(*which)] = std::move(text);
  }

  for (auto& [id, l] : languages) choice.languages.push_back(std::move(l));
  std::stable_sort(choice.languages.begin(), choice.languages.end(),
                   [](const LauncherLanguage& a, const LauncherLanguage& b) { return Rank(a.language) < Rank(b.language); });
  return choice;
}

std::optional<std::vector<uint8_t>> LauncherSettingsBytes(const std::vector<uint8_t>& package) {
  try {
    for (const stub::pe::Resource& r : stub::pe::ReadResources(package)) {
      if (!r.type.IsName() && r.type.id == 10 && r.name.name == stub::kSettingsResourceName) return r.data;
    }
  } catch (const std::exception&) {
    // An image whose resources cannot be read has no settings to show; the
    // launcher would not find any either.
  }
  return std::nullopt;
}

json DescribeLauncherSettings(const std::vector<uint8_t>& package) {
  const std::optional<std::vector<uint8_t>> bytes = LauncherSettingsBytes(package);
  if (!bytes) return nullptr;
  return DescribeLauncherSettingsResource(*bytes, &package);
}

json DescribeLauncherSettingsResource(const std::vector<uint8_t>& resource,
                                      const std::vector<uint8_t>* package) {
  stub::SettingsFault fault = stub::SettingsFault::kNone;
  const auto choice = stub::writer::DecodeLauncherSettingsChoice(resource, &fault);
  if (!choice) {
    return {{"problem", std::string("not sound: ") + stub::writer::DescribeSettingsFault(fault) +
                            "; the launcher shows the damaged box"}};
  }
  json s;
  // Without the file, what the records say, and no verdict on the data.
  DescribeRecordedFacts(package, *choice, s);
  s["passExitCode"] = choice->passExitCode;
  if (choice->passExitCode) {
    s["exitCodes"] = json::object();
    for (const stub::EndingFacts& e : stub::kEndings) s["exitCodes"][e.key] = e.exitCode;
  }
  s["languages"] = json::array();
  for (const LauncherLanguage& l : choice->languages) {
    json texts = json::object();
    for (int t = 0; t < stub::kLauncherTextCount; ++t) {
      if (l.texts[t].empty()) continue;
      texts[stub::writer::LauncherTextKey(static_cast<stub::LauncherText>(t))] = Utf16ToUtf8(l.texts[t]);
    }
    s["languages"].push_back({{"tag", stub::writer::TagOfLanguage(l.language)},
                              {"language", l.language},
                              {"texts", texts}});
  }
  return s;
}

std::string RenderLauncherSettingsText(const json& s) {
  std::string out;
  auto line = [&](const std::string& label, const std::string& value) {
    out += label + std::string(label.size() < 22 ? 22 - label.size() : 1, ' ') + value + "\n";
  };
  if (s.is_null()) {
    line("Launcher settings", "none: exit code 0 and English texts, as every package");
    return out;
  }
  if (s.contains("problem")) {
    line("Launcher settings", s["problem"].get<std::string>());
    return out;
  }
  line("Deployment mode", s["passExitCode"].get<bool>()
                              ? "yes: ends with the setup program's exit code; its own endings " +
                                    DeploymentExitCodeList() + "; no box with /s or /silent"
                              : "no: exit code 0, every ending with its box");
  std::vector<std::string> tags;
  for (const json& l : s["languages"]) {
    tags.push_back(l["tag"].get<std::string>() + " (" + std::to_string(l["texts"].size()) + ")");
  }
  line("Launcher languages", tags.empty() ? "none: English, and the messages above"
                                          : Join(tags, ", ") + " texts");
  out += RecordedFactsText(s);
  return out;
}

void WriteLauncherRecipe(const std::vector<uint8_t>& package, nlohmann::ordered_json& recipe) {
  const std::optional<std::vector<uint8_t>> bytes = LauncherSettingsBytes(package);
  if (!bytes) return;
  const auto choice = stub::writer::DecodeLauncherSettingsChoice(*bytes);
  if (!choice) return;
  if (choice->passExitCode) recipe["passExitCode"] = true;
  // A shipped language whose fixed messages are pkgtool's own is named; what
  // differs from pkgtool's texts, and every other language, is spelled out.
  std::vector<std::string> named;
  nlohmann::ordered_json texts = nlohmann::ordered_json::object();
  for (const LauncherLanguage& l : choice->languages) {
    const ShippedLanguage* shipped = Shipped(l.language);
    bool whole = shipped != nullptr;
    for (const stub::LauncherText t : stub::writer::kShippedTexts) {
      if (whole) whole = l.texts[static_cast<int>(t)] == Utf8ToUtf16(shipped->Text(t), shipped->tag);
    }
    const std::string tag = stub::writer::TagOfLanguage(l.language);
    if (whole) named.push_back(shipped->tag);
    for (int t = 0; t < stub::kLauncherTextCount; ++t) {
      if (l.texts[t].empty() || (whole && stub::IsLaunchersOwnText(static_cast<stub::LauncherText>(t)))) continue;
      texts[tag][stub::writer::LauncherTextKey(static_cast<stub::LauncherText>(t))] = Utf16ToUtf8(l.texts[t]);
    }
  }
  if (named.size() == ShippedLanguages().size()) {
    recipe["launcherLanguages"] = "all";
  } else if (!named.empty()) {
    recipe["launcherLanguages"] = named;
  }
  if (!texts.empty()) recipe["launcherTexts"] = texts;
}

}  // namespace pkgtool
