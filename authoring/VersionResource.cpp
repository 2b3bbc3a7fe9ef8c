#include "authoring/VersionResource.h"

#include <algorithm>

#include "package/StubTypes.h"
#include "platform/memory/Utf8.h"

namespace stub::version {

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BDu;
constexpr uint32_t kFixedSize = 52;
constexpr uint32_t kOsNtWindows32 = 0x00040004u;
constexpr uint32_t kFileTypeApp = 1;
constexpr uint32_t kFlagsMask = 0x3F;
constexpr size_t kMaxValueUnits = 0x7FFF;  // wLength is 16 bits, in bytes

std::u16string FromUtf8(const std::string& s, const std::string& key) {
  std::u16string out;
  if (DecodeUtf8(s, out, Utf8Errors::kStop) != std::string::npos) {
    throw VersionError(key + ": the value is not valid UTF-8");
  }
  return out;
}

void Append16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Append32(std::vector<uint8_t>& b, uint32_t v) {
  Append16(b, static_cast<uint16_t>(v));
  Append16(b, static_cast<uint16_t>(v >> 16));
}
void AppendText(std::vector<uint8_t>& b, const std::u16string& s) {
  for (char16_t c : s) Append16(b, c);
  Append16(b, 0);
}
void Pad(std::vector<uint8_t>& b) {
  while (b.size() % 4) b.push_back(0);
}

// Every block: wLength, wValueLength, wType, key, padding, value, padding,
// children. wLength counts from the block's start to the end of its last
// child (or value), without trailing padding.
class Block {
 public:
  Block(std::vector<uint8_t>& out, const std::u16string& key, uint16_t valueLength, uint16_t type)
      : out_(out), start_(out.size()) {
    Append16(out, 0);
    Append16(out, valueLength);
    Append16(out, type);
    AppendText(out, key);
    Pad(out);
  }
  ~Block() { WriteU16(&out_[start_], static_cast<uint16_t>(out_.size() - start_)); }

 private:
  std::vector<uint8_t>& out_;
  size_t start_;
};

uint32_t High(const Quad& v) { return (static_cast<uint32_t>(v[0]) << 16) | v[1]; }
uint32_t Low(const Quad& v) { return (static_cast<uint32_t>(v[2]) << 16) | v[3]; }

// ------------------------------------------------------------- reading ----

struct Node {
  size_t start, end;  // end: start + wLength
  uint16_t valueLength, type;
  std::u16string key;
  size_t value;  // offset of the value, after the key's padding
};

class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& data) : d_(data) {}

  Node At(size_t at, size_t limit) const {
    Node n;
    n.start = at;
    const uint16_t length = U16(at, limit);
    n.valueLength = U16(at + 2, limit);
    n.type = U16(at + 4, limit);
    n.end = at + length;
    if (length < 6 || n.end > limit) throw VersionError("the version resource is malformed");
    size_t p = at + 6;
    for (;;) {
      const uint16_t c = U16(p, n.end);
      p += 2;
      if (c == 0) break;
      n.key += static_cast<char16_t>(c);
    }
    n.value = (p + 3) & ~size_t{3};
    return n;
  }
  // The children of `n`, whose value takes `valueBytes`.
  std::vector<Node> Children(const Node& n, size_t valueBytes) const {
    std::vector<Node> out;
    size_t p = (n.value + valueBytes + 3) & ~size_t{3};
    while (p + 6 <= n.end) {
      out.push_back(At(p, n.end));
      p = (out.back().end + 3) & ~size_t{3};
    }
    return out;
  }
  uint16_t U16(size_t at, size_t limit) const {
    if (at + 2 > limit || at + 2 > d_.size()) throw VersionError("the version resource is malformed");
    return static_cast<uint16_t>(d_[at] | (d_[at + 1] << 8));
  }
  uint32_t U32(size_t at, size_t limit) const {
    return U16(at, limit) | (static_cast<uint32_t>(U16(at + 2, limit)) << 16);
  }
  std::u16string Text(size_t at, size_t units, size_t limit) const {
    std::u16string s;
    for (size_t i = 0; i < units; ++i) {
      const char16_t c = U16(at + 2 * i, limit);
      if (c == 0) break;
      s += c;
    }
    return s;
  }

 private:
  const std::vector<uint8_t>& d_;
};

}  // namespace

const std::vector<std::string>& Keys() {
  static const std::vector<std::string> keys = {
      "ProductName",    "CompanyName",    "FileDescription",  "FileVersion",
      "ProductVersion", "LegalCopyright", "OriginalFilename", "Comments"};
  return keys;
}

std::optional<Quad> ParseVersionNumber(const std::string& text) {
  Quad v{};
  size_t part = 0, i = 0;
  while (true) {
    if (part == 4 || i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    uint32_t n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      n = n * 10 + static_cast<uint32_t>(text[i] - '0');
      if (n > 0xFFFF) return std::nullopt;
    }
    v[part++] = static_cast<uint16_t>(n);
    if (i == text.size()) return v;
    if (text[i++] != '.') return std::nullopt;
  }
}

std::string FormatVersionNumber(const Quad& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
         std::to_string(v[3]);
}

std::pair<std::string, std::string> SplitSetting(const std::string& setting) {
  const size_t eq = setting.find('=');
  if (eq == std::string::npos) {
    throw VersionError("'" + setting + "' is not KEY=VALUE");
  }
  return {setting.substr(0, eq), setting.substr(eq + 1)};
}

