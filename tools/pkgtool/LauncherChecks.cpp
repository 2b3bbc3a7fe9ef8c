#include "tools/pkgtool/LauncherChecks.h"

#include <algorithm>

#include "launcher/FatalMessages.h"
#include "package/LauncherSettings.h"
#include "tools/pkgtool/LauncherOptions.h"
#include "package/PackageMessage.h"
#include "package/VerifyPackage.h"
#include "unpack/LzmaUnpack.h"
#include "platform/Memory.h"
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
  stub::StubContext context{platform,
                                  stub::ArgumentList(u"\"Setup.exe\"", stub::Text(kPackagePath))};
};

// UnpackPayload's own loop over the launcher's decoder (the same exact-size
// rule, the same boxes), telling after each piece what share is done.
std::vector<uint8_t> Unpack(const stub::StubContext& context, const stub::PackageHeader& header,
                            bool x64, const std::function<void(double)>& progress = {}) {
  const stub::PayloadDescriptor& payload = x64 ? header.payload64 : header.payload32;
  stub::PayloadDecoder program(context, header, payload);
  stub::TStream output;
  const uint8_t* piece = nullptr;
  uint32_t count = 0;
  for (;;) {
    switch (program.Next(piece, count)) {
      case stub::ProgramSource::Step::kPiece:
        output.Write(piece, static_cast<int32_t>(count));
        if (progress && program.Size() != 0) {
          progress(static_cast<double>(output.Size) / program.Size());
        }
        continue;
      case stub::ProgramSource::Step::kDone:
        return std::vector<uint8_t>(output.Memory, output.Memory + output.Size);
      case stub::ProgramSource::Step::kDamaged:
        stub::ShowFatalMessage(context, stub::FatalMessage::kDamaged);
      case stub::ProgramSource::Step::kOutOfMemory:
        stub::MemoryExhausted();
    }
  }
}

}  // namespace

std::optional<stub::PackageHeader> PeekHeader(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < stub::kLocatorOffset + stub::kLocatorSize) return std::nullopt;
  uint8_t rawLocator[stub::kLocatorSize];
  std::copy_n(bytes.begin() + stub::kLocatorOffset, stub::kLocatorSize, rawLocator);
  const uint64_t at = stub::DecodeLocator(rawLocator).packageOffset;
  if (at == 0 || at + stub::kHeaderSize > bytes.size()) return std::nullopt;
  uint8_t rawHeader[stub::kHeaderSize];
  std::copy_n(bytes.begin() + at, stub::kHeaderSize, rawHeader);
  return stub::DecodeHeader(rawHeader);
}

std::optional<std::vector<uint8_t>> UnpackProgram(const std::vector<uint8_t>& bytes,
                                                  const stub::PackageHeader& header, bool x64) {
  if (x64 ? !stub::HasX64(header) : !stub::HasX86(header)) return std::nullopt;
  OpenPackage package(bytes);
  std::optional<std::vector<uint8_t>> program;
  stub::RunAsProcess(package.platform, [&] { program = Unpack(package.context, header, x64); });
  return program;
}

PackageCheck CheckPackage(const std::vector<uint8_t>& bytes, const CheckProgress& progress) {
  PackageCheck check;
  // The checksum reads the file once at memory speed; the unpacking is what
  // takes time, so the total is the file plus the packed programs.
  uint64_t total = bytes.size();
  auto report = [&](uint64_t done) {
    if (progress) progress(done, total);
  };
  OpenPackage package(bytes);
  stub::StubContext& context = package.context;

  std::string step;
  std::u16string refusal;  // a fault no launcher check names
  const std::optional<std::vector<uint8_t>> settings = LauncherSettingsBytes(bytes);
  const bool finished = stub::RunAsProcess(package.platform, [&] {
    // The launcher reads its settings before anything else: the digest the
    // package data must have among them.
    step = "launcher settings";
    if (settings && !stub::DecodeLauncherSettings(settings->data(), static_cast<uint32_t>(settings->size()),
                                                  0, context.settings)) {
      stub::SettingsFault fault = stub::SettingsFault::kNone;
      stub::writer::DecodeLauncherSettingsChoice(*settings, &fault);
      step = std::string("launcher settings (not sound: ") + stub::writer::DescribeSettingsFault(fault) + ")";
      stub::ShowFatalMessage(context, stub::FatalMessage::kDamaged);
    }
    step = context.settings.hasDigest ? "file size, checksum and digest" : "file size and checksum";
    check.locator = stub::VerifyPackage(context, true);
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
    uint64_t done = bytes.size();
    for (const bool x64 : {false, true}) {
      if (x64 ? stub::HasX64(check.header) : stub::HasX86(check.header)) {
        total += (x64 ? check.header.payload64 : check.header.payload32).packedSize;
      }
    }
    report(done);
    for (const bool x64 : {false, true}) {
      if (x64 ? !stub::HasX64(check.header) : !stub::HasX86(check.header)) continue;
      step = x64 ? "x64 setup program" : "x86 setup program";
      const uint64_t packed = (x64 ? check.header.payload64 : check.header.payload32).packedSize;
      (x64 ? check.x64 : check.x86) = Unpack(context, check.header, x64, [&](double share) {
        report(done + static_cast<uint64_t>(share * packed));
      });
      done += packed;
    }
    report(done);
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
