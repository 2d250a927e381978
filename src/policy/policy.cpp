#include "policy/policy.h"

#include <algorithm>
#include <string>
#include <utility>

#include "crypto/base64.h"
#include "crypto/sign.h"
#include "encoding/context.h"
#include "encoding/reader.h"
#include "encoding/text.h"
#include "quenfold/merkle.h"

namespace quenfold::policy {
namespace {

using std::to_string;

std::unexpected<Error> malformed(std::string detail) {
  return std::unexpected(Error::malformed_policy(std::move(detail)));
}

// A bounds-checked cursor that turns every overrun into the policy's own
// message, naming the buffer it walks (the envelope or the record inside it)
// and the offset within that buffer.
class Cursor {
 public:
  explicit Cursor(ByteView data) noexcept : r_(data) {}

  std::expected<std::uint8_t, Error> u8() { return fixed(r_.u8(), 1); }
  std::expected<std::uint16_t, Error> u16() { return fixed(r_.u16(), 2); }
  std::expected<std::uint32_t, Error> u32() { return fixed(r_.u32(), 4); }
  std::expected<std::uint64_t, Error> u64() { return fixed(r_.u64(), 8); }

  // A 4-byte length n, then n bytes.
  std::expected<ByteView, Error> length_prefixed() {
    auto n = u32();
    if (!n) return std::unexpected(n.error());
    auto data = r_.take(*n);
    if (!data) return std::unexpected(overrun(*n));
    return *data;
  }

  bool at_end() const noexcept { return r_.empty(); }

 private:
  template <class T>
  std::expected<T, Error> fixed(std::optional<T> v, std::size_t width) const {
    if (!v) return std::unexpected(overrun(width));
    return *v;
  }
  Error overrun(std::uint64_t n) const {
    return Error::malformed_policy("field of " + to_string(n) + " bytes overruns the " + to_string(r_.size()) +
                                   "-byte buffer at offset " + to_string(r_.position()));
  }

