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
    // The policy alone (a policy without logs leaves the log to its caller),
    // and bound to the origin, where a log key must sign.
    const auto opened = policy->open(note);
    EXPECT_TRUE(opened.has_value()) << e.path() << ": " << opened.error().message();
    const CheckpointVerifier verifier(origin, *policy);
    const auto r = verifier.verify(note);
    if (policy->logs().empty()) {
      EXPECT_TRUE(verifier.log_keys().empty()) << e.path();
      EXPECT_EQ(r.error().kind(), ErrorKind::NoTrustedSignature) << e.path();
    } else {
      EXPECT_TRUE(r.has_value()) << e.path() << ": " << r.error().message();
    }
    ++count;
  }
  std::filesystem::remove_all(dir);
  EXPECT_EQ(count, 7);
}

}  // namespace
}  // namespace quenfold
