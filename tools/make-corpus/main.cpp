// Writes the seed corpora of the fuzz targets from the test builders:
//   build/quenfold-make-corpus <dir>     (one sub-directory per target)
// Seeds are valid artefacts in each target's input format, so that mutations
// start deep inside the verifiers.
#include <filesystem>
#include <fstream>
#include <iostream>

#include "corpus.h"

namespace quenfold::corpus {

void write_seed(const std::filesystem::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write seed " + (dir / name).string());
}

}  // namespace quenfold::corpus

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: quenfold-make-corpus <dir>\n";
    return 2;
  }
  const std::filesystem::path root = argv[1];
  try {
    for (const auto& [target, make] : quenfold::corpus::generators()) make(root / target);
  } catch (const std::exception& e) {
    std::cerr << "quenfold-make-corpus: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
