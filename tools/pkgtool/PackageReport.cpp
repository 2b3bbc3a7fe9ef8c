#include "tools/pkgtool/PackageReport.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "tools/pkgtool/Authenticode.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/PeFacts.h"
#include "tools/pkgtool/VendorOptions.h"

namespace pkgtool {

namespace {

using nlohmann::json;

std::string Hex32(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", value);
  return buffer;
}

std::string Percent(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f%%", value);
  return buffer;
}

// `program`: the setup program as the launcher unpacks it, when the check
// got that far; what kind of program it is then shows too.
json Payload(const stub::PayloadDescriptor& d, const std::optional<std::vector<uint8_t>>& program,
             bool x64) {
  json p = {{"offset", d.offset}, {"packedSize", d.packedSize}, {"unpackedSize", d.unpackedSize}};
  p["ratio"] = d.unpackedSize ? static_cast<double>(d.packedSize) / d.unpackedSize : 0.0;
  if (program) {
    const ProgramImage image = DescribeImage(*program);
    p["image"] = image.description;
    p["machine"] = BuiltFor(image);
    p["fitsSlot"] = FitsSlot(image, x64);
    p["signature"] = SignatureJson(ExamineSignature(*program));
  }
  return p;
}

json Message(const std::vector<uint8_t>& bytes, const stub::MessageDescriptor& d) {
  json m = {{"offset", d.offset}, {"length", d.length}};
  // An empty text needs no bytes, wherever it points: the launcher reads none.
  const uint64_t end = static_cast<uint64_t>(d.offset) + 2ull * d.length;
  if (d.length != 0 && end > bytes.size()) {
    m["text"] = nullptr;
    return m;
  }
  std::u16string text;
  for (uint32_t i = 0; i < d.length; ++i) {
    text += static_cast<char16_t>(stub::ReadU16(bytes.data() + d.offset + 2 * i));
  }
  m["text"] = Utf16ToUtf8(text);
  return m;
}

json Range(Family family, uint16_t min, uint16_t max) {
  return {{"min", min},
          {"max", max},
          {"minName", DescribeReleaseCode(family, min)},
          {"maxName", DescribeReleaseCode(family, max)}};
}

std::string PayloadLine(const json& p, bool x64) {
  if (p.is_null()) return "absent";
  if (p.is_string()) return p.get<std::string>();
  std::ostringstream out;
  out << p["unpackedSize"].get<uint64_t>() << " bytes, packed " << p["packedSize"].get<uint64_t>()
      << " (" << Percent(100.0 * p["ratio"].get<double>()) << ") at offset "
      << p["offset"].get<uint64_t>();
  if (p.contains("image")) {
    out << "; " << p["image"].get<std::string>();
    if (!p["fitsSlot"].get<bool>()) {
      out << " (the " << (x64 ? "x64" : "x86") << " slot takes " << SlotNeeds(x64) << ")";
    }
    if (!p["machine"].get<std::string>().empty()) out << "; built for " << p["machine"].get<std::string>();
  }
  if (p.contains("signature")) out << "; " << SignatureTextOfJson(p["signature"]);
  return out.str();
}

std::string Quoted(const json& text) {
  if (text.is_null()) return "(unreadable: lies outside the file)";
  std::string quoted = "\"";
  for (char c : text.get<std::string>()) {
    if (c == '\n') quoted += "\\n";
    else if (c == '\r') quoted += "\\r";
    else if (c == '"') quoted += "\\\"";
    else quoted += c;
  }
  return quoted + "\"";
}

// What a signed package says about the setup programs inside: the ones that
// Windows would judge by another name, or by none.
json SignerNotes(const json& d) {
  json notes = json::array();
  const std::string packageSigner = d["signature"].value("signer", "");
  for (const char* slot : {"x86", "x64"}) {
    const json& p = d["header"][slot];
    if (!p.is_object() || !p.contains("signature")) continue;
    const json& s = p["signature"];
    const std::string program = std::string("the ") + slot + " setup program";
    if (!s["signed"].get<bool>()) {
      notes.push_back(program + " is not signed: " + kUnsignedProgramRisk);
    } else if (s["signer"].is_string() && s["signer"].get<std::string>() != packageSigner) {
      notes.push_back(program + " is signed by \"" + s["signer"].get<std::string>() +
                      "\", not by the package's signer");
    }
  }
  return notes;
}

}  // namespace

json DescribePackage(const std::string& path, const std::vector<uint8_t>& bytes,
                     const PackageCheck& check) {
  json d;
  d["file"] = path;
  d["size"] = bytes.size();
  d["locator"] = nullptr;
  d["header"] = nullptr;
  const std::optional<CertificateTable> signature = FindCertificateTable(bytes);
  d["signature"] = nullptr;
  if (signature) {
    d["signature"] = {
        {"kind", "Authenticode"}, {"offset", signature->offset}, {"size", signature->size}};
    if (!signature->signer.empty()) d["signature"]["signer"] = signature->signer;
    const nlohmann::json own = SignatureJson(ExamineSignature(bytes));
    // A signature too damaged to name them has neither key: null then.
    for (const char* key : {"digestAlgorithm", "digestMatches"}) {
      d["signature"][key] = own.contains(key) ? own.at(key) : json(nullptr);
    }
    if (own.contains("problem")) d["signature"]["problem"] = own["problem"];
  }
  if (bytes.size() >= stub::kLocatorOffset + stub::kLocatorSize) {
    uint8_t raw[stub::kLocatorSize];
    std::memcpy(raw, bytes.data() + stub::kLocatorOffset, sizeof raw);
    const stub::PackageLocator l = stub::DecodeLocator(raw);
    const uint64_t minSize = (static_cast<uint64_t>(l.minSizeHigh) << 32) | l.minSizeLow;
    d["locator"] = {{"offset", stub::kLocatorOffset},  {"packageOffset", l.packageOffset},
                    {"crcLength", l.crcLength},        {"crc", Hex32(l.crc)},
                    {"minSize", minSize},              {"detachedMinSize", l.detachedMinSize},
                    {"detached", l.detachedMinSize != 0}};
    const uint64_t at = l.packageOffset;
    if (at != 0 && at + stub::kHeaderSize <= bytes.size()) {
      uint8_t rawHeader[stub::kHeaderSize];
      std::memcpy(rawHeader, bytes.data() + at, sizeof rawHeader);
      const stub::PackageHeader h = stub::DecodeHeader(rawHeader);
      json header;
      header["lzma"] = {{"properties", h.lzmaProperties},
                        {"lc", h.lzmaProperties % 9},
                        {"lp", (h.lzmaProperties / 9) % 5},
                        {"pb", h.lzmaProperties / 45},
                        {"dictionarySize", h.lzmaDictionarySize}};
      header["allowedWindows"] = WindowsListNames(h.allowedWindows);
      header["win10"] = Range(Family::kWin10, h.win10MinRelease, h.win10MaxRelease);
      header["win11"] = Range(Family::kWin11, h.win11MinRelease, h.win11MaxRelease);
      header["elevation"] = {{"value", h.elevationMode},
                             {"meaning", DescribeElevation(h.elevationMode)}};
      if (h.expiryYear == 0) {
        header["expiry"] = nullptr;
      } else {
        header["expiry"] = {
            {"year", h.expiryYear},
            {"month", h.expiryMonth},
            {"day", h.expiryDay},
            {"date", FormatDate(h.expiryYear, h.expiryMonth, h.expiryDay)},
            {"calendarDate", IsCalendarDate(h.expiryYear, h.expiryMonth, h.expiryDay)}};
      }
      header["x86"] = stub::HasX86(h) ? Payload(h.payload32, check.x86, false) : json(nullptr);
      header["x64"] = stub::HasX64(h) ? Payload(h.payload64, check.x64, true)
                                : (stub::BarredFrom64Bit(h) ? json("barred from 64-bit Windows")
                                                      : json(nullptr));
      header["afterMessages"] = h.afterMessages;
      header["messages"] = {{"expired", Message(bytes, h.expiredMessage)},
                            {"wrongWidth", Message(bytes, h.wrongWidthMessage)},
                            {"unsupportedWindows", Message(bytes, h.unsupportedWindowsMessage)}};
      d["header"] = header;
      // A signature appended behind the package is not the setup program's
      // trailing data, though it lies after the messages too.
      uint64_t end = bytes.size();
      if (signature && signature->offset >= h.afterMessages) {
        end = UnsignedEnd(bytes, *signature, d["locator"]["minSize"].get<uint64_t>());
      }
      d["trailingData"] = {{"offset", h.afterMessages},
                           {"size", h.afterMessages <= end ? end - h.afterMessages : 0}};
    }
  }
  if (signature && d["header"].is_object()) d["signature"]["notes"] = SignerNotes(d);
  d["resources"] = DescribeVendorResources(bytes);  // vendor resources (VendorOptions)
  json integrity = {{"sound", check.sound}};
  if (!check.sound) {
    integrity["failedCheck"] = check.failedCheck;
    integrity["verdict"] = Utf16ToUtf8(check.verdict);
  }
  d["integrity"] = integrity;
  return d;
}

std::string RenderPackageText(const json& d) {
  std::ostringstream out;
  auto line = [&](const std::string& label, const std::string& value) {
    out << label;
    if (!value.empty()) {
      for (size_t i = label.size(); i < 22; ++i) out << ' ';
    }
    out << value << '\n';
  };
  line("Package", d["file"].get<std::string>() + " (" + std::to_string(d["size"].get<uint64_t>()) +
                      " bytes)");
  const json& l = d["locator"];
  if (l.is_null()) {
    line("Locator", "none: the file is shorter than 152 bytes");
  } else {
    line("Locator", "at offset 128");
    line("  package offset", std::to_string(l["packageOffset"].get<uint64_t>()));
    line("  checksum", l["crc"].get<std::string>() + " over " +
                           std::to_string(l["crcLength"].get<uint64_t>()) + " bytes");
    line("  minimum size", std::to_string(l["minSize"].get<uint64_t>()) + " bytes");
    line("  detached", l["detached"].get<bool>()
                           ? "yes: minimum " + std::to_string(l["detachedMinSize"].get<uint64_t>()) +
                                 " bytes; the launcher neither waits nor deletes the copy"
                           : "no: the launcher waits for the setup program, then deletes it");
  }
  const json& h = d["header"];
  if (h.is_null()) {
    line("Header", !l.is_null() && l["packageOffset"].get<uint64_t>() == 0
                       ? "none: the file carries no package"
                       : "unreadable: the package offset lies beyond the file");
  } else {
    const json& z = h["lzma"];
    char props[96];
    std::snprintf(props, sizeof props, "properties 0x%02X (lc %d, lp %d, pb %d), dictionary %s",
                  z["properties"].get<int>(), z["lc"].get<int>(), z["lp"].get<int>(),
                  z["pb"].get<int>(), FormatSize(z["dictionarySize"].get<uint64_t>()).c_str());
    line("LZMA", props);
    std::string windows;
    for (const auto& n : h["allowedWindows"]) windows += (windows.empty() ? "" : ", ") + n.get<std::string>();
    line("Windows", windows.empty() ? "none" : windows);
    line("Windows 10 releases", h["win10"]["minName"].get<std::string>() + " .. " +
                                    h["win10"]["maxName"].get<std::string>());
    line("Windows 11 releases", h["win11"]["minName"].get<std::string>() + " .. " +
                                    h["win11"]["maxName"].get<std::string>());
    line("Elevation", std::to_string(h["elevation"]["value"].get<int>()) + " " +
                          h["elevation"]["meaning"].get<std::string>());
    const json& e = h["expiry"];
    line("Expires", e.is_null() ? "never"
                                : e["date"].get<std::string>() + " (refused from that day on" +
                                      (e["calendarDate"].get<bool>() ? ")" : "; not a calendar date)"));
    line("x86 setup program", PayloadLine(h["x86"], false));
    line("x64 setup program", PayloadLine(h["x64"], true));
    line("Messages", "");
    line("  expired", Quoted(h["messages"]["expired"]["text"]));
    line("  wrong width", Quoted(h["messages"]["wrongWidth"]["text"]));
    line("  unsupported Windows", Quoted(h["messages"]["unsupportedWindows"]["text"]));
    line("Trailing data", std::to_string(d["trailingData"]["size"].get<uint64_t>()) +
                              " bytes at offset " +
                              std::to_string(d["trailingData"]["offset"].get<uint64_t>()));
  }
  const json& signature = d["signature"];
  if (signature.is_null()) {
    line("Signature", "none");
  } else {
    std::string text = "Authenticode, " + std::to_string(signature["size"].get<uint64_t>()) +
                       " bytes at offset " + std::to_string(signature["offset"].get<uint64_t>());
    if (signature.contains("signer")) {
      text += ", signed by \"" + signature["signer"].get<std::string>() + "\"";
    }
    line("Signature", text);
    line("", DigestTextOfJson(signature));
    for (const auto& note : signature.value("notes", json::array())) line("", note.get<std::string>());
  }
  out << RenderVendorResourcesText(d["resources"]);  // vendor resources (VendorOptions)
  const json& i = d["integrity"];
  line("Integrity", i["sound"].get<bool>() ? "sound"
                                           : "fails at " + i["failedCheck"].get<std::string>() +
                                                 ": " + i["verdict"].get<std::string>());
  return out.str();
}

}  // namespace pkgtool
