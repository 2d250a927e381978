#include "policy/policy.h"

#include <algorithm>
#include <string>
#include <utility>

#include "crypto/sign.h"
#include "encoding/context.h"
#include "base/try.h"
#include "base/reader.h"
#include "encoding/text.h"
#include "base/writer.h"
#include "keytrans/suite_id.h"
#include "quenfold/merkle.h"

namespace quenfold::policy {
namespace {

using std::to_string;

// Format versions: of the envelope, and of the record on each route (the
// record's version is also the version of its context label).
constexpr std::uint32_t kEnvelopeFormat = 1;
constexpr std::uint32_t kFormatConiks = 1;
constexpr std::uint32_t kFormatKeytrans = 2;
constexpr std::size_t kLengthPrefix = 4;
// format, namespace length, schema, four enum bytes, two u64 times,
// prev_policy_hash length; then directory_mode and keytrans_suite.
constexpr std::size_t kFixedFieldsLen = 4 + kLengthPrefix + 4 + 4 * 1 + 2 * 8 + kLengthPrefix;
constexpr std::size_t kKeytransFieldsLen = 1 + 2;

std::unexpected<Error> malformed(std::string detail) {
  return std::unexpected(Error::malformed_policy(std::move(detail)));
}

// Every reader failure of the envelope or of the record inside it, in the
// policy's words: the offset counts from the start of the buffer that was
// being read (the envelope, or the record).
Error read_error(const encoding::ReadError& e) {
  if (e.kind == encoding::ReadError::Kind::Trailing)
    return Error::malformed_policy("trailing bytes after " + std::string(e.field));
  return Error::malformed_policy("field of " + to_string(e.wanted) + " bytes overruns the " + to_string(e.buffer) +
                                 "-byte buffer at offset " + to_string(e.offset));
}

template <class T>
std::expected<T, Error> read(encoding::ReadResult<T> r) {
  return encoding::map_read_error(std::move(r), read_error);
}

std::string tag_hex(std::uint64_t v, int width) { return "0x" + encoding::hex_fixed(v, width); }

// The wire code of each value of the record's enum fields, one table per
// enum, read in both directions.
template <class E>
struct WireCode {
  E value;
  std::uint8_t code;
};

constexpr WireCode<SecurityLevel> kSecurityLevels[] = {{SecurityLevel::Cat3, wire::kCat3},
                                                       {SecurityLevel::Cat5, wire::kCat5}};
constexpr WireCode<CheckpointSuite> kCheckpointSuites[] = {{CheckpointSuite::Hybrid, wire::kHybrid},
                                                           {CheckpointSuite::HybridMatched, wire::kHybridMatched},
                                                           {CheckpointSuite::PureCnsa2, wire::kPureCnsa2}};
constexpr WireCode<CommitmentHash> kCommitmentHashes[] = {{CommitmentHash::Sha3_256, wire::kSha3_256},
                                                          {CommitmentHash::Sha3_512, wire::kSha3_512}};
constexpr WireCode<VrfMode> kVrfModes[] = {{VrfMode::Classical, wire::kClassical},
                                           {VrfMode::HybridOutput, wire::kHybridOutput},
                                           {VrfMode::PurePqExperimental, wire::kPurePqExperimental}};
constexpr WireCode<DirectoryMode> kDirectoryModes[] = {{DirectoryMode::Coniks, wire::kConiks},
                                                       {DirectoryMode::Keytrans, wire::kKeytrans}};

template <class E, std::size_t N>
std::optional<E> value_of(const WireCode<E> (&table)[N], std::uint8_t code) {
  for (const WireCode<E>& w : table)
    if (w.code == code) return w.value;
  return std::nullopt;
}

// A value outside the enum (a caller's cast) encodes as `other`.
template <class E, std::size_t N>
std::uint8_t code_of(const WireCode<E> (&table)[N], E value, std::uint8_t other = 0) {
  for (const WireCode<E>& w : table)
    if (w.value == value) return w.code;
  return other;
}

// Reads one enum byte and maps it, or reports "unknown <field> tag 0x<hh>".
template <class E, std::size_t N>
std::expected<E, Error> enum_byte(encoding::Reader& r, const char* field, const WireCode<E> (&table)[N]) {
  QUENFOLD_TRY(const std::uint8_t b, read(r.u8(field)));
  const auto v = value_of(table, b);
  if (!v) return malformed(std::string("unknown ") + field + " tag " + tag_hex(b, 2));
  return *v;
}

// The commitment hash that a security level implies.
CommitmentHash implied_hash(SecurityLevel level) {
  return level == SecurityLevel::Cat3 ? CommitmentHash::Sha3_256 : CommitmentHash::Sha3_512;
}

}  // namespace

std::expected<NamespacePolicy, Error> NamespacePolicy::parse(ByteView record) {
  encoding::Reader r(record);
  NamespacePolicy p;

  QUENFOLD_TRY(const std::uint32_t format, read(r.u32("format_version")));
  if (format != kFormatConiks && format != kFormatKeytrans)
    return malformed("unknown policy format version " + to_string(format));

  QUENFOLD_TRY(const ByteView ns, read(r.prefixed(kLengthPrefix, "namespace")));
  if (encoding::utf8_error(ns)) return malformed("namespace is not valid UTF-8");
  QUENFOLD_TRY(p.namespace_, encoding::validate_namespace(encoding::text_of(ns)));

  QUENFOLD_TRY(p.policy_schema_version, read(r.u32("policy_schema_version")));
  QUENFOLD_TRY(p.security_level, enum_byte(r, "security_level", kSecurityLevels));
  QUENFOLD_TRY(p.checkpoint_suite, enum_byte(r, "checkpoint_suite", kCheckpointSuites));
  QUENFOLD_TRY(p.commitment_hash, enum_byte(r, "commitment_hash", kCommitmentHashes));
  QUENFOLD_TRY(p.vrf_mode, enum_byte(r, "vrf_mode", kVrfModes));
  QUENFOLD_TRY(p.effective_from, read(r.u64("effective_from")));
  QUENFOLD_TRY(p.created_at, read(r.u64("created_at")));

  QUENFOLD_TRY(const ByteView prev, read(r.prefixed(kLengthPrefix, "prev_policy_hash")));
  if (prev.size() != 0 && prev.size() != kPolicyHashLen)
    return malformed("prev_policy_hash is " + to_string(prev.size()) + " bytes, want 0 (genesis) or " +
                     to_string(kPolicyHashLen));
  if (prev.size() == kPolicyHashLen) {
    crypto::Bytes64 h{};
    std::copy(prev.begin(), prev.end(), h.begin());
    p.prev_policy_hash = h;
  }

  if (format == kFormatKeytrans) {
    QUENFOLD_TRY(p.directory_mode, enum_byte(r, "directory_mode", kDirectoryModes));
    QUENFOLD_TRY(const std::uint16_t id, read(r.u16("keytrans_suite")));
    const auto ks = keytrans::suite_from_id(id);
    if (!ks) return malformed("unknown keytrans_suite id " + tag_hex(id, 4));
    p.keytrans_suite = *ks;
  } else {
    // Format 1 predates the KEYTRANS route and always means CONIKS.
    p.directory_mode = DirectoryMode::Coniks;
    p.keytrans_suite = KeytransSuite::QuenfoldHybridExp;
  }

  QUENFOLD_CHECK(read(r.finish("policy record")));
  QUENFOLD_CHECK(check_legality(p));
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
  const std::size_t prev_len = prev_policy_hash ? kPolicyHashLen : 0;
  encoding::Writer w(kFixedFieldsLen + namespace_.size() + prev_len + (keytrans ? kKeytransFieldsLen : 0));
  w.u32(keytrans ? kFormatKeytrans : kFormatConiks);
  w.prefixed(kLengthPrefix, namespace_);
  w.u32(policy_schema_version);
  w.u8(code_of(kSecurityLevels, security_level, wire::kCat5)).u8(code_of(kCheckpointSuites, checkpoint_suite));
  w.u8(code_of(kCommitmentHashes, commitment_hash, wire::kSha3_512)).u8(code_of(kVrfModes, vrf_mode));
  w.u64(effective_from).u64(created_at);
  w.prefixed(kLengthPrefix, prev_policy_hash ? ByteView(*prev_policy_hash) : ByteView{});
  if (keytrans) w.u8(code_of(kDirectoryModes, directory_mode)).u16(keytrans::suite_id_of(keytrans_suite));
  return w.take();
}

std::string NamespacePolicy::context_label() const {
  return namespace_ + "/namespace-policy/v" +
         to_string(directory_mode == DirectoryMode::Keytrans ? kFormatKeytrans : kFormatConiks);
}

crypto::Bytes64 NamespacePolicy::policy_hash() const {
  return encoding::sha3_512_with_context(context_label(), canonical_bytes());
}

crypto::Bytes32 NamespacePolicy::leaf_hash() const { return rfc6962_leaf_hash(canonical_bytes()); }

std::expected<SignedPolicy, Error> SignedPolicy::parse(ByteView envelope) {
  encoding::Reader r(envelope);
  QUENFOLD_TRY(const std::uint32_t format, read(r.u32("format_version")));
  if (format != kEnvelopeFormat) return malformed("unknown signed-policy format version " + to_string(format));

  QUENFOLD_TRY(const ByteView record_bytes, read(r.prefixed(kLengthPrefix, "record")));
  QUENFOLD_TRY(NamespacePolicy record, NamespacePolicy::parse(record_bytes));
  QUENFOLD_TRY(const ByteView key, read(r.prefixed(kLengthPrefix, "public_key")));
  QUENFOLD_TRY(const ByteView sig, read(r.prefixed(kLengthPrefix, "signature")));
  if (key.empty() || sig.empty()) return malformed("signed policy must carry a non-empty key and signature");
  QUENFOLD_CHECK(read(r.finish("signed policy envelope")));

  return SignedPolicy{std::move(record), Bytes(key.begin(), key.end()), Bytes(sig.begin(), sig.end())};
}

std::expected<void, Error> verify_policy_signature(const NamespacePolicy& record, ByteView public_key,
                                                   ByteView signature) {
  // The label embeds a validated namespace, so this parse cannot fail; it is
  // kept so that no digest is ever bound to a label outside the grammar.
  QUENFOLD_TRY(const auto label, encoding::ContextLabel::parse(record.context_label()));
  // The envelope carries decoded token bytes: verify them as they are. An
  // unknown version tag, which the text form would report as an undecodable
  // token, is one more way of not verifying here.
  const Bytes message = record.canonical_bytes();
  if (!crypto::verify_token_bytes(message, encoding::bytes_of(label.text()), signature, public_key))
    return std::unexpected(Error::invalid_signature(record.namespace_ + "/namespace-policy", 0));
  return {};
}

std::expected<NamespacePolicy, Error> load_verified_policy(ByteView envelope) {
  QUENFOLD_TRY(SignedPolicy signed_policy, SignedPolicy::parse(envelope));
  QUENFOLD_CHECK(verify_policy_signature(signed_policy.record, signed_policy.public_key, signed_policy.signature));
  return std::move(signed_policy.record);
}

PolicyPosture posture_of(const NamespacePolicy& p) {
  const auto policy_hash = p.policy_hash();
  const auto leaf = p.leaf_hash();
  return PolicyPosture{static_cast<const PolicyDeclaration&>(p), Bytes(policy_hash.begin(), policy_hash.end()),
                       Bytes(leaf.begin(), leaf.end())};
}

}  // namespace quenfold::policy
