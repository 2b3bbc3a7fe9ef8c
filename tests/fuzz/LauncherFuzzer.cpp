// Runs the launcher's whole main sequence on the in-memory platform, with the
// fuzz input as the launcher's file and a 16-byte prefix as the computer it
// runs on. Whatever the bytes, a run must end in exactly one of the launcher's
// own outcomes: one error box (a fixed message, the out-of-memory box, or a
// text stored in the package), or one started setup program. Anything else,
// and every sanitizer report, is a crash.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "launch/Elevation.h"
#include "launch/TemporaryCopy.h"
#include "launcher/FatalMessages.h"
#include "package/StubTypes.h"
#include "platform/Memory.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/fuzz/FuzzScenario.h"

namespace stub::fuzz {
namespace {

// Large enough for any payload the seeds carry, small enough that a header
// asking for gigabytes meets the out-of-memory box instead of the machine's
// limit.
constexpr size_t kAllocationLimit = size_t{256} << 20;

[[noreturn]] void Fail(const MemoryPlatform& platform, const std::string& what) {
  std::fprintf(stderr, "\n*** launcher outcome violated: %s\n", what.c_str());
  for (const RecordedBox& box : platform.boxes) {
    std::fprintf(stderr, "box: %s\n", ToUtf8(box.text).c_str());
  }
  std::fprintf(stderr, "starts: %zu, waits: %d\n", platform.starts.size(), platform.waits);
  for (const std::string& call : platform.calls) std::fprintf(stderr, "  %s\n", call.c_str());
  std::abort();
}

// What the launcher's file says about itself, read independently of the core.
struct PackageView {
  bool hasLocator = false;
  PackageLocator locator;
  bool hasHeader = false;
  PackageHeader header;
  std::vector<std::u16string> messages;  // the stored texts that can be read whole
};

PackageView ReadView(const std::vector<uint8_t>& file) {
  PackageView view;
  if (file.size() < kLocatorOffset + kLocatorSize) return view;
  uint8_t raw[kLocatorSize];
  std::copy(file.begin() + kLocatorOffset, file.begin() + kLocatorOffset + kLocatorSize, raw);
  view.locator = DecodeLocator(raw);
  view.hasLocator = true;
  const uint64_t at = view.locator.packageOffset;
  if (at + kHeaderSize > file.size()) return view;
  uint8_t head[kHeaderSize];
  std::copy(file.begin() + at, file.begin() + at + kHeaderSize, head);
  view.header = DecodeHeader(head);
  view.hasHeader = true;
  for (const MessageDescriptor& d : {view.header.expiredMessage, view.header.wrongWidthMessage,
                                     view.header.unsupportedWindowsMessage}) {
    if (d.length == 0) {
      view.messages.emplace_back();
      continue;
    }
    const uint64_t end = uint64_t{d.offset} + 2u * d.length;
    if (end > file.size()) continue;
    std::u16string text;
    for (uint64_t i = d.offset; i < end; i += 2) {
      text += static_cast<char16_t>(file[i] | (file[i + 1] << 8));
    }
    view.messages.push_back(text);
  }
  return view;
}

// The filling as the launcher's rule states it, replayed with a marker in
// place of the name: while the text holds a "%USER%", its first one becomes
// the marker, the search starting over; then the same for "%user%". The
// marker is a code unit the stored text does not hold, so it can neither
// form nor break a placeholder, which is what the launcher's "only the
// placeholders the stored text holds" amounts to.
std::u16string MarkPlaceholders(const std::u16string& stored, char16_t marker) {
  std::u16string text = stored;
  for (const char16_t* placeholder : {u"%USER%", u"%user%"}) {
    for (size_t at; (at = text.find(placeholder)) != std::u16string::npos;) {
      text.replace(at, 6, 1, marker);
    }
  }
  return text;
}

// Whether `shown` is `stored` with its placeholders filled by one and the
// same non-empty name (an empty one leaves the text as it is).
bool FilledFrom(const std::u16string& stored, const std::u16string& shown) {
  if (shown == stored) return true;
  std::vector<bool> used(0x10000);
  for (char16_t c : stored) used[c] = true;
  char16_t marker = 1;
  while (used[marker]) ++marker;  // a stored text is at most 65535 units long
  const std::u16string marked = MarkPlaceholders(stored, marker);
  const size_t slots = static_cast<size_t>(std::count(marked.begin(), marked.end(), marker));
  if (slots == 0) return false;
  const size_t fixed = marked.size() - slots;
  if (shown.size() <= fixed || (shown.size() - fixed) % slots != 0) return false;
  const std::u16string name = shown.substr(marked.find(marker), (shown.size() - fixed) / slots);
  std::u16string expected;
  for (char16_t c : marked) {
    if (c == marker) expected += name;
    else expected += c;
  }
  return expected == shown;
}

bool IsFixedMessage(const std::u16string& text) {
  for (FatalMessage m : {FatalMessage::kDamaged, FatalMessage::kTruncated,
                         FatalMessage::kCannotCreateCopy, FatalMessage::kCannotExecute}) {
    if (text == FatalMessageText(m)) return true;
  }
  return false;
}

// Whether the package may honestly need one block above the ceiling. Inputs
// are a few kilobytes, so the checksum span and the packed bytes fit unless
// the file size is unknown; only the LZMA window and the stated output size
// can ask for more. Any other out-of-memory box is a size that went wrong on
// the way, a wrapped sum for one.
bool MayNeedMoreThanTheCeiling(const MemoryPlatform& platform, const PackageView& view) {
  if (platform.reportedFileSize) return true;
  if (!view.hasHeader) return false;
  const PackageHeader& h = view.header;
  // The window is the dictionary size, with a little on top for the decoder.
  // The program's own size needs no memory: it goes to disk in pieces.
  constexpr uint32_t kWindowSlack = 1u << 20;
  return h.lzmaDictionarySize + uint64_t{kWindowSlack} > kAllocationLimit;
}

size_t IndexOfCall(const MemoryPlatform& platform, const std::string& prefix) {
  for (size_t i = 0; i < platform.calls.size(); ++i) {
    if (platform.calls[i].rfind(prefix, 0) == 0) return i;
  }
  return std::string::npos;
}

void CheckBox(const MemoryPlatform& platform, const PackageView& view,
              const std::u16string& caption) {
  const RecordedBox& box = platform.boxes.front();
  if (box.caption != caption) Fail(platform, "box caption is not the launcher's path");
  if (box.style != MemoryPlatform::kMbIconError) Fail(platform, "box style is not MB_ICONERROR");
  if (platform.calls.empty() || platform.calls.back() != "ExitProcess 0") {
    Fail(platform, "the process did not end right after the box");
  }
  // A box before the start leaves no copy behind, however far it got.
  if (platform.progressOpen) Fail(platform, "the progress window stayed beside the box");
  // (The last creation is ours: a name found taken is always followed by
  // another try.)
  const std::string created = platform.copies.empty() ? "" : ToUtf8(platform.copies.back().path);
  if (!created.empty() && !platform.CallMade("HoldCopy " + created) &&
      platform.files.count(FromUtf8(created))) {
    Fail(platform, "a partial copy was left behind");
  }
  // Nor an administrator's private folder, unless a start was tried from it.
  if (!platform.CallMade("StartDirect") && !platform.CallMade("StartShell")) {
    for (const auto& made : platform.folderAccess) {
      if (std::find(platform.folders.begin(), platform.folders.end(), made.first) !=
          platform.folders.end()) {
        Fail(platform, "a private folder was left behind by a box");
      }
    }
  }
  if (IsFixedMessage(box.text)) return;
  if (box.text == kMsgOutOfMemory) {
    if (MayNeedMoreThanTheCeiling(platform, view)) return;
    Fail(platform, "out of memory, though nothing in the package needs that much");
  }
  for (const std::u16string& stored : view.messages) {
    if (FilledFrom(stored, box.text)) return;
  }
  Fail(platform, "box text is neither a fixed message nor one the package stores");
}

void CheckLaunch(const MemoryPlatform& platform, const PackageView& view) {
  const RecordedStart& start = platform.starts.front();
  // A launcher that raises itself starts its own file, and leaves no copy.
  const std::u16string marker = kRelaunchedSwitch;
  if (start.shell && start.verb == u"runas" && start.parameters.compare(0, marker.size(), marker) == 0) {
    if (platform.administrator) Fail(platform, "an administrator relaunched itself");
    for (const auto& made : platform.copies) {
      if (platform.files.count(made.path)) Fail(platform, "a copy outlived the relaunch");
    }
    if (platform.waits != 1) Fail(platform, "the launcher did not wait for its elevated self");
    return;
  }
  // The copy is the last file the launcher created.
  if (platform.copies.empty()) Fail(platform, "a start without a temporary copy");
  const std::u16string copy = platform.copies.back().path;
  if (start.shell ? start.file != copy
                  : start.commandLine.compare(0, copy.size() + 2, u"\"" + copy + u"\"") != 0) {
    Fail(platform, "the started program is not the copy that was written");
  }
  if (!start.copyHeldDuringStart) Fail(platform, "the copy was not held while it was started");
  const size_t closed = IndexOfCall(platform, "ClosePackageFile");
  const size_t started = std::min(IndexOfCall(platform, "StartDirect"),
                                  IndexOfCall(platform, "StartShell"));
  if (closed == std::string::npos || closed > started) {
    Fail(platform, "the package file was still open when the setup program started");
  }
  if (platform.keyOpen) Fail(platform, "the registry key was left open");
  if (platform.copyHeld) Fail(platform, "the copy is still held after the start");

  const bool detached = view.hasLocator && view.locator.detachedMinSize != 0;
  // An administrator's copy lies in the one folder made for it, born locked,
  // and goes with it.
  const bool administrator = platform.administrator && platform.CallMade("IsAdministrator");
  if (administrator != !platform.folderAccess.empty() || platform.folderAccess.size() > 1) {
    Fail(platform, "an administrator's copy without exactly one private folder, or a user's with one");
  }
  if (administrator) {
    const auto& [folder, access] = *platform.folderAccess.begin();
    if (access != kPrivateFolderAccess) Fail(platform, "the private folder has other rights");
    // (A module path that ends in a backslash leaves the name empty.)
    if (copy.compare(0, folder.size() + 1, folder + u"\\") != 0 ||
        copy.find(u'\\', folder.size() + 1) != std::u16string::npos) {
      Fail(platform, "the copy is not right inside its private folder");
    }
    const bool folderLeft =
        std::find(platform.folders.begin(), platform.folders.end(), folder) != platform.folders.end();
    if (folderLeft != detached) Fail(platform, "the private folder outlived its copy, or a detached one went");
  }
  if (detached) {
    if (platform.waits != 0) Fail(platform, "a detached package waited");
    const auto it = platform.files.find(copy);
    if (it == platform.files.end()) Fail(platform, "a detached package lost its copy");
    if (!view.hasHeader || (it->second.size() != view.header.payload32.unpackedSize &&
                            it->second.size() != view.header.payload64.unpackedSize)) {
      Fail(platform, "the copy's size is neither payload's unpacked size");
    }
  } else {
    if (platform.waits != 1) Fail(platform, "the launcher did not wait exactly once");
    if (platform.files.count(copy)) Fail(platform, "the copy was not deleted after the wait");
  }
}

}  // namespace
}  // namespace stub::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  stub::SetAllocationLimitForTesting(stub::fuzz::kAllocationLimit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace stub;
  using namespace stub::fuzz;
  const size_t prefix = size < kFactsSize ? size : kFactsSize;
  const Facts facts = DecodeFacts(data, prefix);

  MemoryPlatform platform;
  ApplyFacts(facts, data + prefix, size - prefix, platform);
  const std::vector<Preexisting> before = PreexistingFiles(platform);
  const PackageView view = ReadView(platform.packageBytes);
  const std::u16string caption = platform.modulePath.substr(0, 260);

  if (RunOnMemoryPlatform(platform) != 0) Fail(platform, "exit code is not 0");

  const size_t boxes = platform.boxes.size();
  const size_t starts = platform.starts.size();
  // LAUNCHER_FUZZ_SHOW=1: one line per input, to see where seeds end up.
  static const bool show = std::getenv("LAUNCHER_FUZZ_SHOW") != nullptr;
  if (show) {
    std::fprintf(stderr, "outcome: %s\n",
                 boxes ? ("box \"" + ToUtf8(platform.boxes[0].text).substr(0, 60) + "\"").c_str()
                       : starts ? (platform.starts[0].shell ? "shell start " +
                                                                  ToUtf8(platform.starts[0].verb)
                                                            : std::string("direct start"))
                                      .c_str()
                                : "nothing");
  }
  if (boxes == 1 && starts == 0) {
    CheckBox(platform, view, caption);
  } else if (boxes == 0 && starts == 1) {
    CheckLaunch(platform, view);
  } else {
    Fail(platform, "expected exactly one box or one start, got " + std::to_string(boxes) +
                       " boxes and " + std::to_string(starts) + " starts");
  }

  // Nothing that was on disk before may be replaced or deleted, the package
  // itself included.
  for (const Preexisting& file : before) {
    const auto it = platform.files.find(file.path);
    if (it == platform.files.end() || it->second != file.bytes) {
      Fail(platform, "an existing file was replaced or deleted: " + ToUtf8(file.path));
    }
  }
  return 0;
}
