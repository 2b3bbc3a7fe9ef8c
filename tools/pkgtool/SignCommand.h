// The build's signing: the vendor's own command (signtool, osslsigncode, a
// cloud signer) run on a temporary copy of each setup program before it is
// compressed and on the package before it is put in place, and what the
// build says about setup programs that carry no sound signature.
#pragma once

#include <string>
#include <vector>

#include "authoring/PackageWriter.h"
#include "tools/pkgtool/BuildCommand.h"

namespace pkgtool {

// A command line with {in} and {out} (the signer writes a signed copy) or
// {file} alone (it signs the file in place).
struct SignTemplate {
  std::string text;
  bool inPlace = false;
};
// ToolError naming `source` for a template with neither form, or both.
SignTemplate ParseSignTemplate(const std::string& text, const std::string& source);
// The template with every placeholder replaced by the quoted path.
std::string ExpandSignTemplate(const SignTemplate& t, const std::string& in, const std::string& out);

// A private folder in the system's temporary folder, removed with all it
// holds when the object goes, whether the build succeeded or not.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Signs a copy of `bytes` at `name` in `scratch` ("x86/setup.exe": a folder
// of its own keeps two programs of one name apart, and the signer sees the
// file's own name) and returns the signed
// bytes. A command that fails stops the build with its exit code and its
// last lines; a result without a signature whose digest matches is refused
// (exit 1). `what` names the file in messages ("the x86 setup program").
std::vector<uint8_t> SignCopy(const SignTemplate& t, const std::string& source, const ScratchFolder& scratch,
                              const std::string& name, const std::vector<uint8_t>& bytes,
                              const std::string& what);

// The signature facts of the recipe's setup programs: a warning on standard
// error for each one that is unsigned or altered since signing, or with
// o.requireSignedPrograms a refusal (exit 1).
void CheckProgramSignatures(const BuildOptions& o, const stub::writer::PackageRecipe& recipe);

}  // namespace pkgtool
