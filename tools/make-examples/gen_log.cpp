// examples/log: a small real log. Seven leaves (the three linked key-history
// entries of examples/key_history among other records), two checkpoints of
// sizes 4 and 7, each signed by an Ed25519 key and by a composite
// ML-DSA-65+Ed25519 key, inclusion proofs for the key-history leaves, a
// consistency proof between the checkpoints, and one tampered checkpoint.
#include <string>

#include "crypto/sign.h"
#include "examples.h"
#include "support/merkle_tree.h"
#include "support/notes.h"

namespace quenfold::examples {
namespace {

constexpr const char* kOrigin = "log.example.org/quenfold/v1";

std::string lines(const std::vector<test::Hash>& hs) {
  std::string out;
  for (const auto& h : hs) out += hex(std::vector<unsigned char>(h.begin(), h.end())) + "\n";
  return out;
}

std::vector<std::uint8_t> text_bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace

void make_log(const std::filesystem::path& dir) {
  const auto chain = key_history_chain();
  test::MerkleTree tree;
  auto hash_of = [](const std::vector<unsigned char>& h) {
    test::Hash out{};
    std::copy(h.begin(), h.end(), out.begin());
    return out;
  };
  // Leaf index: 0 record, 1 key-history seq 0, 2 record, 3 key-history seq 1,
  // 4 record, 5 key-history seq 2, 6 record.
  tree.append(text_bytes("directory epoch 1: 14 identities"));
  tree.append_hash(hash_of(chain[0].leaf_hash));
  tree.append(text_bytes("directory epoch 2: 15 identities"));
  tree.append_hash(hash_of(chain[1].leaf_hash));
  tree.append(text_bytes("directory epoch 3: 15 identities"));
  tree.append_hash(hash_of(chain[2].leaf_hash));
  tree.append(text_bytes("directory epoch 4: 16 identities"));
  const std::uint64_t kh_index[3] = {1, 3, 5};

  const auto ed = test::NoteSigner::ed25519("log.example.org", 0x4C4F47);
  const auto pq = test::NoteSigner::composite("log.example.org/pq", crypto::SignatureVersion::MlDsa65Ed25519, 0x4C4F47);
  write_file(dir / "ed25519.vkey", ed.verifier_key() + "\n");
  write_file(dir / "composite.vkey", pq.verifier_key() + "\n");
  write_file(dir / "keys.txt", ed.verifier_key() + "\n" + pq.verifier_key() + "\n");
  write_file(dir / "composite-key.token", test::base64_of(pq.token_signer()->public_key_token_bytes()) + "\n");

  std::string body7;
  for (const std::uint64_t size : {std::uint64_t{4}, std::uint64_t{7}}) {
    const auto root = tree.root(size);
    const std::string body =
        test::checkpoint_body(kOrigin, size, test::Bytes(root.begin(), root.end()), {"key-history entries: " + std::to_string(size / 2)});
    write_file(dir / ("checkpoint-" + std::to_string(size) + ".note"), test::signed_note(body, {&ed, &pq}));
    if (size == 7) body7 = body;
    for (std::size_t seq = 0; seq < 3; ++seq) {
      if (kh_index[seq] >= size) continue;
      write_file(dir / ("inclusion-entry" + std::to_string(seq) + "-in-" + std::to_string(size) + ".proof"),
                 lines(tree.inclusion_proof(kh_index[seq], size)));
    }
  }
  write_file(dir / "consistency-4-to-7.proof", lines(tree.consistency_proof(4, 7)));
  // The signature token of the composite line of the size-7 checkpoint (the
  // blob after its 4-byte key id).
  write_file(dir / "composite-signature.token", test::base64_of(pq.sign(body7)) + "\n");

  // The size-7 checkpoint with its size line rewritten to 8, signatures kept.
  std::string tampered = test::signed_note(body7, {&ed, &pq});
  const std::string from = std::string(kOrigin) + "\n7\n";
  tampered.replace(0, from.size(), std::string(kOrigin) + "\n8\n");
  write_file(dir / "checkpoint-7-tampered.note", tampered);
}

}  // namespace quenfold::examples
