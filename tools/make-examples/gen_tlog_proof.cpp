// examples/tlog_proof: a C2SP tlog-proof for one entry of a log of 23
// entries, whose checkpoint the log signed and two witnesses cosigned; the
// witness policy (C2SP tlog-policy) "the log and both witnesses", the log's
// key, the entry, and the proof with one hash of its audit path altered.
#include <string>

#include "examples.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/witness.h"

namespace quenfold::examples {
namespace {

constexpr const char* kOrigin = "log.example.org/proofs/v1";
constexpr std::uint64_t kSize = 23;
constexpr std::uint64_t kIndex = 13;

std::string entry_text(std::uint64_t i) { return "artefact " + std::to_string(i) + " sha256:" + std::to_string(i * 7919) + "\n"; }

}  // namespace

void make_tlog_proof(const std::filesystem::path& dir) {
  test::MerkleTree tree;
  for (std::uint64_t i = 0; i < kSize; ++i) {
    const std::string e = entry_text(i);
    tree.append({e.begin(), e.end()});
  }
  const auto log = test::NoteSigner::ed25519(kOrigin, 0x50524F);
  const auto w1 = test::Cosigner::generate("witness.example.net/w1", 0x5731);
  const auto w2 = test::Cosigner::generate("witness.example.org/w2", 0x5732);
  write_file(dir / "log.vkey", log.verifier_key() + "\n");
  write_file(dir / "origin.txt", std::string(kOrigin) + "\n");
  write_file(dir / "policy.txt", "# the log, and both of its witnesses\n"
                                 "log " + log.verifier_key() + "\n"
                                 "witness w1 " + w1.verifier_key() + "\n"
                                 "witness w2 " + w2.verifier_key() + "\n"
                                 "group witnesses all w1 w2\n"
                                 "quorum witnesses\n");
  write_file(dir / "entry.txt", entry_text(kIndex));
  const auto& leaf = tree.leaf_hash(kIndex);
  write_file(dir / "entry.leaf-hash", hex(std::vector<unsigned char>(leaf.begin(), leaf.end())) + "\n");

  const auto root = tree.root();
  const std::string body = test::checkpoint_body(kOrigin, kSize, test::Bytes(root.begin(), root.end()));
  const std::string note = test::signed_note(body, {&log}) + w1.cosignature_line(body, 1767225600) +
                           w2.cosignature_line(body, 1767225602);
  const auto path = tree.inclusion_proof(kIndex, kSize);
  const std::string extra = "release v1.4.0";
  write_file(dir / "entry.tlog-proof",
             test::tlog_proof_text(test::Bytes(extra.begin(), extra.end()), kIndex, path, note));
  auto altered = path;
  altered[2][0] ^= 0x01;
  write_file(dir / "entry-tampered.tlog-proof",
             test::tlog_proof_text(test::Bytes(extra.begin(), extra.end()), kIndex, altered, note));
}

}  // namespace quenfold::examples
