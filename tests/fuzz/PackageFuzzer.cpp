// Runs what `pkgtool inspect` and `pkgtool verify` do with a package file on
// the fuzz input: the launcher's checks (CheckPackage), the description and
// both of its renderings. Whatever the bytes, the tool must end in a report
// (sound, or the check that failed and why) or in one of its clear errors;
// a crash, an exception the tool does not turn into an error, a report that
// contradicts itself, or an allocation out of proportion to the input is a
// finding.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/memory/MemoryPlatform.h"
#include "tests/fuzz/ToolReaderFuzzer.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/LauncherChecks.h"
#include "tools/pkgtool/PackageReport.h"
#include "tools/pkgtool/PeFacts.h"

namespace {

using stub::fuzz::Fail;

// What `verify` prints or reports, and the report `inspect` prints both ways.
void InspectAndVerify(const std::vector<uint8_t>& bytes) {
  using pkgtool::PackageCheck;
  const PackageCheck check = pkgtool::CheckPackage(bytes);
  if (check.sound) {
    if (!check.locatorRead || !check.headerRead) Fail("sound, but locator or header unread");
    if (!check.x86 && !check.x64) Fail("sound, but without a setup program");
    if (check.x86 && check.x86->size() != check.header.payload32.unpackedSize) {
      Fail("x86 program size differs from its stated size");
    }
    if (check.x64 && check.x64->size() != check.header.payload64.unpackedSize) {
      Fail("x64 program size differs from its stated size");
    }
  } else {
    // verify prints "<path>: <failed check>: <verdict>"; both must say something.
    if (check.failedCheck.empty()) Fail("unsound, but no check named as failed");
    if (check.verdict.empty()) Fail("unsound, but no reason given (" + check.failedCheck + ")");
    if (check.x86 || check.x64) Fail("unsound, but setup programs handed out");
  }

  // pkgtool tells "not a setup package" before it runs the checks; the
  // launcher must never find such a file sound. Except where Windows would
  // not start the file at all (it does not begin with MZ): the launcher's
  // checks, which never look there, say nothing about such a file.
  const std::string notAPackage = pkgtool::NotAPackage(bytes);
  const bool startable = bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
  if (!notAPackage.empty() && check.sound && startable) {
    Fail("sound, but called no package: " + notAPackage);
  }

  const nlohmann::json description = pkgtool::DescribePackage("package.exe", bytes, check);
  if (check.headerRead && !description["header"].is_object()) {
    Fail("the launcher read a header the report calls unreadable");
  }
  if (description["integrity"]["sound"] != check.sound) Fail("report and verdict disagree");
  const std::string json = description.dump(2);
  const std::string text = pkgtool::RenderPackageText(description);
  if (json.empty() || text.empty()) Fail("empty report");
  if (!check.sound) {
    const std::string reason = pkgtool::Utf16ToUtf8(check.verdict);
    if (text.find(reason) == std::string::npos) Fail("the text report omits the verdict");
  }
}

}  // namespace

// Readers of the other files the authoring side takes from users (an icon, a
// recipe) get their own target beside this one: a CheckInput of their own,
// framed by ToolReaderFuzzer.cpp and built by the loop in CMakeLists.txt.

namespace stub::fuzz {

const char kReaderName[] = "pkgtool";

void CheckInput(const uint8_t* data, size_t size) {
  InspectAndVerify(std::vector<uint8_t>(data, data + size));
}

}  // namespace stub::fuzz
