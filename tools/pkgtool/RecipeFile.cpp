#include "tools/pkgtool/RecipeFile.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <set>

#include "authoring/PackageWriter.h"
#include "authoring/VendorResources.h"
#include "tools/pkgtool/Authenticode.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/LauncherChecks.h"
#include "tools/pkgtool/LauncherOptions.h"
#include "tools/pkgtool/PeFacts.h"

namespace pkgtool {

namespace {

using nlohmann::json;

constexpr uint64_t kRecipeLimit = 16 << 20;

bool IsPlaceholder(const std::string& value) {
  return value.size() >= 2 && value.front() == '<' && value.back() == '>';
}

class RecipeReader {
 public:
  RecipeReader(const std::string& recipePath) : path_(recipePath) {
    folder_ = PathOf(recipePath).parent_path();
  }

  [[noreturn]] void Fail(const std::string& field, const std::string& why) const {
    throw ToolError(path_ + ": " + field + ": " + why);
  }

  const json& Object(const json& j, const std::string& field,
                     const std::set<std::string>& known) const {
    if (!j.is_object()) Fail(field, "must be an object");
    for (const auto& [key, value] : j.items()) {
      if (!known.count(key)) {
        std::string list;
        for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
        Fail(field.empty() ? key : field + "." + key, "unknown field (known: " + list + ")");
      }
    }
    return j;
  }

  std::string String(const json& j, const std::string& field) const {
    if (!j.is_string()) Fail(field, "must be a string");
    return j.get<std::string>();
  }

  std::string Path(const json& j, const std::string& field) const {
    const std::string value = String(j, field);
    if (value.empty()) Fail(field, "must name a file");
    if (IsPlaceholder(value)) return value;  // refused when it is used, not when read
    const std::filesystem::path p = PathOf(value);
    return p.is_absolute() || folder_.empty() ? value : Utf8Of((folder_ / p).make_preferred());
  }

  std::string Number(const json& j, const std::string& field) const {
    if (!j.is_number_unsigned()) Fail(field, "must be a number from 0 up");
    return std::to_string(j.get<uint64_t>());
  }

  bool Flag(const json& j, const std::string& field) const {
    if (!j.is_boolean()) Fail(field, "must be true or false");
    return j.get<bool>();
  }

