// examples/rfc6962: an RFC 6962 log as a CT log list describes it (its
// origin, its public key as base64 of the SubjectPublicKeyInfo DER and its
// log ID, SHA-256 of that DER), a checkpoint it signed with an RFC 6962 tree
// head signature (type 0x05, C2SP static-ct-api), and its verifier key as
// the test builders write it, which vkey-rfc6962 must reproduce from the
// list's key alone.
#include <string>

#include "crypto/hash.h"
#include "examples.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/witness.h"

namespace quenfold::examples {
namespace {

constexpr const char* kOrigin = "ct.example.org/2026h1";
constexpr std::uint64_t kSize = 12;
constexpr std::uint64_t kTimestampMs = 1767225600123;

}  // namespace

void make_rfc6962(const std::filesystem::path& dir) {
  test::MerkleTree tree;
  for (std::uint64_t i = 0; i < kSize; ++i) {
    const std::string e = "certificate " + std::to_string(i);
    tree.append({e.begin(), e.end()});
  }
  const auto log = test::Rfc6962Signer::generate(kOrigin, 0x6354);
  const auto log_id = crypto::sha256({ByteView(log.spki_der())});
  write_file(dir / "origin.txt", std::string(kOrigin) + "\n");
  write_file(dir / "log-key.b64", test::base64_of(log.spki_der()) + "\n");
  write_file(dir / "log-id.b64", test::base64_of(test::Bytes(log_id.begin(), log_id.end())) + "\n");
  write_file(dir / "log.vkey", log.verifier_key() + "\n");
  const auto root = tree.root();
  const test::Bytes root_bytes(root.begin(), root.end());
  write_file(dir / "checkpoint.note", test::checkpoint_body(kOrigin, kSize, root_bytes) + "\n" +
                                          log.checkpoint_line(kSize, root_bytes, kTimestampMs));
}

}  // namespace quenfold::examples
