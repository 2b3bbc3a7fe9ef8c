#include "launch/TemporaryCopy.h"

#include "launcher/FatalMessages.h"
#include "platform/Memory.h"

namespace stub {

namespace {

constexpr char16_t kTempSwitch[] = u"/temp";
constexpr uint32_t kLastNumber = 0xFFFFFFFFu;

// Position of the last backslash, or Text::npos. Forward slashes are ordinary
// characters here: the launcher has only ever split on backslashes.
size_t LastBackslash(const Text& path) {
  for (size_t i = path.Length(); i > 0; --i) {
    if (path[i - 1] == u'\\') return i - 1;
  }
  return Text::npos;
}

Text DecimalDigits(uint32_t n) {
  char16_t digits[10];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + n % 10);
    n /= 10;
  } while (n != 0);
  Text text;
  while (count > 0) text.Append(digits[--count]);
  return text;
}

// `base` with the digits of `n` in front of its last four characters (at the
// very start when it is shorter than that).
Text NumberedPath(const Text& base, uint32_t n) {
  const size_t at = base.Length() > 4 ? base.Length() - 4 : 0;
  Text candidate(base.Data(), at);
  candidate.Append(DecimalDigits(n));
  candidate.Append(base.Data() + at, base.Length() - at);
  return candidate;
}

}  // namespace

Text ExtractFolder(const Text& path) {
  const size_t slash = LastBackslash(path);
  return slash == Text::npos ? Text() : path.Substring(0, slash + 1);
}

Text ExtractName(const Text& path) {
  const size_t slash = LastBackslash(path);
  return slash == Text::npos ? path : path.Substring(slash + 1, path.Length() - slash - 1);
}

Text ChooseTemporaryFolder(const ArgumentList& arguments, Platform& platform) {
  const int count = arguments.Count();
  // A trailing "/temp" has no folder after it: it means "beside the package",
  // and it overrides every earlier "/temp".
  if (count >= 1 && SameTextAscii(arguments.Argument(count), kTempSwitch)) {
    return ExtractFolder(arguments.Argument(0));
  }

  Text folder = platform.TempPath();
  if (folder.Empty()) folder = Text(u"C:\\");
  for (int i = count - 1; i >= 1; --i) {
    if (SameTextAscii(arguments.Argument(i), kTempSwitch)) {
      // Taken as the user typed it; a bad folder shows up as a failed create.
      folder = arguments.Argument(i + 1);
      break;
    }
  }
  if (folder.Last() != u'\\') folder.Append(u'\\');
  return folder;
}

Text ChooseTemporaryPath(const StubContext& context, const Text& folder, uint32_t firstNumber,
                         uint32_t& chosenNumber) {
  const ArgumentList& arguments = context.arguments;
  Platform& platform = context.platform;
  Text base(folder);
  base.Append(ExtractName(arguments.Argument(0)));

  uint32_t n = firstNumber;
  if (n <= 1) {
    if (!platform.FileExists(base)) {
      chosenNumber = 1;
      return base;
    }
    n = 2;
  }
  for (;;) {
    // Always numbered from the plain name, so Setup2.exe never becomes Setup23.exe.
    Text candidate = NumberedPath(base, n);
    if (!platform.FileExists(candidate)) {
      chosenNumber = n;
      return candidate;
    }
    if (n == kLastNumber) ShowFatalMessage(context, FatalMessage::kCannotCreateCopy);
    ++n;
  }
}

const char16_t kPrivateFolderAccess[] = u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

void RemoveTemporaryCopy(Platform& platform, const TemporaryCopy& copy) {
  const bool administrator = !copy.privateFolder.Empty();
  // Scheduled in this order, the file goes before its folder at the restart.
  if (!copy.path.Empty() && !platform.RemoveFile(copy.path) && administrator) {
    platform.RemoveAtRestart(copy.path);
  }
  if (!administrator) return;
  const Text folder = copy.privateFolder.Substring(0, copy.privateFolder.Length() - 1);
  // Our own hold shares everything but deletion.
  platform.ReleaseFolder();
  if (!platform.RemoveFolder(folder)) platform.RemoveAtRestart(folder);
}

namespace {

// Lower-case hex digits of `bytes`.
Text HexDigits(const uint8_t* bytes, uint32_t count) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  Text text;
  for (uint32_t i = 0; i < count; ++i) {
    text.Append(kDigits[bytes[i] >> 4]);
    text.Append(kDigits[bytes[i] & 15]);
  }
  return text;
}

