// The seeds of the witness fuzz target are valid artefacts: each policy
// parses and each note meets it, decoded as the target decodes them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "corpus.h"
#include "fuzz_input.h"
#include "quenfold/checkpoint_verifier.h"

namespace quenfold {
namespace {

std::string text(const std::vector<std::uint8_t>& b) { return {b.begin(), b.end()}; }

TEST(WitnessSeeds, EverySeedMeetsItsPolicy) {
  const auto dir = std::filesystem::temp_directory_path() / ("quenfold-witness-seeds-" + std::to_string(::getpid()));
  corpus::witness_seeds(dir);
  int count = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::ifstream f(e.path(), std::ios::binary);
    const std::vector<std::uint8_t> raw(std::istreambuf_iterator<char>(f), {});
    fuzz::FuzzInput in(raw.data(), raw.size());
    const std::string policy_text = text(in.field());
    const std::string origin = text(in.field());
    const std::string note = text(in.field());
    const auto policy = WitnessPolicy::parse(policy_text);
    ASSERT_TRUE(policy.has_value()) << e.path() << ": " << policy.error().message();
    const auto r = CheckpointVerifier(origin, *policy).verify(note);
    EXPECT_TRUE(r.has_value()) << e.path() << ": " << r.error().message();
    ++count;
  }
  std::filesystem::remove_all(dir);
  EXPECT_EQ(count, 5);
}

}  // namespace
}  // namespace quenfold
