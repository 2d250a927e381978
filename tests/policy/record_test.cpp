// Namespace-policy records and envelopes: the worked record, every parse
// message, the legality rules in order, canonical bytes and both hashes.
// Nothing here needs a real signature: SignedPolicy::parse stops short of
// the signature check.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "crypto/hash.h"
#include "policy/policy.h"
#include "support/policy_builder.h"
#include "support/testdata.h"

namespace quenfold::policy {
namespace {

using test::Envelope;
using test::PolicyRecord;
using test::to_hex;

// Placeholder token bytes: parsing never looks inside them.
const Bytes kKey = {0x02, 0xaa, 0xbb};
const Bytes kSig = {0x02, 0xcc};

Bytes wrap(const Bytes& record, const Bytes& key = kKey, const Bytes& sig = kSig) {
  Envelope e;
  e.record = record;
  e.public_key = key;
  e.signature = sig;
  return e.encode();
}

std::string parse_error(const Bytes& envelope) {
  auto r = SignedPolicy::parse(envelope);
  if (r) return "<accepted>";
  return r.error().message();
}

// SHA3-512 over len64(label) || label || data, computed without the
// library's context helper.
std::string context_hash_hex(const std::string& label, const Bytes& data) {
  Bytes len;
  for (int i = 7; i >= 0; --i) len.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(label.size()) >> (8 * i)));
  return to_hex(crypto::sha3_512({len, test::bytes_of(label), data}));
}
std::string leaf_hash_hex(const Bytes& data) {
  const Bytes zero = {0x00};
  return to_hex(crypto::sha256({zero, data}));
}

constexpr const char* kWorkedRecord =
    "00000001" "00000004" "61636d65" "00000001" "03" "01" "01" "01"
    "0000000000000000" "0000000000000000" "00000000";
constexpr const char* kWorkedPolicyHash =
    "5f3d6a8be9add9be035a51cb506a203844676a0c4f1c2eede1d53a49eb7add5d"
    "b29a713fc189dd677be39796a8c259d3d318e46dd8000bf08261853d92102884";
constexpr const char* kWorkedLeafHash = "0716bd753ce23bbad6f626df67375f32d022facc862f4b388cc074ad04c992ad";

TEST(PolicyRecord, WorkedFortyByteRecord) {
  const Bytes record = PolicyRecord{}.encode();
  ASSERT_EQ(to_hex(record), kWorkedRecord);
  ASSERT_EQ(record.size(), 40u);

  auto p = NamespacePolicy::parse(record);
  ASSERT_TRUE(p) << p.error().message();
  EXPECT_EQ(p->namespace_, "acme");
  EXPECT_EQ(p->policy_schema_version, 1u);
  EXPECT_EQ(p->security_level, SecurityLevel::Cat3);
  EXPECT_EQ(p->checkpoint_suite, CheckpointSuite::Hybrid);
  EXPECT_EQ(p->commitment_hash, CommitmentHash::Sha3_256);
  EXPECT_EQ(p->vrf_mode, VrfMode::Classical);
  EXPECT_EQ(p->directory_mode, DirectoryMode::Coniks);
  EXPECT_EQ(p->keytrans_suite, KeytransSuite::QuenfoldHybridExp);
  EXPECT_EQ(p->effective_from, 0u);
  EXPECT_EQ(p->created_at, 0u);
  EXPECT_FALSE(p->prev_policy_hash);

  EXPECT_EQ(p->canonical_bytes(), record);
  EXPECT_EQ(p->context_label(), "acme/namespace-policy/v1");
  EXPECT_EQ(p->context_label().size(), 24u);
  EXPECT_EQ(to_hex(p->policy_hash()), kWorkedPolicyHash);
  EXPECT_EQ(to_hex(p->leaf_hash()), kWorkedLeafHash);

  const PolicyPosture posture = posture_of(*p);
  EXPECT_EQ(posture.namespace_, "acme");
  EXPECT_EQ(to_hex(posture.policy_hash), kWorkedPolicyHash);
  EXPECT_EQ(to_hex(posture.rfc6962_leaf_hash), kWorkedLeafHash);

  // In an envelope the record follows 00000001 00000028.
  const Bytes env = wrap(record);
  EXPECT_EQ(to_hex(Bytes(env.begin(), env.begin() + 8)), "0000000100000028");
  auto sp = SignedPolicy::parse(env);
  ASSERT_TRUE(sp) << sp.error().message();
  EXPECT_EQ(sp->record, *p);
  EXPECT_EQ(sp->public_key, kKey);
  EXPECT_EQ(sp->signature, kSig);
}

