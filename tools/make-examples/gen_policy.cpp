// examples/policy: the signed namespace policy of example.org (Hybrid/Cat3,
// hence Sha3_256, the Classical VRF and the CONIKS directory), itself signed
// with an ML-DSA-65+Ed448 token; a copy with one byte of its record changed;
// and a checkpoint key and signature token of ML-DSA-65+Ed25519 (tag 0x02,
// the one version a Hybrid/Cat3 policy accepts).
#include <string>

#include "examples.h"
#include "support/policy_builder.h"
#include "support/signers.h"
#include "support/testdata.h"

namespace quenfold::examples {
namespace {

std::vector<unsigned char> v(const test::Bytes& b) { return {b.begin(), b.end()}; }

}  // namespace

void make_policy(const std::filesystem::path& dir) {
  test::PolicyRecord record;
  record.namespace_ = "example.org";
  record.policy_schema_version = 1;
  record.security_level = 3;    // Cat3
  record.checkpoint_suite = 1;  // Hybrid
  record.commitment_hash = 1;   // Sha3_256
  record.vrf_mode = 1;          // Classical
  record.effective_from = 0;
  record.created_at = 1765152000000;  // 2025-12-08T00:00:00Z

  const auto policy_signer = test::TokenSigner::generate(crypto::SignatureVersion::MlDsa65Ed448, 0x0e6a3913);
  const test::Envelope env = test::signed_envelope(record, policy_signer);
  write_file(dir / "example.org.policy", hex(v(env.encode())) + "\n");
  write_file(dir / "policy-key.token", policy_signer.public_key_token() + "\n");

  // The same envelope claiming a later creation time: the signature no
  // longer covers the record.
  test::Envelope tampered = env;
  test::PolicyRecord later = record;
  later.created_at += 1;
  tampered.record = later.encode();
  write_file(dir / "example.org-tampered.policy", hex(v(tampered.encode())) + "\n");

  // A checkpoint signer of the namespace's log.
  const auto checkpoint_signer = test::TokenSigner::generate(crypto::SignatureVersion::MlDsa65Ed25519, 0x0e6a0002);
  const std::string body = "example.org/log\n7\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n";
  const std::string context = "example.org/checkpoint/v1";
  write_file(dir / "checkpoint-key.token", checkpoint_signer.public_key_token() + "\n");
  write_file(dir / "checkpoint-signature.token",
             checkpoint_signer.sign(test::bytes_of(body), test::bytes_of(context)) + "\n");
}

}  // namespace quenfold::examples
