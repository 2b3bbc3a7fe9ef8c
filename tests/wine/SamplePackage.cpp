// samplepackage OUT STUB X86 X64: writes the demo's sample package where no
// pkgtool is at hand. The x86 or x64 argument may be "-" for no program.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "authoring/PackageWriter.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw stub::writer::WriterError("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: samplepackage OUT STUB X86|- X64|-\n";
    return 2;
  }
  try {
    stub::writer::PackageRecipe recipe;
    recipe.stub = ReadAll(argv[2]);
    if (std::string(argv[3]) != "-") recipe.x86 = ReadAll(argv[3]);
    if (std::string(argv[4]) != "-") recipe.x64 = ReadAll(argv[4]);
    recipe.expiredMessage = u"This sample package has expired.";
    recipe.wrongWidthMessage = u"This sample package has no setup program for this processor.";
    recipe.unsupportedWindowsMessage = u"This sample package does not run on %USER%.";
    const auto package = stub::writer::BuildPackage(recipe);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(package.bytes.data()),
              static_cast<std::streamsize>(package.bytes.size()));
    if (!out.flush()) {
      std::cerr << "cannot write " << argv[1] << "\n";
      return 1;
    }
    std::cout << "wrote " << argv[1] << " (" << package.bytes.size() << " bytes)\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
