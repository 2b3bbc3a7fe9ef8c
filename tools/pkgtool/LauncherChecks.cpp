#include "tools/pkgtool/LauncherChecks.h"

#include "package/PackageMessage.h"
#include "package/VerifyPackage.h"
#include "unpack/LzmaUnpack.h"
#include "unpack/NoRTLStream.h"

namespace pkgtool {

namespace {

const char16_t kPackagePath[] = u"C:\\Downloads\\Setup.exe";

// The package as the launcher's own open file, with the context its
// functions take.
struct OpenPackage {
  explicit OpenPackage(const std::vector<uint8_t>& bytes) {
    platform.packageBytes = bytes;
    platform.modulePath = kPackagePath;
    platform.OpenPackageFile(stub::Text(kPackagePath));
  }
  ~OpenPackage() { platform.ClosePackageFile(); }
  stub::MemoryPlatform platform;
  const stub::StubContext context{platform,
                                  stub::ArgumentList(u"\"Setup.exe\"", stub::Text(kPackagePath))};
};

std::vector<uint8_t> Unpack(const stub::StubContext& context, const stub::PackageHeader& header,
                            bool x64) {
  stub::TStream output;
  stub::UnpackPayload(context, header, x64 ? header.payload64 : header.payload32, output);
  return std::vector<uint8_t>(output.Memory, output.Memory + output.Size);
}

}  // namespace

std::optional<std::vector<uint8_t>> UnpackProgram(const std::vector<uint8_t>& bytes,
                                                  const stub::PackageHeader& header, bool x64) {
  if (x64 ? !stub::HasX64(header) : !stub::HasX86(header)) return std::nullopt;
  OpenPackage package(bytes);
  std::optional<std::vector<uint8_t>> program;
  stub::RunAsProcess(package.platform, [&] { program = Unpack(package.context, header, x64); });
  return program;
}

PackageCheck CheckPackage(const std::vector<uint8_t>& bytes) {
  PackageCheck check;
  OpenPackage package(bytes);
  const stub::StubContext& context = package.context;

  std::string step;
  std::u16string refusal;  // a fault no launcher check names
  const bool finished = stub::RunAsProcess(package.platform, [&] {
    step = "file size and checksum";
    check.locator = stub::VerifyPackage(context);
    check.locatorRead = true;
    step = "package header";
    check.header = stub::ReadPackageHeader(context, check.locator.packageOffset);
    check.headerRead = true;

    const std::pair<const char*, stub::MessageDescriptor> messages[] = {
        {"expired message", check.header.expiredMessage},
        {"wrong-width message", check.header.wrongWidthMessage},
        {"unsupported-Windows message", check.header.unsupportedWindowsMessage}};
    for (const auto& [name, descriptor] : messages) {
      step = name;
      stub::ReadPackageMessage(context, descriptor);
    }

    step = "setup programs";
    if (!stub::HasX86(check.header) && !stub::HasX64(check.header)) {
      refusal = u"The package carries no setup program.";
      throw stub::ProcessEnded{};
    }
    for (const bool x64 : {false, true}) {
      if (x64 ? !stub::HasX64(check.header) : !stub::HasX86(check.header)) continue;
      step = x64 ? "x64 setup program" : "x86 setup program";
      (x64 ? check.x64 : check.x86) = Unpack(context, check.header, x64);
    }
  });
  if (finished) {
    check.sound = true;
  } else {
    check.failedCheck = step;
    const auto& boxes = package.platform.boxes;
    check.verdict = !refusal.empty() ? refusal : boxes.empty() ? u"" : boxes.back().text;
    check.x86.reset();
    check.x64.reset();
  }
  return check;
}

}  // namespace pkgtool
