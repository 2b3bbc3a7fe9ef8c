#include "launch/ExecutionLevel.h"

namespace stub {

namespace {

char FoldAscii(uint8_t c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// The manifest as one-byte characters: UTF-16 keeps its low bytes (every
// name and value that matters is ASCII), anything else is taken as it is.
class ManifestText {
 public:
  ManifestText(const uint8_t* bytes, uint32_t size) : bytes_(bytes), size_(size) {
    if (size_ >= 2 && bytes_[0] == 0xFF && bytes_[1] == 0xFE) {
      step_ = 2;
      first_ = 2;
    } else if (size_ >= 2 && bytes_[0] == 0xFE && bytes_[1] == 0xFF) {
      step_ = 2;
      first_ = 3;
    }
  }
  // Characters, counted in the manifest's own units.
  uint32_t Length() const { return size_ <= first_ ? 0 : (size_ - first_ + step_ - 1) / step_; }
  uint8_t At(uint32_t i) const {
    const uint32_t at = first_ + i * step_;
    if (step_ == 2) {
      // A unit whose other byte is not zero is no ASCII character.
      const uint32_t other = first_ == 2 ? at + 1 : at - 1;
      if (other >= size_ || bytes_[other] != 0) return 0xFF;
    }
    return bytes_[at];
  }
  // `word` (lower-case ASCII) at `i`, letters in any case.
  bool MatchesAt(uint32_t i, const char* word) const {
    for (uint32_t k = 0; word[k]; ++k) {
      if (i + k >= Length() || FoldAscii(At(i + k)) != word[k]) return false;
    }
    return true;
  }

 private:
  const uint8_t* bytes_;
  uint32_t size_;
  uint32_t step_ = 1;
  uint32_t first_ = 0;
};

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The element's name; its tail is the attribute's (one string in the stub).
constexpr char kElement[] = "requestedexecutionlevel";
constexpr const char* kAttribute = kElement + 18;  // "level"

// The value of the `level` attribute in the element that starts at `i`
// (just after its name), up to the element's end.
RequestedLevel LevelAttribute(const ManifestText& text, uint32_t i) {
  const uint32_t length = text.Length();
  for (; i < length && text.At(i) != '>'; ++i) {
    // An attribute name starts after white space; "uiAccess" and the like
    // never match "level" there.
    if (!IsSpace(text.At(i)) || !text.MatchesAt(i + 1, kAttribute)) continue;
    uint32_t k = i + 6;
    while (k < length && IsSpace(text.At(k))) ++k;
    if (k >= length || text.At(k) != '=') continue;
    ++k;
    while (k < length && IsSpace(text.At(k))) ++k;
    if (k >= length || (text.At(k) != '"' && text.At(k) != '\'')) return RequestedLevel::kNotStated;
    const uint8_t quote = text.At(k++);
    struct Known {
      const char* value;
      uint32_t length;
      RequestedLevel level;
    };
    static const Known kKnown[] = {
        {"asinvoker", 9, RequestedLevel::kAsInvoker},
        {"highestavailable", 16, RequestedLevel::kHighestAvailable},
        {"requireadministrator", 20, RequestedLevel::kRequireAdministrator},
    };
    for (const Known& known : kKnown) {
      if (text.MatchesAt(k, known.value) && k + known.length < length &&
          text.At(k + known.length) == quote) {
        return known.level;
      }
    }
    return RequestedLevel::kNotStated;
  }
  return RequestedLevel::kNotStated;
}

}  // namespace

RequestedLevel LevelFromManifest(const uint8_t* bytes, uint32_t size) {
  const ManifestText text(bytes, size);
  const uint32_t length = text.Length();
  for (uint32_t i = 0; i < length; ++i) {
    if (text.At(i) != '<') continue;
    if (text.MatchesAt(i + 1, "!--")) {
      // A commented-out level asks for nothing.
      uint32_t k = i + 4;
      while (k < length && !text.MatchesAt(k, "-->")) ++k;
      i = k + 2;
      continue;
    }
    // The element may carry a namespace prefix (<ms_asmv2:requestedExecutionLevel>).
    uint32_t name = i + 1;
    while (name < length && text.At(name) != ':' && text.At(name) != '>' && !IsSpace(text.At(name)) &&
           !text.MatchesAt(name, kElement)) {
      ++name;
    }
    if (name < length && text.At(name) == ':') ++name;
    if (text.MatchesAt(name, kElement)) {
      return LevelAttribute(text, name + sizeof(kElement) - 1);
    }
  }
  return RequestedLevel::kNotStated;
}

bool NameSuggestsInstaller(const Text& fileName) {
  static const char* const kWords[] = {"setup", "install", "update", "patch"};
  for (const char* word : kWords) {
    for (size_t i = 0; i < fileName.Length(); ++i) {
      size_t k = 0;
      while (word[k] && i + k < fileName.Length() && fileName[i + k] < 0x80 &&
             FoldAscii(static_cast<uint8_t>(fileName[i + k])) == word[k]) {
        ++k;
      }
      if (!word[k]) return true;
    }
  }
  return false;
}

bool StartRaisesRights(bool runasVerb, RequestedLevel level, bool filteredAdministrator,
                       bool installerDetection) {
  if (runasVerb || level == RequestedLevel::kRequireAdministrator) return true;
  if (level == RequestedLevel::kHighestAvailable) return filteredAdministrator;
  return level == RequestedLevel::kNotStated && installerDetection;
}

}  // namespace stub
