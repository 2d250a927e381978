// Writes the seed corpora of the fuzz targets from the test builders:
//   build/quenfold-make-corpus <dir>     (one sub-directory per target)
// Seeds are valid artefacts in each target's input format, so that mutations
// start deep inside the verifiers.
#include <filesystem>
#include <iostream>

#include "corpus.h"

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
