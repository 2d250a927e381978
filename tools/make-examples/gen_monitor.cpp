// examples/monitor: a monitoring session as JSON lines. A log of 40 leaves
// with checkpoints at sizes 16, 29 and 40, each signed by the log's Ed25519
// key and cosigned (C2SP tlog-cosignature) by two witnesses; every
// checkpoint after the first carries its consistency proof, and inclusion
// proofs follow each checkpoint. Also the witness policy (C2SP tlog-policy)
// "the log and at least one of the two witnesses", the log's key alone, and
// the session with one inclusion proof tampered.
#include <string>

#include "examples.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/witness.h"

namespace quenfold::examples {
namespace {

constexpr const char* kOrigin = "log.example.org/monitored/v1";

std::string hex_list(const std::vector<test::Hash>& hs) {
  std::string out = "[";
  for (std::size_t i = 0; i < hs.size(); ++i)
    out += (i ? ",\"" : "\"") + hex(std::vector<unsigned char>(hs[i].begin(), hs[i].end())) + "\"";
  return out + "]";
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) out += c == '\n' ? std::string("\\n") : c == '"' ? std::string("\\\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

void make_monitor(const std::filesystem::path& dir) {
  test::MerkleTree tree;
  for (int i = 0; i < 40; ++i) {
    const std::string record = "record " + std::to_string(i);
    tree.append({record.begin(), record.end()});
  }
  const auto log = test::NoteSigner::ed25519(kOrigin, 0x4D4F4E);
  const auto w1 = test::Cosigner::generate("witness.example.net/w1", 0x5731);
  const auto w2 = test::Cosigner::generate("witness.example.org/w2", 0x5732);
  write_file(dir / "log.vkey", log.verifier_key() + "\n");
  write_file(dir / "policy.txt", "# the log, and at least one of its two witnesses\n"
                                 "log " + log.verifier_key() + "\n"
                                 "witness w1 " + w1.verifier_key() + "\n"
                                 "witness w2 " + w2.verifier_key() + "\n"
                                 "group witnesses any w1 w2\n"
                                 "quorum witnesses\n");
  write_file(dir / "origin.txt", std::string(kOrigin) + "\n");

  std::string session;
  std::uint64_t previous = 0;
  std::uint64_t timestamp = 1767225600;  // 2026-01-01T00:00:00Z
  for (const std::uint64_t size : {std::uint64_t{16}, std::uint64_t{29}, std::uint64_t{40}}) {
    const auto root = tree.root(size);
    const std::string body = test::checkpoint_body(kOrigin, size, test::Bytes(root.begin(), root.end()));
    const std::string note = test::signed_note(body, {&log}) + w1.cosignature_line(body, timestamp) +
                             w2.cosignature_line(body, timestamp + 2);
    timestamp += 3600;
    session += "{\"type\":\"checkpoint\",\"note\":" + json_string(note);
    if (previous != 0) session += ",\"consistency\":" + hex_list(tree.consistency_proof(previous, size));
    session += "}\n";
    for (std::uint64_t index = previous; index < size; index += 3) {
      const auto& leaf = tree.leaf_hash(index);
      session += "{\"type\":\"inclusion\",\"index\":" + std::to_string(index) + ",\"leaf_hash\":\"" +
                 hex(std::vector<unsigned char>(leaf.begin(), leaf.end())) +
                 "\",\"proof\":" + hex_list(tree.inclusion_proof(index, size)) + "}\n";
    }
    previous = size;
  }
  write_file(dir / "session.jsonl", session);

  // One inclusion proof claims its leaf sits one place further on.
  std::string tampered = session;
  const std::string from = "{\"type\":\"inclusion\",\"index\":19,";
  tampered.replace(tampered.find(from), from.size(), "{\"type\":\"inclusion\",\"index\":20,");
  write_file(dir / "session-tampered.jsonl", tampered);
}

}  // namespace quenfold::examples
