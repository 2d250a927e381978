// The example generator: writes the artefacts under examples/ from fixed
// seeds, so that re-running it reproduces the same files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quenfold::examples {

void write_file(const std::filesystem::path& path, const std::string& contents);
std::string hex(const std::vector<unsigned char>& bytes);

// One generator per area; each writes into examples/<area>/.
void make_merkle(const std::filesystem::path& dir);
void make_policy(const std::filesystem::path& dir);

}  // namespace quenfold::examples
