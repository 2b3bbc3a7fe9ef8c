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

bool TempSwitchGiven(const ArgumentList& arguments) {
  for (int i = 1; i <= arguments.Count(); ++i) {
    if (SameTextAscii(arguments.Argument(i), kTempSwitch)) return true;
  }
  return false;
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

namespace {

// Deletes with `remove` and, after the run, tries again while the file is
// still there, for up to kRemoveRetryMs. True when it is gone.
template <typename Remove>
bool RemoveWithRetry(Platform& platform, const Text& path, bool afterRun, Remove remove) {
  if (remove()) return true;
  if (!afterRun) return false;
  for (uint32_t waited = 0; waited < kRemoveRetryMs && platform.FileExists(path);
       waited += kRemoveRetryStepMs) {
    platform.Pause(kRemoveRetryStepMs);
    if (remove()) return true;
  }
  return false;
}

}  // namespace

void RemoveTemporaryCopy(Platform& platform, const TemporaryCopy& copy, bool afterRun) {
  if (copy.privateFolder.Empty()) {
    if (!copy.path.Empty()) {
      RemoveWithRetry(platform, copy.path, afterRun,
                      [&] { return platform.RemoveFile(copy.path); });
    }
    return;
  }
  // Through the held folder, never by a path someone could have redirected.
  // Scheduled in this order, the file goes before its folder at the restart.
  if (!copy.name.Empty() &&
      !RemoveWithRetry(platform, copy.path, afterRun,
                       [&] { return platform.RemoveFromHeldFolder(copy.name); })) {
    platform.RemoveAtRestart(copy.path);
  }
  if (!platform.RemoveHeldFolder()) {
    platform.RemoveAtRestart(copy.privateFolder.Substring(0, copy.privateFolder.Length() - 1));
  }
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

// The folders an administrator's private folder may go into, in order of
// preference, each ending in a backslash: the one "/temp" chooses, else the
// machine's own temporary folders, whose every component belongs to the
// system. Never the user's TMP or TEMP, which the same user's unelevated
// processes control.
int AdministratorParents(const ArgumentList& arguments, Platform& platform, Text (&parents)[2]) {
  if (TempSwitchGiven(arguments)) {
    parents[0] = ChooseTemporaryFolder(arguments, platform);
    return 1;
  }
  const Text windows = platform.WindowsFolder();
  if (windows.Empty()) return 0;
  static constexpr char16_t kSystemTemp[] = u"\\SystemTemp\\";
  parents[0] = windows;
  parents[0].Append(kSystemTemp);
  // "\Temp\": the same text's tail, which the stub then stores once.
  parents[1] = windows;
  parents[1].Append(u'\\');
  parents[1].Append(kSystemTemp + 7);
  return 2;
}

// The private folder as every later step names it: its final path where
// Windows has the call; empty when it is not fit to hold the copy.
Text SettledPrivateFolder(Platform& platform, const Text& asMade) {
  const HeldFolderFacts facts = platform.FolderFacts();
  // Access lists are all that keeps other processes out of the folder.
  if (facts.aclsAsked && !facts.keepsAcls) return Text();
  // Before Vista there is no way to ask, and no elevation to cross either.
  if (!facts.pathAsked) return asMade;
  if (facts.path.Empty()) return Text();
  Text folder = facts.path;
  folder.Append(u'\\');
  return folder;
}

}  // namespace

TemporaryCopy CreateTemporaryCopy(const StubContext& context, ProgramSource& program,
                                  bool administrator) {
  const ArgumentList& arguments = context.arguments;
  Platform& platform = context.platform;
  CopyProgress progress(context, program.Size());
  TemporaryCopy copy;

  if (administrator) {
    Text parents[2];
    const int count = AdministratorParents(arguments, platform, parents);
    Text made;
    for (int i = 0; i < count && made.Empty(); ++i) made = MakePrivateFolder(platform, parents[i]);
    if (made.Empty()) CopyFailed(context, program, progress, 0);
    copy.privateFolder = SettledPrivateFolder(platform, made);
    if (copy.privateFolder.Empty()) {
      platform.RemoveHeldFolder();
      CopyFailed(context, program, progress, 0);
    }
    // The folder is new and ours alone: the package's own name is free.
    copy.name = ExtractName(arguments.Argument(0));
    copy.path = copy.privateFolder;
    copy.path.Append(copy.name);
    // (A launcher path that ends in a backslash names no file to create.)
    if (copy.name.Empty() ||
        platform.CreateCopyInHeldFolder(copy.name, kPrivateFolderAccess) != CreateResult::kCreated) {
      copy.name = Text();
      RemoveTemporaryCopy(platform, copy, false);
      CopyFailed(context, program, progress, 0);
    }
  } else {
    const Text folder = ChooseTemporaryFolder(arguments, platform);
    uint32_t number = 0;
    for (;;) {
      Text path = ChooseTemporaryPath(context, folder, number, number);
      const CreateResult created = platform.CreateCopy(path, nullptr);
      if (created == CreateResult::kCreated) {
        copy.path = path;
        break;
      }
      // Someone created that name after our probe. It is theirs: leave it
      // alone and move on to the next number. Anything else made no file.
      if (created == CreateResult::kFailed || number == kLastNumber) {
        CopyFailed(context, program, progress, 0);
      }
      ++number;
    }
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
    RemoveTemporaryCopy(platform, copy, false);
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
  // An administrator's program is started only when it is known to be the
  // file that was written.
  if (!platform.HoldCopy(copy.path, administrator)) {
    RemoveTemporaryCopy(platform, copy, false);
    ShowFatalMessage(context, FatalMessage::kCannotExecute);
  }
  return copy;
}

}  // namespace stub