 private:
  std::string path_;
  std::filesystem::path folder_;
};

std::string ReleaseText(Family family, uint16_t code) {
  for (const Release& r : Releases(family)) {
    if (r.code == code) return r.name;
  }
  return std::to_string(code);
}

std::string RangeText(Family family, uint16_t min, uint16_t max) {
  if (min == 0 && max == kOpenEnded) return "any";
  return (min == 0 ? "" : ReleaseText(family, min)) + ".." +
         (max == kOpenEnded ? "" : ReleaseText(family, max));
}

std::string SizeText(uint32_t bytes) {
  if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + "M";
  if (bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + "K";
  return std::to_string(bytes);
}

std::string MessageAt(const std::vector<uint8_t>& bytes, const stub::MessageDescriptor& d) {
  std::u16string text;
  for (uint32_t i = 0; i < d.length; ++i) {
    text += static_cast<char16_t>(stub::ReadU16(bytes.data() + d.offset + 2 * i));
  }
  return Utf16ToUtf8(text);
}

// A signed package whose setup programs are signed too and intact: the marks
// of a build with a signing command. The command itself is not in the
// package (it may name a key or a password), so a placeholder stands for it.
void WriteSigningRecipe(const std::vector<uint8_t>& package, const std::optional<std::vector<uint8_t>>& x86,
                        const std::optional<std::vector<uint8_t>>& x64, nlohmann::ordered_json& j) {
  auto intact = [](const std::optional<std::vector<uint8_t>>& program) {
    return !program || ExamineSignature(*program).state == ProgramSignature::State::kMatches;
  };
  if (!intact(x86) || !intact(x64)) return;
  j["requireSignedPrograms"] = true;
  if (ExamineSignature(package).state == ProgramSignature::State::kMatches) j["signCommand"] = kSignPlaceholder;
}

}  // namespace

json LoadRecipe(const std::string& recipePath) {
  const std::vector<uint8_t> bytes = ReadWholeFile(recipePath, kRecipeLimit, "the recipe");
  try {
    return json::parse(bytes.begin(), bytes.end());
  } catch (const json::parse_error& e) {
    // Line and column, as editors take them; e.byte counts from 1.
    const size_t at = std::min<size_t>(e.byte == 0 ? 0 : e.byte - 1, bytes.size());
    size_t line = 1, lineStart = 0;
    for (size_t i = 0; i < at; ++i) {
      if (bytes[i] == '\n') {
        ++line;
        lineStart = i + 1;
      }
    }
    // nlohmann's message starts with its own error id and position; the
    // reason follows them.
    std::string reason = e.what();
    const size_t syntax = reason.find("syntax error");
    reason = syntax == std::string::npos ? "syntax error" : reason.substr(syntax);
    throw ToolError(recipePath + ":" + std::to_string(line) + ":" +
                    std::to_string(at - lineStart + 1) + ": not a JSON recipe: " + reason);
  }
}

std::vector<RecipeOption> RecipeOptions(const json& recipe, const std::string& recipePath) {
  const RecipeReader r(recipePath);
  r.Object(recipe, "",
           {"comment", "output", "stub", "x86", "x64", "windows", "win10", "win11", "expires",
            "elevation", "no64BitWindows", "detached", "messages", "trailingData", "lzma", "icon",
            "versionInfo", "versionLanguage", "allowAnyProgram", "allowExpired", "passExitCode",
            "launcherLanguages", "launcherTexts", "signCommand", "requireSignedPrograms"});
  std::vector<RecipeOption> out;
  auto add = [&](const std::string& option, std::vector<std::string> values, const std::string& field,
                 std::vector<std::string> slot = {}) {
    if (slot.empty()) slot = {option};
    out.push_back({option, std::move(values), std::move(slot), field});
  };
  for (const auto& [key, value] : recipe.items()) {
    if (key == "comment") continue;
    if (key == "output" || key == "stub" || key == "x86" || key == "x64" || key == "icon") {
      add("--" + key, {r.Path(value, key)}, key);
    } else if (key == "trailingData") {
      add("--trailing-data", {r.Path(value, key)}, key);
    } else if (key == "windows") {
      std::vector<std::string> names;
      if (value.is_string()) {
        names.push_back(value.get<std::string>());
      } else if (value.is_array()) {
        for (const json& n : value) names.push_back(r.String(n, "windows[]"));
        if (names.empty()) r.Fail(key, "lists no Windows version; leave it out for all");
      } else {
        r.Fail(key, "must be a list of names or \"all\"");
      }
      add("--windows", names, key);
    } else if (key == "win10" || key == "win11" || key == "expires" || key == "elevation") {
      add("--" + key, {r.String(value, key)}, key);
    } else if (key == "launcherLanguages") {
      if (value.is_string()) {
        add("--launcher-languages", {r.String(value, key)}, key);
      } else if (value.is_array()) {
        std::string list;
        for (size_t i = 0; i < value.size(); ++i) {
          list += (list.empty() ? "" : ",") + r.String(value[i], key + "[" + std::to_string(i) + "]");
        }
        if (!list.empty()) add("--launcher-languages", {list}, key);
      } else {
        r.Fail(key, "must be \"all\" or a list of language tags such as [\"de\", \"fr\"]");
      }
    } else if (key == "launcherTexts") {
      if (!value.is_object()) r.Fail(key, "must be an object of LANGUAGE: {TEXT: \"wording\"}");
      std::vector<std::string> texts;
      for (const auto& [language, entries] : value.items()) {
        const std::string field = key + "." + language;
        std::set<std::string> keys;
        for (int t = 0; t < stub::kLauncherTextCount; ++t) {
          keys.insert(stub::writer::LauncherTextKey(static_cast<stub::LauncherText>(t)));
        }
        r.Object(entries, field, keys);
        for (const auto& [which, text] : entries.items()) {
          texts.push_back(language + "." + which + "=" + r.String(text, field + "." + which));
        }
      }
      if (!texts.empty()) add("--launcher-text", texts, key);
    } else if (key == "signCommand") {
      const std::string command = r.String(value, key);
      if (command.empty()) r.Fail(key, "must be a command line; leave it out to sign nothing");
      add("--sign-command", {command}, key);
    } else if (key == "requireSignedPrograms") {
      if (r.Flag(value, key)) add("--require-signed-programs", {"true"}, key);
    } else if (key == "no64BitWindows" || key == "detached" || key == "allowAnyProgram" ||
               key == "allowExpired" || key == "passExitCode") {
      const char* option = key == "detached"          ? "--detached"
                           : key == "passExitCode"    ? "--pass-exit-code"
                           : key == "no64BitWindows"  ? "--no-64bit-windows"
                           : key == "allowAnyProgram" ? "--allow-any-program"
                                                      : "--allow-expired";
      if (r.Flag(value, key)) add(option, {"true"}, key);
    } else if (key == "messages") {
      r.Object(value, key, {"expired", "wrongWidth", "unsupported"});
      for (const auto& [which, text] : value.items()) {
        const std::string base =
            "--" + std::string(which == "wrongWidth" ? "wrong-width" : which) + "-message";
        const std::string field = key + "." + which;
        const std::vector<std::string> slot = {base, base + "-file"};
        if (text.is_object()) {
          r.Object(text, field, {"file"});
          if (!text.contains("file")) r.Fail(field, "needs \"file\"");
          add(base + "-file", {r.Path(text["file"], field + ".file")}, field + ".file", slot);
        } else {
          add(base, {r.String(text, field)}, field, slot);
        }
      }
    } else if (key == "lzma") {
      r.Object(value, key, {"level", "dictionary", "lc", "lp", "pb"});
      for (const auto& [setting, v] : value.items()) {
        const std::string field = key + "." + setting;
        if (setting == "dictionary") {
          add("--dict", {v.is_number_unsigned() ? r.Number(v, field) : r.String(v, field)}, field);
        } else {
          add("--" + setting, {r.Number(v, field)}, field);
        }
      }
    } else if (key == "versionInfo") {
      if (!value.is_object()) r.Fail(key, "must be an object of KEY: \"text\"");
      std::vector<std::string> settings;
      std::vector<std::pair<std::string, std::string>> pairs;
      for (const auto& [name, text] : value.items()) {
        settings.push_back(name + "=" + r.String(text, key + "." + name));
        pairs.emplace_back(name, text.get<std::string>());
      }
      // Checked here too, so that a bad setting names the recipe.
      try {
        stub::version::MakeVersionInfo(pairs);
      } catch (const stub::version::VersionError& e) {
        r.Fail(key, e.what());
      }
      add("--version-info", settings, key);
    } else if (key == "versionLanguage") {
      add("--version-language", {value.is_number_unsigned() ? r.Number(value, key) : r.String(value, key)},
          key);
    }
  }
  return out;
}

std::map<std::string, std::string> ApplyRecipe(CLI::App& build,
                                               const std::vector<RecipeOption>& options,
                                               const std::string& recipePath) {
  std::map<std::string, std::string> sources;
  for (const RecipeOption& o : options) {
    CLI::Option* option = build.get_option_no_throw(o.option);
    if (option == nullptr) throw ToolError(recipePath + ": " + o.field + ": no such build option");
    const bool overridden = std::any_of(o.slot.begin(), o.slot.end(), [&](const std::string& name) {
      const CLI::Option* other = build.get_option_no_throw(name);
      return other != nullptr && other->count() > 0;
    });
    std::vector<std::string> values = o.values;
    if (o.option == "--version-info" && overridden) {
      // Settings merge key by key: a build script may bump FileVersion on
      // the command line and keep the rest of the recipe.
      std::set<std::string> given;
      for (const std::string& s : option->results()) given.insert(s.substr(0, s.find('=')));
      values.clear();
      for (const std::string& s : o.values) {
        if (!given.count(s.substr(0, s.find('=')))) values.push_back(s);
      }
      if (values.empty()) continue;
    } else if (overridden) {
      continue;
    }
    for (const std::string& v : values) {
      if (IsPlaceholder(v) && o.option == "--sign-command") {
        throw ToolError(recipePath + ": " + o.field + ": '" + v +
                        "' stands for the command that signed the package, which a package does "
                        "not record; name it in the recipe or give --sign-command");
      }
      if (IsPlaceholder(v)) {
        throw ToolError(recipePath + ": " + o.field + ": '" + v +
                        "' stands for a file the recipe cannot know; name the file in the recipe "
                        "or give " + o.option);
      }
    }
    try {
      option->add_result(values);
      option->run_callback();
    } catch (const CLI::Error& e) {
      throw ToolError(recipePath + ": " + o.field + ": " + e.what());
    }
    if (!overridden) sources[o.option] = recipePath + ": " + o.field;
  }
  return sources;
}

RecipeFromPackage RecipeOfPackage(const std::vector<uint8_t>& package,
                                  const std::optional<std::vector<uint8_t>>& x86,
                                  const std::optional<std::vector<uint8_t>>& x64,
                                  const std::string& outputName,
                                  const std::function<void(uint64_t, uint64_t)>& progress) {
  RecipeFromPackage result;
  nlohmann::ordered_json& j = result.recipe;
  uint8_t rawLocator[stub::kLocatorSize];
  std::copy_n(package.begin() + stub::kLocatorOffset, stub::kLocatorSize, rawLocator);
  const stub::PackageLocator locator = stub::DecodeLocator(rawLocator);
  uint8_t rawHeader[stub::kHeaderSize];
  std::copy_n(package.begin() + locator.packageOffset, stub::kHeaderSize, rawHeader);
  const stub::PackageHeader h = stub::DecodeHeader(rawHeader);

  j["output"] = outputName;
  if (x86) j["x86"] = kX86Placeholder;
  if (x64) j["x64"] = kX64Placeholder;
  j["windows"] = WindowsListNames(h.allowedWindows);
  const stub::WindowsVersionSet all = stub::writer::AllWindows();
  if (std::equal(std::begin(all.bytes), std::end(all.bytes), std::begin(h.allowedWindows.bytes))) {
    j["windows"] = "all";
  }
  for (const std::string& n : j["windows"].is_array() ? j["windows"].get<std::vector<std::string>>()
                                                      : std::vector<std::string>{}) {
    if (n.rfind("element ", 0) == 0) result.warnings.push_back("Windows set names " + n + ", which no name stands for");
  }
  j["win10"] = RangeText(Family::kWin10, h.win10MinRelease, h.win10MaxRelease);
  j["win11"] = RangeText(Family::kWin11, h.win11MinRelease, h.win11MaxRelease);
  j["expires"] = h.expiryYear == 0 ? std::string("never")
                                   : FormatDate(h.expiryYear, h.expiryMonth, h.expiryDay);
  if (h.expiryYear != 0 && !IsCalendarDate(h.expiryYear, h.expiryMonth, h.expiryDay)) {
    result.warnings.push_back("the expiry date is not a day of the calendar");
  }
  j["elevation"] = "standard";
  bool elevationNamed = false;
  for (const ElevationName& e : ElevationNames()) {
    if (e.value == h.elevationMode) {
      j["elevation"] = e.name;
      elevationNamed = true;
    }
  }
  if (!elevationNamed) {
    result.warnings.push_back("elevation mode " + std::to_string(h.elevationMode) + " has no name");
  }
  j["no64BitWindows"] = BarredFrom64Bit(h);
  // A signature is appended after the build; the build's own bytes end
  // where it begins.
  uint64_t built = package.size();
  if (const auto signature = FindCertificateTable(package)) {
    if (signature->offset >= h.afterMessages && signature->offset + signature->size == package.size()) {
      const uint64_t minSize = (static_cast<uint64_t>(locator.minSizeHigh) << 32) | locator.minSizeLow;
      built = UnsignedEnd(package, *signature, minSize);
    }
  }
  j["detached"] = locator.detachedMinSize != 0;
  if (locator.detachedMinSize != 0 && locator.detachedMinSize != built) {
    result.warnings.push_back("the detached minimum size is not the file's size");
  }
  j["messages"] = {{"expired", MessageAt(package, h.expiredMessage)},
                   {"wrongWidth", MessageAt(package, h.wrongWidthMessage)},
                   {"unsupported", MessageAt(package, h.unsupportedWindowsMessage)}};
  if (h.afterMessages < built) j["trailingData"] = kTrailingPlaceholder;
  // Programs another tool put in slots where Windows cannot start them: the
  // build would refuse them without this.
  const bool x86Fits = !x86 || FitsSlot(DescribeImage(*x86), false);
  const bool x64Fits = !x64 || FitsSlot(DescribeImage(*x64), true);
  if (!x86Fits || !x64Fits) {
    j["allowAnyProgram"] = true;
    result.warnings.push_back(std::string("the ") + (x86Fits ? "x64" : "x86") +
                              " setup program does not fit its slot; the recipe allows any program");
  }

  const uint8_t lc = h.lzmaProperties % 9, lp = (h.lzmaProperties / 9) % 5, pb = h.lzmaProperties / 45;
  nlohmann::ordered_json lzma = {{"level", 6}, {"dictionary", SizeText(h.lzmaDictionarySize)}, {"lc", lc}, {"lp", lp}, {"pb", pb}};
  // The header keeps the settings but not the preset. With the dictionary
  // given, presets 6..9 compress alike, so 6 stands for them; the others are
  // tried in turn on the smaller program until one gives the stored bytes.
  const bool useX86 = x86 && (!x64 || x86->size() <= x64->size());
  const std::vector<uint8_t>* program = useX86 ? &*x86 : x64 ? &*x64 : nullptr;
  const stub::PayloadDescriptor& d = useX86 ? h.payload32 : h.payload64;
  if (program != nullptr) {
    const std::vector<uint8_t> stored(package.begin() + d.offset, package.begin() + d.offset + d.packedSize);
    bool found = false;
    // Each try reports from 0 again: most packages match at the first.
    auto report = [&](uint64_t consumed) {
      if (progress) progress(consumed, program->size());
    };
    for (uint32_t level : {6u, 5u, 4u, 3u, 2u, 1u, 0u}) {
      try {
        if (stub::writer::CompressRawLzma1(*program, level, h.lzmaDictionarySize, lc, lp, pb,
                                           report) == stored) {
          lzma["level"] = level;
          found = true;
          break;
        }
      } catch (const stub::writer::WriterError&) {
        break;
      }
    }
    if (!found) result.warnings.push_back("no LZMA preset gives the stored setup programs; level 6 is assumed");
  }
  j["lzma"] = lzma;

  const stub::writer::ResourceSummary resources = stub::writer::SummarizeResources(package);
  if (!resources.problem.empty()) {
    result.warnings.push_back("the stub's resources cannot be read: " + resources.problem);
  }
  if (!resources.icons.empty()) j["icon"] = kIconPlaceholder;
  if (resources.version) {
    nlohmann::ordered_json info = nlohmann::ordered_json::object();
    const auto& keys = stub::version::Keys();
    for (const auto& [key, value] : resources.version->strings) {
      if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
        result.warnings.push_back("version string " + key + " is not one pkgtool writes; left out");
        continue;
      }
      info[key] = value;
    }
    j["versionInfo"] = info;
    if (resources.version->language != 0x0409) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%04X", resources.version->language);
      j["versionLanguage"] = hex;
    }
  }
  WriteLauncherRecipe(package, j);
  WriteSigningRecipe(package, x86, x64, j);
  return result;
}

}  // namespace pkgtool
