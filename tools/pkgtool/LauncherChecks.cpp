#include "tools/pkgtool/LauncherChecks.h"

#include "launcher/FatalMessages.h"
#include "package/PackageMessage.h"
#include "package/VerifyPackage.h"
#include "platform/Memory.h"
#include "unpack/LzmaUnpack.h"
#include "unpack/NoRTLStream.h"

namespace pkgtool {

namespace {

// The launcher's allocator reports exhaustion through a plain function; this
// routes it to the platform that is running right now.
stub::MemoryPlatform* g_running = nullptr;

void ExhaustedWhileRunning() {
  g_running->ShowErrorAndExit(stub::Text(stub::kMsgOutOfMemory), g_running->ModulePath());
}

const char16_t kPackagePath[] = u"C:\\Downloads\\Setup.exe";

}  // namespace

bool HasX86(const stub::PackageHeader& header) { return header.payload32.offset != 0; }
bool HasX64(const stub::PackageHeader& header) {
  return header.payload64.offset != 0 && header.payload64.offset != stub::kBarredFrom64Bit;
}
bool BarredFrom64Bit(const stub::PackageHeader& header) {
  return header.payload64.offset == stub::kBarredFrom64Bit;
}

bool RunAsLauncher(stub::MemoryPlatform& platform, const std::function<void()>& body) {
  stub::MemoryPlatform* previous = g_running;
  g_running = &platform;
  stub::SetMemoryExhaustedHandler(&ExhaustedWhileRunning);
  bool returned = true;
  try {
    body();
  } catch (const stub::ProcessEnded&) {
    returned = false;
  }
  g_running = previous;
  return returned;
}

PackageCheck CheckPackage(const std::vector<uint8_t>& bytes) {
  PackageCheck check;
  stub::MemoryPlatform platform;
  platform.packageBytes = bytes;
  platform.modulePath = kPackagePath;
  if (!platform.OpenPackageFile(stub::Text(kPackagePath))) return check;
  const stub::StubContext context{platform,
                                  stub::ArgumentList(u"\"Setup.exe\"", stub::Text(kPackagePath))};

  std::string step;
  const bool finished = RunAsLauncher(platform, [&] {
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
      // The launcher's rule: the text is readable when every byte of it
      // arrives from its absolute offset.
      const uint32_t byteCount = 2u * descriptor.length;
      std::vector<uint8_t> text(byteCount);
      if (platform.ReadPackageFile(descriptor.offset, text.data(), byteCount) != byteCount) {
        stub::ShowFatalMessage(context, stub::FatalMessage::kDamaged);
      }
    }

    step = "setup programs";
    if (!HasX86(check.header) && !HasX64(check.header)) {
      platform.boxes.push_back({u"The package carries no setup program.", u"", 0});
      throw stub::ProcessEnded{};
    }
    const std::pair<const char*, bool> payloads[] = {{"x86 setup program", true},
                                                     {"x64 setup program", false}};
    for (const auto& [name, is32] : payloads) {
      if (is32 ? !HasX86(check.header) : !HasX64(check.header)) continue;
      step = name;
      const stub::PayloadDescriptor& d = is32 ? check.header.payload32 : check.header.payload64;
      stub::TStream output;
      stub::UnpackPayload(context, check.header, d, output);
      (is32 ? check.x86 : check.x64) = std::vector<uint8_t>(output.Memory, output.Memory + output.Size);
    }
  });
  platform.ClosePackageFile();
  if (finished) {
    check.sound = true;
  } else {
    check.failedCheck = step;
    check.verdict = platform.boxes.empty() ? u"" : platform.boxes.back().text;
    check.x86.reset();
    check.x64.reset();
  }
  return check;
}

}  // namespace pkgtool