// Format-2 records on the KEYTRANS route are their own canonical form and
// hash under the v2 label; every field round-trips.
TEST(PolicyRecord, CanonicalFormsAndHashes) {
  struct Case {
    const char* name;
    PolicyRecord record;
    const char* label;
  };
  PolicyRecord with_prev = PolicyRecord::cat5(3);
  with_prev.namespace_ = "a-b.c_d~!";
  with_prev.policy_schema_version = 0xfffffffe;
  with_prev.effective_from = 0x0102030405060708;
  with_prev.created_at = 1765000000000;
  with_prev.prev_policy_hash = Bytes(64, 0x5a);
  PolicyRecord kt_exp = PolicyRecord::keytrans("ns", 0xF000);
  kt_exp.checkpoint_suite = 2;
  const std::vector<Case> cases = {
      {"worked format 1", PolicyRecord{}, "acme/namespace-policy/v1"},
      {"cat5 with predecessor", with_prev, "a-b.c_d~!/namespace-policy/v1"},
      {"keytrans ed25519", PolicyRecord::keytrans("ns"), "ns/namespace-policy/v2"},
      {"keytrans p256", PolicyRecord::keytrans("example.org", 0x0001), "example.org/namespace-policy/v2"},
      {"keytrans experimental", kt_exp, "ns/namespace-policy/v2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes = c.record.encode();
    auto p = NamespacePolicy::parse(bytes);
    ASSERT_TRUE(p) << p.error().message();
    EXPECT_EQ(p->canonical_bytes(), bytes);
    EXPECT_EQ(p->context_label(), c.label);
    EXPECT_EQ(to_hex(p->policy_hash()), context_hash_hex(c.label, bytes));
    EXPECT_EQ(to_hex(p->leaf_hash()), leaf_hash_hex(bytes));
    const PolicyPosture posture = posture_of(*p);
    // The posture reports the record's whole declaration, field for field.
    EXPECT_EQ(static_cast<const PolicyDeclaration&>(posture), static_cast<const PolicyDeclaration&>(*p));
    EXPECT_EQ(posture.policy_schema_version, c.record.policy_schema_version);
    EXPECT_EQ(posture.effective_from, c.record.effective_from);
    EXPECT_EQ(posture.created_at, c.record.created_at);
    EXPECT_EQ(to_hex(posture.policy_hash), to_hex(p->policy_hash()));
    EXPECT_EQ(to_hex(posture.rfc6962_leaf_hash), to_hex(p->leaf_hash()));
    if (!c.record.prev_policy_hash.empty()) {
      ASSERT_TRUE(p->prev_policy_hash);
      EXPECT_EQ(to_hex(*p->prev_policy_hash), to_hex(c.record.prev_policy_hash));
    }
  }
}

TEST(PolicyRecord, EnumValuesMapFromTheirWireCodes) {
  PolicyRecord r = PolicyRecord::keytrans("ns", 0x0001);
  r.security_level = 5;
  r.commitment_hash = 2;
  r.checkpoint_suite = 2;
  auto p = NamespacePolicy::parse(r.encode());
  ASSERT_TRUE(p) << p.error().message();
  EXPECT_EQ(p->security_level, SecurityLevel::Cat5);
  EXPECT_EQ(p->checkpoint_suite, CheckpointSuite::HybridMatched);
  EXPECT_EQ(p->commitment_hash, CommitmentHash::Sha3_512);
  EXPECT_EQ(p->directory_mode, DirectoryMode::Keytrans);
  EXPECT_EQ(p->keytrans_suite, KeytransSuite::Kt128Sha256P256);
  r.checkpoint_suite = 3;
  r.keytrans_suite = 0x0002;
  p = NamespacePolicy::parse(r.encode());
  ASSERT_TRUE(p) << p.error().message();
  EXPECT_EQ(p->checkpoint_suite, CheckpointSuite::PureCnsa2);
  EXPECT_EQ(p->keytrans_suite, KeytransSuite::Kt128Sha256Ed25519);
}

// A format-2 record that declares the CONIKS route canonicalises to its
// format-1 form: same label (v1), same hashes as the worked record.
TEST(PolicyRecord, Format2ConiksCanonicalisesToFormat1) {
  PolicyRecord r;
  r.format_version = 2;
  r.directory_mode = 1;
  r.keytrans_suite = 0xF000;
  const Bytes received = r.encode();
  ASSERT_EQ(received.size(), 43u);
  auto p = NamespacePolicy::parse(received);
  ASSERT_TRUE(p) << p.error().message();
  EXPECT_EQ(p->directory_mode, DirectoryMode::Coniks);
  EXPECT_EQ(p->keytrans_suite, KeytransSuite::QuenfoldHybridExp);
  EXPECT_EQ(to_hex(p->canonical_bytes()), kWorkedRecord);
  EXPECT_EQ(p->context_label(), "acme/namespace-policy/v1");
  EXPECT_EQ(to_hex(p->policy_hash()), kWorkedPolicyHash);
  EXPECT_EQ(to_hex(p->leaf_hash()), kWorkedLeafHash);
  // Parsed, the two encodings are the same record.
  EXPECT_EQ(*p, *NamespacePolicy::parse(PolicyRecord{}.encode()));
}

struct MessageCase {
  const char* name;
  std::function<Bytes()> envelope;
  std::string want;
  ErrorKind kind = ErrorKind::MalformedPolicy;
};

Bytes record_with(const std::function<void(PolicyRecord&)>& edit) {
  PolicyRecord r;
  edit(r);
  return wrap(r.encode());
}

// Every message of the envelope and record parse, with the exact text.
TEST(PolicyParse, EveryMessage) {
  const std::string m = "malformed namespace policy: ";
  const std::vector<MessageCase> cases = {
      {"empty envelope", [] { return Bytes{}; }, m + "field of 4 bytes overruns the 0-byte buffer at offset 0"},
      {"envelope version 2", [] { Envelope e{2, PolicyRecord{}.encode(), kKey, kSig, {}}; return e.encode(); },
       m + "unknown signed-policy format version 2"},
      {"envelope version 0", [] { Envelope e{0, PolicyRecord{}.encode(), kKey, kSig, {}}; return e.encode(); },
       m + "unknown signed-policy format version 0"},
      {"envelope version max", [] { Envelope e{0xffffffff, {}, {}, {}, {}}; return e.encode(); },
       m + "unknown signed-policy format version 4294967295"},
      {"record version 3", [] { return record_with([](PolicyRecord& r) { r.format_version = 3; }); },
       m + "unknown policy format version 3"},
      {"record version 0", [] { return record_with([](PolicyRecord& r) { r.format_version = 0; }); },
       m + "unknown policy format version 0"},
      {"namespace not utf-8", [] { return record_with([](PolicyRecord& r) { r.namespace_ = "ac\xff" "me"; }); },
       m + "namespace is not valid UTF-8"},
      {"namespace truncated utf-8", [] { return record_with([](PolicyRecord& r) { r.namespace_ = "acme\xc3"; }); },
       m + "namespace is not valid UTF-8"},
      {"namespace with slash", [] { return record_with([](PolicyRecord& r) { r.namespace_ = "a/b"; }); },
       "malformed namespace: namespace must be non-empty printable ASCII without '/': \"a/b\"",
       ErrorKind::MalformedNamespace},
      {"namespace empty", [] { return record_with([](PolicyRecord& r) { r.namespace_ = ""; }); },
       "malformed namespace: namespace must be non-empty printable ASCII without '/': \"\"",
       ErrorKind::MalformedNamespace},
      {"namespace utf-8 but not ascii", [] { return record_with([](PolicyRecord& r) { r.namespace_ = "caf\xc3\xa9"; }); },
       "malformed namespace: namespace must be non-empty printable ASCII without '/': \"caf\xc3\xa9\"",
       ErrorKind::MalformedNamespace},
      {"security_level 4", [] { return record_with([](PolicyRecord& r) { r.security_level = 4; }); },
       m + "unknown security_level tag 0x04"},
      {"security_level 0xab", [] { return record_with([](PolicyRecord& r) { r.security_level = 0xab; }); },
       m + "unknown security_level tag 0xab"},
      {"checkpoint_suite 0", [] { return record_with([](PolicyRecord& r) { r.checkpoint_suite = 0; }); },
       m + "unknown checkpoint_suite tag 0x00"},
      {"checkpoint_suite 4", [] { return record_with([](PolicyRecord& r) { r.checkpoint_suite = 4; }); },
       m + "unknown checkpoint_suite tag 0x04"},
      {"commitment_hash 3", [] { return record_with([](PolicyRecord& r) { r.commitment_hash = 3; }); },
       m + "unknown commitment_hash tag 0x03"},
      {"vrf_mode 0xff", [] { return record_with([](PolicyRecord& r) { r.vrf_mode = 0xff; }); },
       m + "unknown vrf_mode tag 0xff"},
      {"vrf_mode 0", [] { return record_with([](PolicyRecord& r) { r.vrf_mode = 0; }); },
       m + "unknown vrf_mode tag 0x00"},
      {"prev_policy_hash 32 bytes",
       [] { return record_with([](PolicyRecord& r) { r.prev_policy_hash = Bytes(32, 1); }); },
       m + "prev_policy_hash is 32 bytes, want 0 (genesis) or 64"},
      {"prev_policy_hash 65 bytes",
       [] { return record_with([](PolicyRecord& r) { r.prev_policy_hash = Bytes(65, 1); }); },
       m + "prev_policy_hash is 65 bytes, want 0 (genesis) or 64"},
      {"prev_policy_hash 1 byte",
       [] { return record_with([](PolicyRecord& r) { r.prev_policy_hash = Bytes(1, 0); }); },
       m + "prev_policy_hash is 1 bytes, want 0 (genesis) or 64"},
      {"directory_mode 3",
       [] { return record_with([](PolicyRecord& r) { r = PolicyRecord::keytrans("acme"); r.directory_mode = 3; }); },
       m + "unknown directory_mode tag 0x03"},
      {"directory_mode 0",
       [] { return record_with([](PolicyRecord& r) { r = PolicyRecord::keytrans("acme"); r.directory_mode = 0; }); },
       m + "unknown directory_mode tag 0x00"},
      {"keytrans_suite 0x0003", [] { return record_with([](PolicyRecord& r) { r = PolicyRecord::keytrans("acme", 0x0003); }); },
       m + "unknown keytrans_suite id 0x0003"},
      {"keytrans_suite 0xf001", [] { return record_with([](PolicyRecord& r) { r = PolicyRecord::keytrans("acme", 0xF001); }); },
       m + "unknown keytrans_suite id 0xf001"},
      {"keytrans_suite 0x0000", [] { return record_with([](PolicyRecord& r) { r = PolicyRecord::keytrans("acme", 0x0000); }); },
       m + "unknown keytrans_suite id 0x0000"},
      {"one byte after format-1 record",
       [] { return record_with([](PolicyRecord& r) { r.trailing = {0x00}; }); },
       m + "trailing bytes after policy record"},
      {"format-2 fields after a format-1 record",
       [] { return record_with([](PolicyRecord& r) { r.trailing = {0x02, 0x00, 0x02}; }); },
       m + "trailing bytes after policy record"},
      {"one byte after format-2 record",
       [] { return record_with([](PolicyRecord& r) { r = PolicyRecord::keytrans("acme"); r.trailing = {0x00}; }); },
       m + "trailing bytes after policy record"},
      {"format 2 without its fields", [] {
         PolicyRecord r;
         Bytes b = r.encode();
         b[3] = 2;
         return wrap(b);
       },
       m + "field of 1 bytes overruns the 40-byte buffer at offset 40"},
      {"format 2 missing the suite's last byte", [] {
         Bytes b = PolicyRecord::keytrans("acme").encode();
         b.pop_back();
         return wrap(b);
       },
       m + "field of 2 bytes overruns the 42-byte buffer at offset 41"},
      {"namespace length beyond the record", [] {
         Bytes b = PolicyRecord{}.encode();
         b[4] = b[5] = b[6] = b[7] = 0xff;
         return wrap(b);
       },
       m + "field of 4294967295 bytes overruns the 40-byte buffer at offset 8"},
      {"prev_policy_hash length beyond the record", [] {
         Bytes b = PolicyRecord{}.encode();
         b[39] = 64;
         return wrap(b);
       },
       m + "field of 64 bytes overruns the 40-byte buffer at offset 40"},
      {"record length beyond the envelope", [] {
         Bytes b = wrap(PolicyRecord{}.encode());
         b[7] = 54;  // 53 bytes follow the length
         return b;
       },
       m + "field of 54 bytes overruns the 61-byte buffer at offset 8"},
      {"signature length beyond the envelope", [] {
         Bytes b = wrap(PolicyRecord{}.encode());
         b[b.size() - 3] = 3;  // declared 3 signature bytes, 2 present
         return b;
       },
       m + "field of 3 bytes overruns the 61-byte buffer at offset 59"},
      {"empty key", [] { return wrap(PolicyRecord{}.encode(), {}, kSig); },
       m + "signed policy must carry a non-empty key and signature"},
      {"empty signature", [] { return wrap(PolicyRecord{}.encode(), kKey, {}); },
       m + "signed policy must carry a non-empty key and signature"},
      {"both empty", [] { return wrap(PolicyRecord{}.encode(), {}, {}); },
       m + "signed policy must carry a non-empty key and signature"},
      {"one byte after the signature", [] {
         Envelope e{1, PolicyRecord{}.encode(), kKey, kSig, {0x00}};
         return e.encode();
       },
       m + "trailing bytes after signed policy envelope"},
      {"a second signature", [] {
         Envelope e{1, PolicyRecord{}.encode(), kKey, kSig, {0, 0, 0, 1, 0x02}};
         return e.encode();
       },
       m + "trailing bytes after signed policy envelope"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = SignedPolicy::parse(c.envelope());
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), c.want);
    EXPECT_EQ(r.error().kind(), c.kind);
  }
}

