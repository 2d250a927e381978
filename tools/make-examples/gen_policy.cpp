// examples/policy: the signed namespace policy of example.org (Hybrid/Cat3,
// hence Sha3_256, the Classical VRF and the CONIKS directory), itself signed
// with an ML-DSA-65+Ed448 token, and a copy with its record changed. The
// checkpoint tokens it is checked against are the example log's
// (ML-DSA-65+Ed25519, tag 0x02, the one version Hybrid/Cat3 accepts).
#include <string>

#include "examples.h"
#include "support/policy_builder.h"
#include "support/signers.h"

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
}

}  // namespace quenfold::examples