  encoding::Reader r_;
};

std::string tag_hex(std::uint64_t v, int width) { return "0x" + encoding::hex_fixed(v, width); }

std::optional<SecurityLevel> security_level_of(std::uint8_t b) {
  switch (b) {
    case wire::kCat3: return SecurityLevel::Cat3;
    case wire::kCat5: return SecurityLevel::Cat5;
    default: return std::nullopt;
  }
}
std::optional<CheckpointSuite> checkpoint_suite_of(std::uint8_t b) {
  switch (b) {
    case wire::kHybrid: return CheckpointSuite::Hybrid;
    case wire::kHybridMatched: return CheckpointSuite::HybridMatched;
    case wire::kPureCnsa2: return CheckpointSuite::PureCnsa2;
    default: return std::nullopt;
  }
}
std::optional<CommitmentHash> commitment_hash_of(std::uint8_t b) {
  switch (b) {
    case wire::kSha3_256: return CommitmentHash::Sha3_256;
    case wire::kSha3_512: return CommitmentHash::Sha3_512;
    default: return std::nullopt;
  }
}
std::optional<VrfMode> vrf_mode_of(std::uint8_t b) {
  switch (b) {
    case wire::kClassical: return VrfMode::Classical;
    case wire::kHybridOutput: return VrfMode::HybridOutput;
    case wire::kPurePqExperimental: return VrfMode::PurePqExperimental;
    default: return std::nullopt;
  }
}
std::optional<DirectoryMode> directory_mode_of(std::uint8_t b) {
  switch (b) {
    case wire::kConiks: return DirectoryMode::Coniks;
    case wire::kKeytrans: return DirectoryMode::Keytrans;
    default: return std::nullopt;
  }
}
std::optional<KeytransSuite> keytrans_suite_of(std::uint16_t v) {
  switch (v) {
    case wire::kKt128Sha256P256: return KeytransSuite::Kt128Sha256P256;
    case wire::kKt128Sha256Ed25519: return KeytransSuite::Kt128Sha256Ed25519;
    case wire::kQuenfoldHybridExp: return KeytransSuite::QuenfoldHybridExp;
    default: return std::nullopt;
  }
}

std::uint8_t wire_of(SecurityLevel v) { return v == SecurityLevel::Cat3 ? wire::kCat3 : wire::kCat5; }
std::uint8_t wire_of(CheckpointSuite v) {
  switch (v) {
    case CheckpointSuite::Hybrid: return wire::kHybrid;
    case CheckpointSuite::HybridMatched: return wire::kHybridMatched;
    case CheckpointSuite::PureCnsa2: return wire::kPureCnsa2;
  }
  return 0;
}
std::uint8_t wire_of(CommitmentHash v) { return v == CommitmentHash::Sha3_256 ? wire::kSha3_256 : wire::kSha3_512; }
std::uint8_t wire_of(VrfMode v) {
  switch (v) {
    case VrfMode::Classical: return wire::kClassical;
    case VrfMode::HybridOutput: return wire::kHybridOutput;
    case VrfMode::PurePqExperimental: return wire::kPurePqExperimental;
  }
  return 0;
}
std::uint16_t wire_of(KeytransSuite v) {
  switch (v) {
    case KeytransSuite::Kt128Sha256P256: return wire::kKt128Sha256P256;
    case KeytransSuite::Kt128Sha256Ed25519: return wire::kKt128Sha256Ed25519;
    case KeytransSuite::QuenfoldHybridExp: return wire::kQuenfoldHybridExp;
  }
  return 0;
}

// Reads one enum byte and maps it, or reports "unknown <field> tag 0x<hh>".
template <class E>
std::expected<E, Error> enum_byte(Cursor& c, const char* field, std::optional<E> (*of)(std::uint8_t)) {
  auto b = c.u8();
  if (!b) return std::unexpected(b.error());
  auto v = of(*b);
  if (!v) return malformed(std::string("unknown ") + field + " tag " + tag_hex(*b, 2));
  return *v;
}

// The commitment hash that a security level implies.
CommitmentHash implied_hash(SecurityLevel level) {
  return level == SecurityLevel::Cat3 ? CommitmentHash::Sha3_256 : CommitmentHash::Sha3_512;
}

}  // namespace

std::expected<NamespacePolicy, Error> NamespacePolicy::parse(ByteView record) {
  Cursor c(record);
  NamespacePolicy p;

  auto format = c.u32();
  if (!format) return std::unexpected(format.error());
  if (*format != 1 && *format != 2) return malformed("unknown policy format version " + to_string(*format));

  auto ns = c.length_prefixed();
  if (!ns) return std::unexpected(ns.error());
  if (encoding::utf8_error(*ns)) return malformed("namespace is not valid UTF-8");
  auto valid_ns = encoding::validate_namespace(encoding::text_of(*ns));
  if (!valid_ns) return std::unexpected(valid_ns.error());
  p.namespace_ = std::move(*valid_ns);

  auto schema = c.u32();
  if (!schema) return std::unexpected(schema.error());
  p.policy_schema_version = *schema;

  auto level = enum_byte(c, "security_level", security_level_of);
  if (!level) return std::unexpected(level.error());
  p.security_level = *level;
  auto suite = enum_byte(c, "checkpoint_suite", checkpoint_suite_of);
  if (!suite) return std::unexpected(suite.error());
  p.checkpoint_suite = *suite;
  auto hash = enum_byte(c, "commitment_hash", commitment_hash_of);
  if (!hash) return std::unexpected(hash.error());
  p.commitment_hash = *hash;
  auto vrf = enum_byte(c, "vrf_mode", vrf_mode_of);
  if (!vrf) return std::unexpected(vrf.error());
  p.vrf_mode = *vrf;

  auto effective = c.u64();
  if (!effective) return std::unexpected(effective.error());
  p.effective_from = *effective;
  auto created = c.u64();
  if (!created) return std::unexpected(created.error());
  p.created_at = *created;

  auto prev = c.length_prefixed();
  if (!prev) return std::unexpected(prev.error());
  if (prev->size() != 0 && prev->size() != kPolicyHashLen)
    return malformed("prev_policy_hash is " + to_string(prev->size()) + " bytes, want 0 (genesis) or " +
                     to_string(kPolicyHashLen));
  if (prev->size() == kPolicyHashLen) {
    crypto::Bytes64 h{};
    std::copy(prev->begin(), prev->end(), h.begin());
    p.prev_policy_hash = h;
  }

  if (*format == 2) {
    auto mode = enum_byte(c, "directory_mode", directory_mode_of);
    if (!mode) return std::unexpected(mode.error());
    p.directory_mode = *mode;
    auto id = c.u16();
    if (!id) return std::unexpected(id.error());
    auto ks = keytrans_suite_of(*id);
    if (!ks) return malformed("unknown keytrans_suite id " + tag_hex(*id, 4));
    p.keytrans_suite = *ks;
  } else {
    // Format 1 predates the KEYTRANS route and always means CONIKS.
    p.directory_mode = DirectoryMode::Coniks;
    p.keytrans_suite = KeytransSuite::QuenfoldHybridExp;
  }

  if (!c.at_end()) return malformed("trailing bytes after policy record");
  if (auto legal = check_legality(p); !legal) return std::unexpected(legal.error());
  return p;
}

std::expected<void, Error> check_legality(const NamespacePolicy& p) {
  if (p.policy_schema_version == 0) return malformed("policy_schema_version must be >= 1");
  if (p.commitment_hash != implied_hash(p.security_level))
    return malformed(std::string("commitment_hash ") + name_of(p.commitment_hash) +
                     " does not match the one derived from security_level " + name_of(p.security_level));
  if (p.vrf_mode != VrfMode::Classical)
    return malformed(std::string("vrf_mode ") + name_of(p.vrf_mode) + " is not legal in v0.1 (only Classical)");
  if (p.checkpoint_suite == CheckpointSuite::PureCnsa2 && p.security_level == SecurityLevel::Cat3)
    return malformed("PureCnsa2 checkpoint_suite requires security_level Cat5");
  if (p.directory_mode == DirectoryMode::Coniks && p.keytrans_suite != KeytransSuite::QuenfoldHybridExp)
    return malformed(std::string("keytrans_suite ") + name_of(p.keytrans_suite) +
                     " is only meaningful on the Keytrans route");
  return {};
}

Bytes NamespacePolicy::canonical_bytes() const {
  const bool keytrans = directory_mode == DirectoryMode::Keytrans;
  Bytes out;
  out.reserve(44 + namespace_.size() + (prev_policy_hash ? kPolicyHashLen : 0));
  encoding::put_be(out, keytrans ? 2 : 1, 4);
  encoding::put_be(out, namespace_.size(), 4);
  out.insert(out.end(), namespace_.begin(), namespace_.end());
  encoding::put_be(out, policy_schema_version, 4);
  out.push_back(wire_of(security_level));
  out.push_back(wire_of(checkpoint_suite));
  out.push_back(wire_of(commitment_hash));
  out.push_back(wire_of(vrf_mode));
  encoding::put_be(out, effective_from, 8);
  encoding::put_be(out, created_at, 8);
  if (prev_policy_hash) {
    encoding::put_be(out, kPolicyHashLen, 4);
    out.insert(out.end(), prev_policy_hash->begin(), prev_policy_hash->end());
  } else {
    encoding::put_be(out, 0, 4);
  }
  if (keytrans) {
    out.push_back(wire::kKeytrans);
    encoding::put_be(out, wire_of(keytrans_suite), 2);
  }
  return out;
}

std::string NamespacePolicy::context_label() const {
  return namespace_ + "/namespace-policy/v" + (directory_mode == DirectoryMode::Keytrans ? "2" : "1");
}

crypto::Bytes64 NamespacePolicy::policy_hash() const {
  return encoding::sha3_512_with_context(context_label(), canonical_bytes());
}

crypto::Bytes32 NamespacePolicy::leaf_hash() const { return rfc6962_leaf_hash(canonical_bytes()); }

std::expected<SignedPolicy, Error> SignedPolicy::parse(ByteView envelope) {
  Cursor c(envelope);
  auto format = c.u32();
  if (!format) return std::unexpected(format.error());
  if (*format != 1) return malformed("unknown signed-policy format version " + to_string(*format));

  auto record_bytes = c.length_prefixed();
  if (!record_bytes) return std::unexpected(record_bytes.error());
  auto record = NamespacePolicy::parse(*record_bytes);
  if (!record) return std::unexpected(record.error());

  auto key = c.length_prefixed();
  if (!key) return std::unexpected(key.error());
  auto sig = c.length_prefixed();
  if (!sig) return std::unexpected(sig.error());
  if (key->empty() || sig->empty()) return malformed("signed policy must carry a non-empty key and signature");
  if (!c.at_end()) return malformed("trailing bytes after signed policy envelope");

  return SignedPolicy{std::move(*record), Bytes(key->begin(), key->end()), Bytes(sig->begin(), sig->end())};
}

std::expected<void, Error> verify_policy_signature(const NamespacePolicy& record, ByteView public_key,
                                                   ByteView signature) {
  // The label embeds a validated namespace, so this parse cannot fail; it is
  // kept so that no digest is ever bound to a label outside the grammar.
  auto label = encoding::ContextLabel::parse(record.context_label());
  if (!label) return std::unexpected(label.error());
  const Bytes message = record.canonical_bytes();
  const auto verdict = crypto::verify_token(message, encoding::bytes_of(label->text()),
                                            crypto::base64::encode(signature), crypto::base64::encode(public_key));
  if (!verdict || !*verdict) return std::unexpected(Error::invalid_signature(record.namespace_ + "/namespace-policy", 0));
  return {};
}

std::expected<NamespacePolicy, Error> load_verified_policy(ByteView envelope) {
  auto signed_policy = SignedPolicy::parse(envelope);
  if (!signed_policy) return std::unexpected(signed_policy.error());
  auto ok = verify_policy_signature(signed_policy->record, signed_policy->public_key, signed_policy->signature);
  if (!ok) return std::unexpected(ok.error());
  return std::move(signed_policy->record);
}

PolicyPosture posture_of(const NamespacePolicy& p) {
  PolicyPosture out;
  out.namespace_ = p.namespace_;
  out.policy_schema_version = p.policy_schema_version;
  out.security_level = p.security_level;
  out.checkpoint_suite = p.checkpoint_suite;
  out.commitment_hash = p.commitment_hash;
  out.vrf_mode = p.vrf_mode;
  out.directory_mode = p.directory_mode;
  out.keytrans_suite = p.keytrans_suite;
  out.effective_from = p.effective_from;
  out.created_at = p.created_at;
  const Bytes canonical = p.canonical_bytes();
  const auto policy_hash = encoding::sha3_512_with_context(p.context_label(), canonical);
  const auto leaf = rfc6962_leaf_hash(canonical);
  out.policy_hash.assign(policy_hash.begin(), policy_hash.end());
  out.rfc6962_leaf_hash.assign(leaf.begin(), leaf.end());
  return out;
}

}  // namespace quenfold::policy