// The legality rules, each alone and then pairwise to fix their order.
TEST(PolicyParse, LegalityRulesInOrder) {
  const std::string m = "malformed namespace policy: ";
  auto schema0 = [](PolicyRecord& r) { r.policy_schema_version = 0; };
  auto cat5_sha256 = [](PolicyRecord& r) { r.security_level = 5; };
  auto cat3_sha512 = [](PolicyRecord& r) { r.commitment_hash = 2; };
  auto hybrid_output = [](PolicyRecord& r) { r.vrf_mode = 2; };
  auto pure_pq = [](PolicyRecord& r) { r.vrf_mode = 3; };
  auto cnsa_cat3 = [](PolicyRecord& r) { r.checkpoint_suite = 3; };
  auto coniks_ed25519 = [](PolicyRecord& r) {
    r.format_version = 2;
    r.directory_mode = 1;
    r.keytrans_suite = 0x0002;
  };
  auto coniks_p256 = [](PolicyRecord& r) {
    r.format_version = 2;
    r.directory_mode = 1;
    r.keytrans_suite = 0x0001;
  };
  using Edit = std::function<void(PolicyRecord&)>;
  struct Case {
    const char* name;
    std::vector<Edit> edits;
    std::string want;
  };
  const std::string kSchema = m + "policy_schema_version must be >= 1";
  const std::string kCat5Sha256 = m + "commitment_hash Sha3_256 does not match the one derived from security_level Cat5";
  const std::string kCat3Sha512 = m + "commitment_hash Sha3_512 does not match the one derived from security_level Cat3";
  const std::string kHybridOutput = m + "vrf_mode HybridOutput is not legal in v0.1 (only Classical)";
  const std::string kPurePq = m + "vrf_mode PurePqExperimental is not legal in v0.1 (only Classical)";
  const std::string kCnsa = m + "PureCnsa2 checkpoint_suite requires security_level Cat5";
  const std::string kEd25519 = m + "keytrans_suite Kt128Sha256Ed25519 is only meaningful on the Keytrans route";
  const std::string kP256 = m + "keytrans_suite Kt128Sha256P256 is only meaningful on the Keytrans route";
  const std::vector<Case> cases = {
      {"schema 0", {schema0}, kSchema},
      {"cat5 with sha3-256", {cat5_sha256}, kCat5Sha256},
      {"cat3 with sha3-512", {cat3_sha512}, kCat3Sha512},
      {"hybrid output vrf", {hybrid_output}, kHybridOutput},
      {"pure pq vrf", {pure_pq}, kPurePq},
      {"pure cnsa2 at cat3", {cnsa_cat3}, kCnsa},
      {"coniks with ed25519 suite", {coniks_ed25519}, kEd25519},
      {"coniks with p256 suite", {coniks_p256}, kP256},
      {"schema before hash", {schema0, cat5_sha256, hybrid_output, cnsa_cat3, coniks_ed25519}, kSchema},
      {"hash before vrf", {cat3_sha512, hybrid_output, cnsa_cat3, coniks_ed25519}, kCat3Sha512},
      {"vrf before suite", {pure_pq, cnsa_cat3, coniks_p256}, kPurePq},
      {"suite before route", {cnsa_cat3, coniks_p256}, kCnsa},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PolicyRecord r;
    for (const auto& e : c.edits) e(r);
    const Bytes bytes = r.encode();
    auto direct = NamespacePolicy::parse(bytes);
    ASSERT_FALSE(direct);
    EXPECT_EQ(direct.error().message(), c.want);
    EXPECT_EQ(parse_error(wrap(bytes)), c.want);
  }
  // The legal corners of the same rules.
  std::vector<PolicyRecord> legal = {PolicyRecord{}, PolicyRecord::cat5(1), PolicyRecord::cat5(2),
                                     PolicyRecord::cat5(3), PolicyRecord::keytrans("acme", 0x0001),
                                     PolicyRecord::keytrans("acme", 0x0002), PolicyRecord::keytrans("acme", 0xF000)};
  legal.push_back(legal[0]);
  legal.back().checkpoint_suite = 2;
  legal.push_back(legal[0]);
  legal.back().policy_schema_version = 0xffffffff;
  for (const auto& r : legal) {
    auto p = NamespacePolicy::parse(r.encode());
    EXPECT_TRUE(p) << p.error().message();
  }
}

