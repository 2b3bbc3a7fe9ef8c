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

// The cannot-create-copy box without a StubContext: the path choice only has
// the argument list, whose argument 0 is the caption all the same.
[[noreturn]] void CannotCreateCopy(const ArgumentList& arguments, Platform& platform) {
  platform.ShowErrorAndExit(Text(FatalMessageText(FatalMessage::kCannotCreateCopy)),
                            arguments.Argument(0), EndReason::kCannotCreateCopy);
  __builtin_trap();  // a platform whose box returned must not let the sequence go on
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

Text ChooseTemporaryPath(const ArgumentList& arguments, Platform& platform, const Text& folder,
                         uint32_t firstNumber) {
  uint32_t chosenNumber = 0;
  return ChooseTemporaryPath(arguments, platform, folder, firstNumber, chosenNumber);
}

Text ChooseTemporaryPath(const ArgumentList& arguments, Platform& platform, const Text& folder,
                         uint32_t firstNumber, uint32_t& chosenNumber) {
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
    if (n == kLastNumber) CannotCreateCopy(arguments, platform);
    ++n;
  }
}

namespace {

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

// The box for a copy that could not be made or finished, unless the program
// turns out to be damaged (that has always been said first) or memory runs
// out while the rest of it is checked.
[[noreturn]] void CopyFailed(const StubContext& context, ProgramSource& program,
                             CopyProgress& progress) {
  const ProgramSource::Step end = program.Drain();
  progress.Close();
  if (end == ProgramSource::Step::kOutOfMemory) MemoryExhausted();
  ShowFatalMessage(context, end == ProgramSource::Step::kDone ? FatalMessage::kCannotCreateCopy
                                                              : FatalMessage::kDamaged);
}

}  // namespace

Text CreateTemporaryCopy(const StubContext& context, ProgramSource& program) {
  const ArgumentList& arguments = context.arguments;
  Platform& platform = context.platform;
  CopyProgress progress(context, program.Size());

  const Text folder = ChooseTemporaryFolder(arguments, platform);
  uint32_t number = 0;
  Text path;
  for (;;) {
    path = ChooseTemporaryPath(arguments, platform, folder, number, number);
    const CreateCopyResult created = platform.CreateCopy(path);
    if (created == CreateCopyResult::kCreated) break;
    // Nothing was made, so there is nothing to delete.
    if (created == CreateCopyResult::kFailed) CopyFailed(context, program, progress);
    // Someone created that name after our probe. It is theirs: leave it
    // alone and move on to the next number.
    if (number == kLastNumber) CopyFailed(context, program, progress);
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
    platform.RemoveFile(path);
    if (step == ProgramSource::Step::kOutOfMemory) {
      progress.Close();
      MemoryExhausted();
    }
    if (step == ProgramSource::Step::kDamaged) {
      progress.Close();
      ShowFatalMessage(context, FatalMessage::kDamaged);
    }
    CopyFailed(context, program, progress);  // a short write
  }
  platform.CloseCopy();
  progress.Close();
  // Keep the copy from being swapped or changed before it is started.
  platform.HoldCopy(path);
  return path;
}

}  // namespace stub
