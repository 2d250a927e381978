// Seeds of monitor_fuzz: the log's verifier key on the first line, then a
// session of JSON lines whose checkpoints it signed: a log that grows, a
// stale checkpoint, forks (the same size with another root, and a proof
// that fails), and the lines that the reader refuses (duplicate keys, an
// index out of range, deep nesting).
#include <string>
#include <vector>

#include "corpus.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace quenfold::corpus {
namespace {

constexpr const char* kOrigin = "log.example.org/fuzz";

std::string hex_list(const std::vector<test::Hash>& hs) {
  std::string out = "[";
  for (std::size_t i = 0; i < hs.size(); ++i) out += (i ? ",\"" : "\"") + test::to_hex(hs[i]) + "\"";
  return out + "]";
}

std::string escaped(const std::string& note) {
  std::string out;
  for (const char c : note) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

}  // namespace

void monitor_seeds(const std::filesystem::path& dir) {
  const auto log = test::NoteSigner::ed25519(kOrigin, 0x4D46);
  test::MerkleTree tree, forked;
  for (int i = 0; i < 24; ++i) {
    tree.append({static_cast<std::uint8_t>(i)});
    forked.append({static_cast<std::uint8_t>(i < 8 ? i : 0x80 + i)});
  }
  const auto checkpoint = [&](const test::MerkleTree& t, std::uint64_t size, const std::string& proof) {
    const auto root = t.root(size);
    const std::string note =
        test::signed_note(test::checkpoint_body(kOrigin, size, test::Bytes(root.begin(), root.end())), {&log});
    return "{\"type\":\"checkpoint\",\"note\":\"" + escaped(note) + "\"" +
           (proof.empty() ? "" : ",\"consistency\":" + proof) + "}\n";
  };
  const auto inclusion = [&](const test::MerkleTree& t, std::uint64_t index, std::uint64_t size) {
    return "{\"type\":\"inclusion\",\"index\":" + std::to_string(index) + ",\"leaf_hash\":\"" +
           test::to_hex(t.leaf_hash(index)) + "\",\"proof\":" + hex_list(t.inclusion_proof(index, size)) + "}\n";
  };
  const auto proof = [&](const test::MerkleTree& t, std::uint64_t a, std::uint64_t b) {
    return hex_list(t.consistency_proof(a, b));
  };
  const std::vector<std::pair<std::string, std::string>> seeds = {
      {"grows", checkpoint(tree, 5, "") + inclusion(tree, 3, 5) + checkpoint(tree, 13, proof(tree, 5, 13)) +
                    inclusion(tree, 12, 13) + inclusion(tree, 0, 13) + checkpoint(tree, 24, proof(tree, 13, 24)) +
                    inclusion(tree, 20, 24)},
      {"stale", checkpoint(tree, 13, "[]") + checkpoint(tree, 5, proof(tree, 5, 13)) + inclusion(tree, 4, 5) +
                    checkpoint(tree, 13, "") + inclusion(tree, 9, 13)},
      {"fork-same-size", checkpoint(tree, 13, "") + checkpoint(forked, 13, "") + inclusion(forked, 10, 13)},
      {"fork-failed-proof", checkpoint(tree, 13, "") + checkpoint(forked, 24, proof(forked, 13, 24)) +
                                inclusion(forked, 20, 24) + checkpoint(tree, 24, proof(tree, 13, 24))},
      {"refused-lines", checkpoint(tree, 5, "null") +
                            "{\"type\":\"inclusion\",\"index\":18446744073709551616,\"leaf_hash\":\"00\",\"proof\":[]}\n"
                            "{\"type\":\"inclusion\",\"type\":\"inclusion\"}\n"
                            "{\"type\":\"x\",\"a\":[[[[[[[[{\"b\":[]}]]]]]]]]}\n\n \n"},
  };
  for (const auto& [name, session] : seeds) {
    const std::string text = log.verifier_key() + "\n" + session;
    write_seed(dir, name, {text.begin(), text.end()});
  }
}

}  // namespace quenfold::corpus