// Field checks run in record order, and all of them before the legality
// rules; the record is checked before the key and signature.
TEST(PolicyParse, FirstFailureWins) {
  const std::string m = "malformed namespace policy: ";
  PolicyRecord r;
  r.policy_schema_version = 0;  // illegal, but only noticed last
  r.security_level = 9;
  r.vrf_mode = 9;
  EXPECT_EQ(parse_error(wrap(r.encode())), m + "unknown security_level tag 0x09");
  r.security_level = 3;
  EXPECT_EQ(parse_error(wrap(r.encode())), m + "unknown vrf_mode tag 0x09");
  r.vrf_mode = 1;
  r.prev_policy_hash = Bytes(3, 0);
  r.trailing = {1};
  EXPECT_EQ(parse_error(wrap(r.encode())), m + "prev_policy_hash is 3 bytes, want 0 (genesis) or 64");
  r.prev_policy_hash.clear();
  EXPECT_EQ(parse_error(wrap(r.encode())), m + "trailing bytes after policy record");
  r.trailing.clear();
  EXPECT_EQ(parse_error(wrap(r.encode(), {}, {})), m + "policy_schema_version must be >= 1");
  r.namespace_ = "a b";
  r.security_level = 9;
  EXPECT_EQ(parse_error(wrap(r.encode())),
            "malformed namespace: namespace must be non-empty printable ASCII without '/': \"a b\"");
  // An empty key is noticed before trailing envelope bytes.
  Envelope e{1, PolicyRecord{}.encode(), {}, kSig, {0xff}};
  EXPECT_EQ(parse_error(e.encode()), m + "signed policy must carry a non-empty key and signature");
}

