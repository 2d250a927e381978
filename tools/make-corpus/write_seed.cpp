// Writes one seed file of a target's corpus.
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "corpus.h"

namespace quenfold::corpus {

void write_seed(const std::filesystem::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write seed " + (dir / name).string());
}

}  // namespace quenfold::corpus
