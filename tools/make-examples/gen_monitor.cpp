// examples/monitor: a monitoring session as JSON lines. A log of 40 leaves
// with checkpoints at sizes 16, 29 and 40, each signed by the log's Ed25519
// key and cosigned (C2SP tlog-cosignature) by two witnesses; every
// checkpoint after the first carries its consistency proof, and inclusion
// proofs follow each checkpoint. Also the witness policy (C2SP tlog-policy)
// "the log and at least one of the two witnesses", the log's key alone, and
// the session with one inclusion proof tampered.
//
// pieces.json holds the pieces from which tests/cli/cli_test.py composes
// sessions: the honest checkpoints, checkpoints of a fork of the log (a tree
// that shares the first 16 records and then differs, signed by the log's
// key, with and without its witnesses), one signed by a stranger, one signed
// under a log key named other than the origin, the consistency proofs
// between them, and an inclusion proof line under each; and session-fork.jsonl,
// in which the log forks.
#include <stdexcept>
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

// A JSON object from (key, JSON value) pairs, one member per line.
std::string json_object(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i)
    out += std::string(i ? ",\n " : "\n ") + json_string(members[i].first) + ": " + members[i].second;
  return out + "\n}";
}

std::string inclusion_line(const test::MerkleTree& tree, std::uint64_t index, std::uint64_t size) {
  const auto& leaf = tree.leaf_hash(index);
  return "{\"type\":\"inclusion\",\"index\":" + std::to_string(index) + ",\"leaf_hash\":\"" +
         hex(std::vector<unsigned char>(leaf.begin(), leaf.end())) +
         "\",\"proof\":" + hex_list(tree.inclusion_proof(index, size)) + "}";
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

  // The fork: the same first 16 records, then others.
  test::MerkleTree forked;
  for (int i = 0; i < 45; ++i) {
    const std::string record = (i < 16 ? "record " : "forked record ") + std::to_string(i);
    forked.append({record.begin(), record.end()});
  }
  const auto stranger = test::NoteSigner::ed25519(kOrigin, 0x535452);
  // A log whose key is not named after its origin: --keys ties them.
  const auto renamed = test::NoteSigner::ed25519("signer.example.org", 0x524E4D);
  write_file(dir / "renamed.vkey", renamed.verifier_key() + "\n");
  write_file(dir / "witnesses-policy.txt", "# the two witnesses alone: the log's key comes from --keys\n"
                                           "witness w1 " + w1.verifier_key() + "\n"
                                           "witness w2 " + w2.verifier_key() + "\n"
                                           "group witnesses any w1 w2\n"
                                           "quorum witnesses\n");
  const auto note = [&](const test::MerkleTree& t, std::uint64_t size, const test::NoteSigner& signer,
                        bool witnessed) {
    const auto root = t.root(size);
    const std::string body = test::checkpoint_body(kOrigin, size, test::Bytes(root.begin(), root.end()));
    std::string out = test::signed_note(body, {&signer});
    if (witnessed) out += w1.cosignature_line(body, timestamp) + w2.cosignature_line(body, timestamp + 2);
    return json_string(out);
  };
  std::vector<std::pair<std::string, std::string>> notes, proofs, inclusions;
  const std::vector<std::uint64_t> sizes = {16, 20, 29, 40};
  for (const std::uint64_t size : sizes) {
    notes.emplace_back(std::to_string(size), note(tree, size, log, true));
    inclusions.emplace_back(std::to_string(size), inclusion_line(tree, 7 % size, size));
    for (const std::uint64_t larger : sizes)
      if (larger > size)
        proofs.emplace_back(std::to_string(size) + "-" + std::to_string(larger),
                            hex_list(tree.consistency_proof(size, larger)));
  }
  notes.emplace_back("fork-29", note(forked, 29, log, true));
  notes.emplace_back("fork-45", note(forked, 45, log, true));
  notes.emplace_back("fork-45-unwitnessed", note(forked, 45, log, false));
  notes.emplace_back("stranger-45", note(forked, 45, stranger, true));
  notes.emplace_back("renamed-16", note(tree, 16, renamed, true));
  for (const std::uint64_t size : {std::uint64_t{16}, std::uint64_t{20}, std::uint64_t{29}})
    proofs.emplace_back(std::to_string(size) + "-fork-45", hex_list(forked.consistency_proof(size, 45)));
  inclusions.emplace_back("fork-45", inclusion_line(forked, 30, 45));
  // A session in which the log forks: a checkpoint of size 20, then one
  // of size 45 of the other tree, signed and cosigned, whose proof from 20
  // fails, an inclusion proof under it, and the honest log going on.
  const auto piece = [](const std::vector<std::pair<std::string, std::string>>& pieces, const std::string& name) {
    for (const auto& [k, v] : pieces)
      if (k == name) return v;
    throw std::runtime_error("no piece " + name);
  };
  const auto checkpoint_line = [&](const std::string& name, const std::string& proof) {
    return "{\"type\":\"checkpoint\",\"note\":" + piece(notes, name) +
           (proof.empty() ? "" : ",\"consistency\":" + piece(proofs, proof)) + "}\n";
  };
  write_file(dir / "session-fork.jsonl", checkpoint_line("20", "") + piece(inclusions, "20") + "\n" +
                                             checkpoint_line("fork-45", "20-fork-45") +
                                             piece(inclusions, "fork-45") + "\n" + checkpoint_line("29", "20-29") +
                                             piece(inclusions, "29") + "\n");
  // The log's key named other than its origin: --keys ties them.
  write_file(dir / "session-renamed.jsonl", checkpoint_line("renamed-16", "") + piece(inclusions, "16") + "\n");
  write_file(dir / "pieces.json", json_object({{"origin", json_string(kOrigin)},
                                              {"notes", json_object(notes)},
                                              {"consistency", json_object(proofs)},
                                              {"inclusion", json_object(inclusions)}}) +
                                     "\n");
}

}  // namespace quenfold::examples