VersionInfo MakeVersionInfo(const std::vector<std::pair<std::string, std::string>>& settings,
                            uint16_t language) {
  const std::vector<std::string>& keys = Keys();
  std::vector<std::optional<std::string>> values(keys.size());
  for (const auto& [key, value] : settings) {
    const auto known = std::find(keys.begin(), keys.end(), key);
    if (known == keys.end()) {
      std::string list;
      for (const std::string& k : keys) list += (list.empty() ? "" : ", ") + k;
      throw VersionError("unknown key '" + key + "'; the keys are " + list);
    }
    auto& slot = values[known - keys.begin()];
    if (slot) throw VersionError(key + " is given twice");
    if (FromUtf8(value, key).size() > kMaxValueUnits / 2 - 64) {
      throw VersionError(key + ": the value is too long");
    }
    slot = value;
  }
  VersionInfo info;
  info.language = language;
  std::optional<Quad> file, product;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (!values[i]) continue;
    if (keys[i] == "FileVersion" || keys[i] == "ProductVersion") {
      const std::optional<Quad> number = ParseVersionNumber(*values[i]);
      if (!number) {
        throw VersionError(keys[i] + ": '" + *values[i] +
                           "' is not a version of 1 to 4 dotted numbers, each at most 65535");
      }
      (keys[i] == "FileVersion" ? file : product) = number;
    }
    info.strings.emplace_back(keys[i], *values[i]);
  }
  info.fileVersion = file ? *file : product.value_or(Quad{});
  info.productVersion = product ? *product : file.value_or(Quad{});
  return info;
}

std::vector<uint8_t> EncodeVersionInfo(const VersionInfo& info) {
  std::vector<uint8_t> out;
  {
    Block root(out, u"VS_VERSION_INFO", kFixedSize, 0);
    Append32(out, kFixedSignature);
    Append32(out, 0x00010000u);
    Append32(out, High(info.fileVersion));
    Append32(out, Low(info.fileVersion));
    Append32(out, High(info.productVersion));
    Append32(out, Low(info.productVersion));
    Append32(out, kFlagsMask);
    Append32(out, 0);  // flags
    Append32(out, kOsNtWindows32);
    Append32(out, kFileTypeApp);
    Append32(out, 0);  // subtype
    Append32(out, 0);  // date, high
    Append32(out, 0);  // date, low
    if (!info.strings.empty()) {
      Pad(out);
      Block fileInfo(out, u"StringFileInfo", 0, 1);
      char table[9];
      static const char kHex[] = "0123456789abcdef";
      const uint32_t id = (static_cast<uint32_t>(info.language) << 16) | info.codePage;
      for (int i = 0; i < 8; ++i) table[i] = kHex[(id >> (28 - 4 * i)) & 0xF];
      table[8] = 0;
      Block strings(out, std::u16string(table, table + 8), 0, 1);
      for (const auto& [key, value] : info.strings) {
        Pad(out);
        const std::u16string text = FromUtf8(value, key);
        Block entry(out, std::u16string(key.begin(), key.end()),
                    static_cast<uint16_t>(text.size() + 1), 1);
        AppendText(out, text);
      }
    }
    Pad(out);
    Block varInfo(out, u"VarFileInfo", 0, 1);
    Block translation(out, u"Translation", 4, 0);
    Append16(out, info.language);
    Append16(out, info.codePage);
  }
  return out;
}

VersionInfo DecodeVersionInfo(const std::vector<uint8_t>& data) {
  Reader r(data);
  const Node root = r.At(0, data.size());
  if (root.key != u"VS_VERSION_INFO" || root.valueLength < kFixedSize ||
      r.U32(root.value, root.end) != kFixedSignature) {
    throw VersionError("the version resource is malformed");
  }
  VersionInfo info;
  info.strings.clear();
  const uint32_t fileHigh = r.U32(root.value + 8, root.end), fileLow = r.U32(root.value + 12, root.end);
  const uint32_t productHigh = r.U32(root.value + 16, root.end);
  const uint32_t productLow = r.U32(root.value + 20, root.end);
  auto quad = [](uint32_t high, uint32_t low) {
    return Quad{static_cast<uint16_t>(high >> 16), static_cast<uint16_t>(high),
                static_cast<uint16_t>(low >> 16), static_cast<uint16_t>(low)};
  };
  info.fileVersion = quad(fileHigh, fileLow);
  info.productVersion = quad(productHigh, productLow);
  bool haveTable = false;
  for (const Node& child : r.Children(root, root.valueLength)) {
    if (child.key == u"StringFileInfo" && !haveTable) {
      for (const Node& table : r.Children(child, 0)) {
        if (table.key.size() != 8) continue;
        uint32_t id = 0;
        for (char16_t c : table.key) {
          const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                            : c >= u'a' && c <= u'f' ? c - u'a' + 10
                            : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                     : -1;
          if (digit < 0) throw VersionError("the version resource is malformed");
          id = (id << 4) | static_cast<uint32_t>(digit);
        }
        info.language = static_cast<uint16_t>(id >> 16);
        info.codePage = static_cast<uint16_t>(id);
        for (const Node& s : r.Children(table, 0)) {
          // wValueLength counts UTF-16 units in text blocks (type 1).
          const size_t units = s.type == 1 ? s.valueLength : s.valueLength / 2;
          info.strings.emplace_back(ToUtf8(s.key), ToUtf8(r.Text(s.value, units, s.end)));
        }
        haveTable = true;
        break;
      }
    }
  }
  return info;
}

}  // namespace stub::version
