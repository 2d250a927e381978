// The example generator: writes the artefacts under examples/ from fixed
// seeds, so that re-running it reproduces the same files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quenfold::examples {

void write_file(const std::filesystem::path& path, const std::string& contents);
std::string hex(const std::vector<unsigned char>& bytes);

// The example key-history chain (three linked entries), shared by the
// key-history and log examples.
struct KeyHistoryExample {
  std::uint64_t seq = 0, ts_ms = 0;
  std::vector<unsigned char> enc_x25519, enc_pq, signing_pub;
  std::optional<std::vector<unsigned char>> prev;
  std::vector<unsigned char> entry_hash, leaf_hash;
};
std::vector<KeyHistoryExample> key_history_chain();

// One generator per area; each writes into examples/<area>/.
void make_merkle(const std::filesystem::path& dir);
void make_key_history(const std::filesystem::path& dir);
void make_coniks(const std::filesystem::path& dir);
void make_log(const std::filesystem::path& dir);
void make_keytrans(const std::filesystem::path& dir);
void make_policy(const std::filesystem::path& dir);
void make_monitor(const std::filesystem::path& dir);
void make_tlog_proof(const std::filesystem::path& dir);
void make_rfc6962(const std::filesystem::path& dir);

}  // namespace quenfold::examples