// A new folder with an unpredictable name inside `parent`, ending in a
// backslash; empty when none could be made.
Text MakePrivateFolder(Platform& platform, const Text& parent) {
  for (int attempt = 0; attempt < kPrivateNameAttempts; ++attempt) {
    uint8_t random[kPrivateNameBytes];
    // A name anyone could work out is worse than no folder at all.
    if (!platform.RandomBytes(random, kPrivateNameBytes)) break;
    Text folder(parent);
    folder.Append(HexDigits(random, kPrivateNameBytes));
    const CreateResult created = platform.CreateFolder(folder, kPrivateFolderAccess);
    if (created == CreateResult::kCreated) {
      // Held from its creation on, so that nobody can move it aside and put
      // a folder of their own under its name.
      folder.Append(u'\\');
      return folder;
    }
    // A folder that is already there may have been made by anyone, with
    // anything in it: never ours.
    if (created == CreateResult::kFailed) break;
  }
  return Text();
}

// Shows the progress window only once unpacking has taken longer than a
// quick launch would, then keeps it current and the thread responsive.
class CopyProgress {
 public:
  CopyProgress(const StubContext& context, uint32_t total)
      : context_(context), total_(total), start_(context.platform.TickCount()) {}
  ~CopyProgress() { Close(); }

  void Update(uint32_t done) {
    if (!shown_) {
      if (context_.platform.TickCount() - start_ < kProgressDelayMs) return;
      shown_ = true;
    }
    context_.platform.ShowProgress(context_.arguments.Argument(0), done, total_);
  }
  void Close() {
    if (shown_) context_.platform.CloseProgress();
    shown_ = false;
  }

 private:
  const StubContext& context_;
  uint32_t total_;
  uint32_t start_;
  bool shown_ = false;
};

// The box for a folder or copy that could not be made or finished, unless
// the program turns out to be damaged (that has always been said first) or
// memory runs out while the rest of it is checked. Whatever was made is
// already gone. The check can take as long as the copy would have, so the
// window keeps answering meanwhile; `done` is how much it already showed.
[[noreturn]] void CopyFailed(const StubContext& context, ProgramSource& program,
                             CopyProgress& progress, uint32_t done) {
  const uint8_t* piece = nullptr;
  uint32_t count = 0;
  ProgramSource::Step end;
  while ((end = program.Next(piece, count)) == ProgramSource::Step::kPiece) {
    done += count;
    progress.Update(done);
  }
  progress.Close();
  if (end == ProgramSource::Step::kOutOfMemory) MemoryExhausted();
  ShowFatalMessage(context, end == ProgramSource::Step::kDone ? FatalMessage::kCannotCreateCopy
                                                              : FatalMessage::kDamaged);
}

}  // namespace

TemporaryCopy CreateTemporaryCopy(const StubContext& context, ProgramSource& program,
                                  bool administrator) {
  const ArgumentList& arguments = context.arguments;
  Platform& platform = context.platform;
  CopyProgress progress(context, program.Size());
  TemporaryCopy copy;

  Text folder = ChooseTemporaryFolder(arguments, platform);
  if (administrator) {
    copy.privateFolder = MakePrivateFolder(platform, folder);
    if (copy.privateFolder.Empty()) CopyFailed(context, program, progress, 0);
    folder = copy.privateFolder;
  }
  const char16_t* const access = administrator ? kPrivateFolderAccess : nullptr;

  uint32_t number = 0;
  for (;;) {
    Text path = ChooseTemporaryPath(context, folder, number, number);
    const CreateResult created = platform.CreateCopy(path, access);
    if (created == CreateResult::kCreated) {
      copy.path = path;
      break;
    }
    // Someone created that name after our probe. It is theirs: leave it
    // alone and move on to the next number. Anything else made no file.
    if (created == CreateResult::kFailed || number == kLastNumber) {
      RemoveTemporaryCopy(platform, copy);
      CopyFailed(context, program, progress, 0);
    }
    ++number;
  }

  uint32_t done = 0;
  const uint8_t* piece = nullptr;
  uint32_t count = 0;
  for (;;) {
    const ProgramSource::Step step = program.Next(piece, count);
    if (step == ProgramSource::Step::kDone) break;
    if (step == ProgramSource::Step::kPiece && platform.WriteCopy(piece, count) == count) {
      done += count;
      progress.Update(done);
      continue;
    }
    // Never leave a partial program behind for someone to start.
    platform.CloseCopy();
    RemoveTemporaryCopy(platform, copy);
    if (step == ProgramSource::Step::kOutOfMemory) {
      progress.Close();
      MemoryExhausted();
    }
    if (step == ProgramSource::Step::kDamaged) {
      progress.Close();
      ShowFatalMessage(context, FatalMessage::kDamaged);
    }
    CopyFailed(context, program, progress, done + count);  // a short write
  }
  platform.CloseCopy();
  progress.Close();
  // Kept from being changed, swapped or deleted until it is started. A copy
  // that cannot be held may already be someone else's program.
  if (!platform.HoldCopy(copy.path)) {
    RemoveTemporaryCopy(platform, copy);
    ShowFatalMessage(context, FatalMessage::kCannotExecute);
  }
  return copy;
}

}  // namespace stub
