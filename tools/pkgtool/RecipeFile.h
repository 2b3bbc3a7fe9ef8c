// Recipe files: a build's options as one JSON document that authors keep in
// version control, and the recipe of an existing package written back.
//
// Reading turns the recipe into the build command's own options, so a
// recipe and a command line go through the very same checks; options given
// on the command line win over the recipe's. Relative paths in a recipe are
// taken from the recipe's folder, not the current one.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace pkgtool {

// One build option as the recipe sets it. The option is left alone when any
// of `slot` was given on the command line (a message's text and its file
// fill the same slot).
struct RecipeOption {
  std::string option;               // "--x86"
  std::vector<std::string> values;  // what the command line would have said
  std::vector<std::string> slot;    // options that override this one
  std::string field;                // "lzma.level", for messages
};

// The recipe's options. ToolError naming `recipePath` and the field for
// unknown fields, wrong types and values no option takes. Pure: reads no
// file but what the caller passed.
std::vector<RecipeOption> RecipeOptions(const nlohmann::json& recipe, const std::string& recipePath);

// Reads and parses the recipe file: ToolError naming it, with the line and
// column, when it is not JSON.
nlohmann::json LoadRecipe(const std::string& recipePath);

// Gives `build` the recipe's options wherever its command line did not set
// them, and runs their checks (ToolError naming the recipe and field).
// Returns, for each option the recipe set, its source: "--x86" ->
// "setup.json: x86", so that later errors name the field too.
std::map<std::string, std::string> ApplyRecipe(CLI::App& build,
                                               const std::vector<RecipeOption>& options,
                                               const std::string& recipePath);

// What a recipe cannot learn from a package: the names of the files it was
// built from. These stand in for them.
inline constexpr const char* kX86Placeholder = "<x86 setup program>";
inline constexpr const char* kX64Placeholder = "<x64 setup program>";
inline constexpr const char* kIconPlaceholder = "<icon file>";
inline constexpr const char* kTrailingPlaceholder = "<trailing data file>";
// Nor the command that signed it.
inline constexpr const char* kSignPlaceholder = "<sign command>";

struct RecipeFromPackage {
  nlohmann::ordered_json recipe;  // fields in the README's order
  // What the recipe cannot carry exactly (a package some other tool wrote);
  // a build from it then gives different bytes.
  std::vector<std::string> warnings;
};

// The recipe of a sound package: gates, messages, elevation, LZMA settings,
// vendor resources; file names as placeholders. `x86`/`x64` are the setup
// programs as unpacked; the LZMA level, which the header does not hold, is
// found by compressing the smaller one again (`progress` follows that, in
// bytes). `outputName` becomes the recipe's output. An Authenticode
// signature is not part of what a build writes: the recipe builds the
// package as it was before it was signed.
RecipeFromPackage RecipeOfPackage(const std::vector<uint8_t>& package,
                                  const std::optional<std::vector<uint8_t>>& x86,
                                  const std::optional<std::vector<uint8_t>>& x64,
                                  const std::string& outputName,
                                  const std::function<void(uint64_t done, uint64_t total)>& progress = {});

}  // namespace pkgtool
