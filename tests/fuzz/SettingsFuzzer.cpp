// The launcher's settings resource, read both ways it is read: by the stub
// for a user (DecodeLauncherSettings with a list of languages) and by pkgtool
// (every language spread out, inspect's description of it).
//
// An input is one byte n (taken modulo 9), n user languages (u16 each), then
// the resource without its last four bytes: the target appends the CRC-32,
// so that mutations get past the checksum to the counts and texts behind it.
//
// Findings: a crash or overread; the two readers disagreeing on soundness;
// a sound resource whose languages do not come back as written; a text
// chosen for the user that is not the one the ranking names; an exception
// other than the tool's own errors.
#include <cstdint>
#include <string>
#include <vector>

#include "authoring/LauncherResource.h"
#include "package/CRC32.h"
#include "package/LanguageChoice.h"
#include "package/LauncherSettings.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/fuzz/ToolReaderFuzzer.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/LauncherOptions.h"

namespace {

using stub::fuzz::Fail;

using stub::writer::LauncherSettingsChoice;

// The text the stub must choose: from the entry of the best rank that has
// it, the first of that rank.
struct Expected {
  std::u16string texts[stub::kLauncherTextCount];
  uint16_t language = 0;
};
Expected Choose(const LauncherSettingsChoice& choice, const stub::UserLanguages& user) {
  Expected e;
  uint32_t best[stub::kLauncherTextCount];
  for (uint32_t& b : best) b = stub::kNoMatch;
  uint32_t languageRank = stub::kNoMatch;
  for (const auto& l : choice.languages) {
    const uint32_t rank = stub::LanguageMatchRank(l.language, user);
    if (rank == stub::kNoMatch) continue;
    for (int t = 0; t < stub::kLauncherTextCount; ++t) {
      if (l.texts[t].empty() || rank >= best[t]) continue;
      best[t] = rank;
      e.texts[t] = l.texts[t];
      if (rank < languageRank) {
        languageRank = rank;
        e.language = l.language;
      }
    }
  }
  return e;
}

void Check(const uint8_t* data, size_t size) {
  stub::UserLanguages user;
  const size_t n = size == 0 ? 0 : data[0] % (stub::kMaxUserLanguages + 1);
  size_t at = size == 0 ? 0 : 1;
  for (size_t i = 0; i < n && at + 2 <= size; ++i, at += 2) {
    user.Add(static_cast<uint16_t>(data[at] | data[at + 1] << 8));
  }
  std::vector<uint8_t> resource(data + at, data + size);
  const uint32_t crc = stub::Crc32(resource.data(), resource.size());
  for (int i = 0; i < 4; ++i) resource.push_back(static_cast<uint8_t>(crc >> (8 * i)));

  stub::LauncherSettings settings;
  const bool sound = stub::DecodeLauncherSettings(resource.data(), static_cast<uint32_t>(resource.size()),
                                                  user, settings);
  const auto choice = stub::writer::DecodeLauncherSettingsChoice(resource);
  if (sound != choice.has_value()) Fail("the stub and pkgtool disagree on soundness");

  const nlohmann::json description = pkgtool::DescribeLauncherSettingsResource(resource);
  if (description.contains("problem") == sound) Fail("inspect's verdict differs from the launcher's");
  if (pkgtool::RenderLauncherSettingsText(description).empty()) Fail("empty report");
  if (!sound) return;

  if (stub::writer::DecodeLauncherSettingsChoice(stub::writer::EncodeLauncherSettings(*choice)) != choice) {
    Fail("the languages do not come back as written");
  }
  if (settings.passExitCode != choice->passExitCode) Fail("deployment mode read two ways");
  const Expected expected = Choose(*choice, user);
  for (int t = 0; t < stub::kLauncherTextCount; ++t) {
    if (stub::ToU16(settings.texts[t]) != expected.texts[t]) {
      Fail("text " + std::to_string(t) + " is not the best-ranked entry's");
    }
  }
  if (settings.language != expected.language) Fail("the language named is not the best-ranked one");
}

}  // namespace

namespace stub::fuzz {

const char kReaderName[] = "settings";

void CheckInput(const uint8_t* data, size_t size) {
  Check(data, size);
}

}  // namespace stub::fuzz