// Cutting the worked record at every length: the read that fails names its
// own width, the record's length and its offset within the record.
TEST(PolicyParse, RecordOverrunAtEveryLength) {
  struct Field {
    std::size_t offset, width;
  };
  // format, ns length, ns data, schema, 4 enum bytes, effective_from,
  // created_at, prev length.
  const std::vector<Field> fields = {{0, 4},  {4, 4},  {8, 4},  {12, 4}, {16, 1}, {17, 1},
                                     {18, 1}, {19, 1}, {20, 8}, {28, 8}, {36, 4}};
  const Bytes full = PolicyRecord{}.encode();
  for (std::size_t len = 0; len < full.size(); ++len) {
    SCOPED_TRACE(len);
    const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len));
    std::string want;
    for (const auto& f : fields) {
      if (f.offset + f.width > len) {
        want = "malformed namespace policy: field of " + std::to_string(f.width) + " bytes overruns the " +
               std::to_string(len) + "-byte buffer at offset " + std::to_string(f.offset);
        break;
      }
    }
    EXPECT_EQ(parse_error(wrap(cut)), want);
  }
}

// Cutting a whole envelope at every length: overruns are reported against
// the envelope, never the record.
TEST(PolicyParse, EnvelopeOverrunAtEveryLength) {
  const Bytes key(5, 0x13);
  const Bytes sig(7, 0x13);
  const Bytes full = wrap(PolicyRecord{}.encode(), key, sig);
  ASSERT_EQ(full.size(), 4u + 4 + 40 + 4 + 5 + 4 + 7);
  struct Field {
    std::size_t offset, width;
  };
  const std::vector<Field> fields = {{0, 4}, {4, 4}, {8, 40}, {48, 4}, {52, 5}, {57, 4}, {61, 7}};
  for (std::size_t len = 0; len < full.size(); ++len) {
    SCOPED_TRACE(len);
    std::string want;
    for (const auto& f : fields) {
      if (f.offset + f.width > len) {
        want = "malformed namespace policy: field of " + std::to_string(f.width) + " bytes overruns the " +
               std::to_string(len) + "-byte buffer at offset " + std::to_string(f.offset);
        break;
      }
    }
    EXPECT_EQ(parse_error(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len))), want);
  }
  EXPECT_EQ(parse_error(full), "<accepted>");
}

// Every single-byte change and every truncation of a valid envelope is
// either accepted or rejected as a malformed policy or namespace; nothing
// else can happen (and, under the sanitizers, nothing is read out of bounds).
TEST(PolicyParse, MutationsAreContained) {
  const Bytes full = wrap(PolicyRecord::keytrans("example.org").encode(), Bytes(9, 0x14), Bytes(11, 0x14));
  for (std::size_t i = 0; i < full.size(); ++i) {
    for (const int delta : {0x01, 0x80, 0xff}) {
      Bytes b = full;
      b[i] = static_cast<std::uint8_t>(b[i] ^ delta);
      auto r = SignedPolicy::parse(b);
      if (!r) {
        EXPECT_TRUE(r.error().kind() == ErrorKind::MalformedPolicy || r.error().kind() == ErrorKind::MalformedNamespace)
            << r.error().message();
      }
    }
  }
}

}  // namespace
}  // namespace quenfold::policy
