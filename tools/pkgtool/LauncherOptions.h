// pkgtool's side of the launcher's settings: deployment mode
// (--pass-exit-code), the launcher's texts in other languages
// (--launcher-languages, --launcher-text), what inspect shows of them and
// how a recipe writes them back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "authoring/LauncherResource.h"

namespace pkgtool {

struct LauncherOptions {
  bool passExitCode = false;
  // "all", or tags separated by commas ("de,fr,ja"); empty for none.
  std::string languages;
  // TAG.KEY=TEXT, one per text: the vendor's own wording of text KEY
  // (damaged, truncated, cannotCreateCopy, cannotExecute, expired,
  // wrongWidth, unsupportedWindows) for the language TAG.
  std::vector<std::string> texts;
  bool detached = false;  // the package's, which has no exit code to pass on
};

// The settings for the stub's resource, or nothing when no option asks for
// one (a package without settings behaves as packages always have).
// ToolError (exit 2) naming `source(option)` for an unknown language or
// text, a text that is not UTF-8 or too long, and --pass-exit-code with a
// detached package. Languages are ordered as pkgtool ships them, then the
// others by language id, so the same options give the same bytes.
// Each text goes through CheckVendorText; its warnings go to `warnings`.
std::optional<stub::writer::LauncherSettingsChoice> MakeLauncherSettings(
    const LauncherOptions& options, const std::function<std::string(const std::string&)>& source,
    std::vector<std::string>* warnings = nullptr);

// inspect: {"passExitCode", "exitCodes", "languages": [{"tag", "language",
// "texts": {KEY: TEXT}}]}, null without settings, or {"problem"} when the
// resource is not sound.
nlohmann::json DescribeLauncherSettings(const std::vector<uint8_t>& package);
// The same from the resource's own bytes.
// `package`, when given, is the file the resource came from: the digest and
// the programs' recorded facts are then compared with it.
nlohmann::json DescribeLauncherSettingsResource(const std::vector<uint8_t>& resource,
                                                const std::vector<uint8_t>* package = nullptr);
std::string RenderLauncherSettingsText(const nlohmann::json& settings);

// The recipe fields that build the same settings: passExitCode,
// launcherLanguages, launcherTexts. Nothing without settings.
void WriteLauncherRecipe(const std::vector<uint8_t>& package, nlohmann::ordered_json& recipe);

// "de, fr, ...": the languages pkgtool ships; "damaged, truncated, ...": the
// texts --launcher-text and a recipe's launcherTexts name.
std::string ShippedTags();
std::string LauncherTextKeys();

// Deployment mode's exit codes, each once: "1620, 1603, 1931, ..."; and for
// the help, each with what it stands for: "1620 damaged or truncated, ...".
std::string DeploymentExitCodeList();
std::string DeploymentExitCodesHelp();

// The raw settings resource of a package's stub, for the simulation; nothing
// when it has none.
std::optional<std::vector<uint8_t>> LauncherSettingsBytes(const std::vector<uint8_t>& package);

}  // namespace pkgtool
