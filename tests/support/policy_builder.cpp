#include "support/policy_builder.h"

namespace quenfold::test {
namespace {

void be(Bytes& out, std::uint64_t v, int width) {
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void lp(Bytes& out, const Bytes& data) {
  be(out, data.size(), 4);
  out.insert(out.end(), data.begin(), data.end());
}
Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes encode_as(const PolicyRecord& r, std::uint32_t format, bool with_trailing) {
  Bytes out;
  be(out, format, 4);
  lp(out, bytes(r.namespace_));
  be(out, r.policy_schema_version, 4);
  out.push_back(r.security_level);
  out.push_back(r.checkpoint_suite);
  out.push_back(r.commitment_hash);
  out.push_back(r.vrf_mode);
  be(out, r.effective_from, 8);
  be(out, r.created_at, 8);
  lp(out, r.prev_policy_hash);
  if (format == 2) {
    out.push_back(r.directory_mode);
    be(out, r.keytrans_suite, 2);
  }
  if (with_trailing) out.insert(out.end(), r.trailing.begin(), r.trailing.end());
  return out;
}

bool keytrans_route(const PolicyRecord& r) { return r.format_version == 2 && r.directory_mode == 2; }

}  // namespace

PolicyRecord PolicyRecord::keytrans(std::string ns, std::uint16_t suite) {
  PolicyRecord r;
  r.format_version = 2;
  r.namespace_ = std::move(ns);
  r.directory_mode = 2;
  r.keytrans_suite = suite;
  return r;
}

PolicyRecord PolicyRecord::cat5(std::uint8_t checkpoint_suite) {
  PolicyRecord r;
  r.security_level = 5;
  r.commitment_hash = 2;
  r.checkpoint_suite = checkpoint_suite;
  return r;
}

Bytes PolicyRecord::encode() const { return encode_as(*this, format_version, true); }

Bytes PolicyRecord::canonical() const { return encode_as(*this, keytrans_route(*this) ? 2 : 1, false); }

std::string PolicyRecord::context_label() const {
  return namespace_ + "/namespace-policy/v" + (keytrans_route(*this) ? "2" : "1");
}

Bytes Envelope::encode() const {
  Bytes out;
  be(out, format_version, 4);
  lp(out, record);
  lp(out, public_key);
  lp(out, signature);
  out.insert(out.end(), trailing.begin(), trailing.end());
  return out;
}

Envelope signed_envelope(const PolicyRecord& record, const TokenSigner& signer) {
  Envelope e;
  e.record = record.encode();
  e.public_key = signer.public_key_token_bytes();
  e.signature = signer.sign_bytes(record.canonical(), bytes(record.context_label()));
  return e;
}

Bytes sign_policy(const PolicyRecord& record, const TokenSigner& signer) {
  return signed_envelope(record, signer).encode();
}

const TokenSigner& default_policy_signer() {
  static const TokenSigner signer = TokenSigner::generate(crypto::SignatureVersion::MlDsa65Ed25519, 0x9011c7);
  return signer;
}

}  // namespace quenfold::test
