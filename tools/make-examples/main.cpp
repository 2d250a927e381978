// Regenerates the bundled example artefacts:
//   build/quenfold-make-examples examples
#include <fstream>
#include <iostream>

#include "examples.h"

namespace quenfold::examples {

void write_file(const std::filesystem::path& path, const std::string& contents) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << contents;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string hex(const std::vector<unsigned char>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (auto b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

}  // namespace quenfold::examples

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: quenfold-make-examples <examples-dir>\n";
    return 2;
  }
  const std::filesystem::path root = argv[1];
  try {
    quenfold::examples::make_merkle(root / "merkle");
    quenfold::examples::make_key_history(root / "key_history");
    quenfold::examples::make_coniks(root / "coniks");
    quenfold::examples::make_log(root / "log");
    quenfold::examples::make_keytrans(root / "keytrans");
    quenfold::examples::make_policy(root / "policy");
    quenfold::examples::make_monitor(root / "monitor");
    quenfold::examples::make_tlog_proof(root / "tlog_proof");
    quenfold::examples::make_rfc6962(root / "rfc6962");
  } catch (const std::exception& e) {
    std::cerr << "quenfold-make-examples: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
