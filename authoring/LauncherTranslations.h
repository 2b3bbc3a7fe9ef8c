// The launcher's own texts in the languages pkgtool ships, and the language
// tags pkgtool understands.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/LauncherSettings.h"

namespace stub::writer {

// The texts pkgtool ships in every language it knows: the launcher's own,
// whose English wording it carries (launcher/Endings.h).
inline constexpr std::array<LauncherText, 5> kShippedTexts = {
    LauncherText::kDamaged, LauncherText::kTruncated, LauncherText::kCannotCreateCopy,
    LauncherText::kCannotExecute, LauncherText::kOutOfMemory};

// A language pkgtool ships the launcher's own texts in.
struct ShippedLanguage {
  const char* tag;    // "de", "pt-BR", ...
  uint16_t language;  // its LANGID
  const char* name;   // "German"
  // UTF-8, one per kShippedTexts.
  std::array<const char*, kShippedTexts.size()> texts;

  // Its wording of `which`; null for a text pkgtool does not ship.
  const char* Text(LauncherText which) const;
};
const std::vector<ShippedLanguage>& ShippedLanguages();

// A language tag ("de", "de-AT", "pt-BR", "zh-TW", "sr-Cyrl-RS") or number
// ("0x0407", "1031") as a LANGID; nothing for what it does not know.
std::optional<uint16_t> LanguageFromTag(const std::string& tag);
// The tag of a LANGID ("de-DE"), or its number as "0x0C07" when unknown.
std::string TagOfLanguage(uint16_t language);

}  // namespace stub::writer
