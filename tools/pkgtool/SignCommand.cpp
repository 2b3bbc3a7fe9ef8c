#include "tools/pkgtool/SignCommand.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>

#include "tools/pkgtool/Authenticode.h"
#include "tools/pkgtool/FileIo.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/Process.h"

namespace pkgtool {

namespace {

constexpr size_t kShownLines = 10;

bool Has(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

std::string Replaced(std::string text, const std::string& word, const std::string& by) {
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + by.size())) {
    text.replace(at, word.size(), by);
  }
  return text;
}

// The last lines of a command's output, indented, without the line breaks
// and blank lines at its end.
std::string LastLines(const std::string& output) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : output) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  while (!lines.empty() && lines.back().find_first_not_of(" \t") == std::string::npos) lines.pop_back();
  if (lines.empty()) return " It printed nothing.";
  std::string text = lines.size() > kShownLines ? " Its last lines:" : " Its output:";
  for (size_t i = lines.size() > kShownLines ? lines.size() - kShownLines : 0; i < lines.size(); ++i) {
    text += "\n  " + lines[i];
  }
  return text;
}

}  // namespace

SignTemplate ParseSignTemplate(const std::string& text, const std::string& source) {
  const bool in = Has(text, "{in}"), out = Has(text, "{out}"), file = Has(text, "{file}");
  if ((in && out && !file) || (file && !in && !out)) return {text, file};
  throw ToolError(WithSource(source, "'" + text + "' needs {in} and {out} (the signer writes a signed "
                                     "copy, as osslsigncode does) or {file} alone (it signs in "
                                     "place, as signtool does)"));
}

std::string ExpandSignTemplate(const SignTemplate& t, const std::string& in, const std::string& out) {
  if (t.inPlace) return Replaced(t.text, "{file}", ShellQuoted(in));
  return Replaced(Replaced(t.text, "{in}", ShellQuoted(in)), "{out}", ShellQuoted(out));
}

ScratchFolder::ScratchFolder() {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) throw ToolError("no temporary folder to sign in: " + error.message(), kExitSystemError);
  std::random_device device;
  std::mt19937_64 random(device() ^ static_cast<uint64_t>(
                                        std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / PathOf("pkgtool-sign-" + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(candidate, error)) {
      // Only this user's: the setup programs are the vendor's.
      std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::replace, error);
      path_ = Utf8Of(candidate);
      return;
    }
    if (error) break;
  }
  throw ToolError("cannot create a folder to sign in, in " + Utf8Of(base) +
                      (error ? ": " + error.message() : ""),
                  kExitSystemError);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(PathOf(path_), ignored);
}

std::vector<uint8_t> SignCopy(const SignTemplate& t, const std::string& source, const ScratchFolder& scratch,
                              const std::string& name, const std::vector<uint8_t>& bytes,
                              const std::string& what) {
  const std::filesystem::path file = PathOf(scratch.path()) / PathOf(name);
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  const std::string in = Utf8Of(file);
  const std::string out = Utf8Of(file.parent_path() / PathOf("signed-" + Utf8Of(file.filename())));
  WriteFileAtomically(in, bytes, 0777);
  const std::string command = ExpandSignTemplate(t, in, out);
  const CommandResult result = RunShellCommand(command);
  if (result.exitCode != 0) {
    throw ToolError(WithSource(source, "signing " + what + " failed with exit code " +
                                           std::to_string(result.exitCode) + "." +
                                           LastLines(result.output)),
                    result.exitCode);
  }
  const std::string signedPath = t.inPlace ? in : out;
  if (Examine(signedPath).kind != EntryKind::kRegular) {
    throw ToolError(WithSource(source, "signing " + what + " ended well but wrote no " +
                                           (t.inPlace ? "file" : "{out}") + "." + LastLines(result.output)),
                    kExitRefused);
  }
  std::vector<uint8_t> signedBytes = ReadWholeFile(signedPath, stub::writer::kMaxPackageSize, what);
  const ProgramSignature signature = ExamineSignature(signedBytes);
  if (signature.state != ProgramSignature::State::kMatches) {
    throw ToolError(WithSource(source, "after signing, " + what + " is " + SignatureText(signature) +
                                           "." + LastLines(result.output)),
                    kExitRefused);
  }
  return signedBytes;
}

void CheckProgramSignatures(const BuildOptions& o, const stub::writer::PackageRecipe& recipe) {
  const std::tuple<const char*, const std::optional<std::vector<uint8_t>>*, const std::string*> slots[] = {
      {"x86", &recipe.x86, &o.x86}, {"x64", &recipe.x64, &o.x64}};
  for (const auto& [slot, program, path] : slots) {
    if (!*program) continue;
    const ProgramSignature signature = ExamineSignature(**program);
    if (signature.state == ProgramSignature::State::kMatches) continue;
    const std::string option = std::string("--") + slot;
    const std::string what = std::string("the ") + slot + " setup program" +
                             (path->empty() ? "" : " (" + *path + ")");
    const std::string state =
        signature.state == ProgramSignature::State::kUnsigned ? "is not signed" : "is " + SignatureText(signature);
    if (o.requireSignedPrograms) {
      const std::string require = o.FromRecipe("--require-signed-programs")
                                      ? o.Source("--require-signed-programs")
                                      : "--require-signed-programs";
      throw ToolError(WithSource(o.Source(option), what + " " + state + "; " + require +
                                                       " takes only signed setup programs whose "
                                                       "digest matches (--sign-command signs them)"),
                      kExitRefused);
    }
    std::cerr << "pkgtool: warning: " << what << " " << state << ": " << kUnsignedProgramRisk << '\n';
  }
}

}  // namespace pkgtool
