#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quenfold::corpus {

void write_seed(const std::filesystem::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes);

using Generator = std::function<void(const std::filesystem::path&)>;
// (fuzz target name, seed generator); one entry per target.
std::vector<std::pair<std::string, Generator>> generators();

void policy_seeds(const std::filesystem::path& dir);
void keytrans_seeds(const std::filesystem::path& dir);
void witness_seeds(const std::filesystem::path& dir);
void monitor_seeds(const std::filesystem::path& dir);
void tlog_proof_seeds(const std::filesystem::path& dir);
void add_checkpoint_seeds(const std::filesystem::path& dir);
void tile_path_seeds(const std::filesystem::path& dir);
void tile_entries_seeds(const std::filesystem::path& dir);
void tile_auth_seeds(const std::filesystem::path& dir);

}  // namespace quenfold::corpus
