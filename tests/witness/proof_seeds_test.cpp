// The seeds of the tlog-proof and add-checkpoint fuzz targets are valid,
// decoded as the targets decode them: every proof verifies and every
// request is one a witness accepts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "corpus.h"
#include "fuzz_input.h"
#include "quenfold/add_checkpoint.h"
#include "quenfold/tlog_proof.h"

namespace quenfold {
namespace {

std::string text(const std::vector<std::uint8_t>& b) { return {b.begin(), b.end()}; }

// Each seed file of `generate`, read back.
std::vector<std::vector<std::uint8_t>> seeds_of(void (*generate)(const std::filesystem::path&), const char* tag) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quenfold-" + std::string(tag) + "-seeds-" + std::to_string(::getpid()));
  generate(dir);
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::ifstream f(e.path(), std::ios::binary);
    out.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  std::filesystem::remove_all(dir);
  return out;
}

VerifierList keys_of(fuzz::FuzzInput& in) {
  std::vector<std::string> keys;
  for (const auto& k : in.list()) keys.push_back(text(k));
  auto list = VerifierList::parse(std::span<const std::string>(keys));
  if (!list) throw std::runtime_error(list.error().message());
  return *list;
}

TEST(ProofSeeds, EveryTlogProofVerifies) {
  const auto seeds = seeds_of(corpus::tlog_proof_seeds, "tlog-proof");
  EXPECT_EQ(seeds.size(), 4u);
  for (const auto& raw : seeds) {
    fuzz::FuzzInput in(raw.data(), raw.size());
    const std::string proof = text(in.field());
    const std::string origin = text(in.field());
    const CheckpointVerifier verifier(origin, keys_of(in));
    const bool entry = (in.u8() & 1) != 0;
    const auto leaf = in.field();
    const auto r = entry ? verify_tlog_proof_entry(proof, verifier, leaf) : verify_tlog_proof(proof, verifier, leaf);
    ASSERT_TRUE(r.has_value()) << r.error().message();
    EXPECT_EQ(r->checkpoint.head.origin, origin);
  }
}

TEST(ProofSeeds, EveryAddCheckpointRequestIsAccepted) {
  const auto seeds = seeds_of(corpus::add_checkpoint_seeds, "add-checkpoint");
  EXPECT_EQ(seeds.size(), 4u);
  for (const auto& raw : seeds) {
    fuzz::FuzzInput in(raw.data(), raw.size());
    std::optional<WitnessState> stored;
    const bool has = (in.u8() & 1) != 0;
    WitnessState s;
    s.size = in.u64();
    const auto root = in.field();
    ASSERT_EQ(root.size(), 32u);
    std::copy(root.begin(), root.end(), s.root.begin());
    if (has) stored = s;
    const std::string origin = text(in.field());
    const CheckpointVerifier log(origin, keys_of(in));
    const auto r = check_add_checkpoint(stored, log, text(in.field()));
    EXPECT_EQ(r.status, AddCheckpointStatus::Ok) << r.reason;
  }
}

}  // namespace
}  // namespace quenfold
