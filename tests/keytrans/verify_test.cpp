// Greatest-version search, fixed-version search and monitoring under each
// suite, over directories built by the test-support builder.
#include <gtest/gtest.h>

#include <map>

#include "keytrans/params.h"
#include "keytrans/verify.h"
#include "crypto/hash.h"
#include "quenfold/keytrans.h"
#include "support/keytrans_directory.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

using namespace quenfold::keytrans;

const std::string kMalformed = "malformed keytrans structure: ";
const std::string kRootMismatch = "keytrans proof root mismatch: recomputed root does not match the expected root";
const std::string kMismatch = "commitment did not open to the claimed value";

Bytes value_of(const std::string& label, std::uint32_t v) { return bytes_of(label + "#" + std::to_string(v)); }

// Labels with a chosen number of versions; some noise; two log entries, the
// first taken before the last version of "grows" was added.
struct Fixture {
  KeytransDirectory dir;
  std::map<std::string, std::uint32_t> counts = {{"v0", 1}, {"v1", 2}, {"v5", 6}, {"v7", 8}, {"grows", 3}, {"v100", 101}};
  std::uint64_t early = 0, late = 0;

  explicit Fixture(KeytransSuite suite) : dir(suite, 1234) {
    for (const auto& [label, n] : counts) {
      const std::uint32_t add = label == "grows" ? n - 1 : n;
      for (std::uint32_t v = 0; v < add; ++v) dir.add_version(bytes_of(label), value_of(label, v));
    }
    dir.add_noise(64);
    early = dir.publish(1000);
    dir.add_version(bytes_of("grows"), value_of("grows", 2));
    dir.add_noise(3);
    dir.publish(2000);
    late = dir.publish(3000);
  }
  Bytes root() const {
    const Node r = dir.combined_root();
    return Bytes(r.begin(), r.end());
  }
};

struct Suites : ::testing::TestWithParam<KeytransSuite> {
  static std::map<KeytransSuite, std::unique_ptr<Fixture>>& cache() {
    static std::map<KeytransSuite, std::unique_ptr<Fixture>> c;
    return c;
  }
  Fixture& fx() {
    auto& slot = cache()[GetParam()];
    if (!slot) slot = std::make_unique<Fixture>(GetParam());
    return *slot;
  }
  KeytransDirectory& dir() { return fx().dir; }
  std::uint16_t id() { return kt_suite_id(GetParam()); }

  std::string search(const Bytes& proof, const Bytes& label, std::optional<Bytes> root = {},
                     std::optional<std::string> context = {}) {
    return show(keytrans_verify_search_suite(id(), context.value_or(dir().context()), dir().vrf_public(),
                                             root.value_or(fx().root()), label, proof));
  }
  std::string fixed(const Bytes& proof, const Bytes& label, std::optional<std::string> context = {}) {
    return show(keytrans_verify_fixed_version_suite(id(), context.value_or(dir().context()), dir().vrf_public(),
                                                    fx().root(), label, proof));
  }
  std::string monitor(const Bytes& proof, const Bytes& label) {
    auto r = keytrans_verify_monitor_suite(id(), dir().context(), dir().vrf_public(), fx().root(), label, proof);
    return r ? "verified" : r.error().message();
  }
  static std::string show(const std::expected<SearchResult, Error>& r) {
    if (!r) return r.error().message();
    if (!r->present) return r->value ? "absent with a value?" : "absent";
    return "present " + std::string(r->value->begin(), r->value->end());
  }
  static std::string present(const std::string& label, std::uint32_t v) {
    const Bytes b = value_of(label, v);
    return "present " + std::string(b.begin(), b.end());
  }
};

TEST_P(Suites, SearchFindsTheGreatestVersion) {
  for (const auto& [label, n] : fx().counts) {
    SCOPED_TRACE(label);
    const auto proof = dir().search(bytes_of(label));
    ASSERT_EQ(proof.greatest_version.value(), n - 1);
    EXPECT_EQ(proof.ladder.size(), kt_binary_ladder(n - 1).size());
    EXPECT_EQ(search(kt_encode(proof), bytes_of(label)), present(label, n - 1));
  }
}

// A search answers for the newest log leaf only: an honest proof about an
// older leaf (where "grows" still had two versions) verifies under the same
// combined root and would hide version 2, so it is refused. Fixed-version
// and monitoring proofs may still be about older leaves.
TEST_P(Suites, SearchMustBeAboutTheNewestLogLeaf) {
  const Bytes grows = bytes_of("grows");
  const std::uint64_t newest = dir().log().size() - 1;
  ASSERT_EQ(newest, fx().late);
  for (const std::uint64_t entry : {fx().early, fx().early + 1}) {
    SCOPED_TRACE(entry);
    EXPECT_EQ(search(kt_encode(dir().search(grows, entry)), grows),
              kMalformed + "search proof must be about the newest log leaf " + std::to_string(newest) + ", got " +
                  std::to_string(entry));
  }
  EXPECT_EQ(search(kt_encode(dir().search(grows, newest)), grows), present("grows", 2));
  EXPECT_EQ(fixed(kt_encode(dir().fixed_version(grows, 1, fx().early)), grows), present("grows", 1));
  EXPECT_EQ(monitor(kt_encode(dir().monitor(grows, 1, fx().early)), grows), "verified");
}

TEST_P(Suites, SearchForAnAbsentLabel) {
  for (const char* label : {"nobody", "", "v5 "}) {
    SCOPED_TRACE(label);
    const auto proof = dir().search(bytes_of(label));
    ASSERT_FALSE(proof.greatest_version.has_value());
    ASSERT_EQ(proof.ladder.size(), 1u);
    EXPECT_EQ(search(kt_encode(proof), bytes_of(label)), "absent");
    // A revealed value attached to an absence is ignored.
    auto with_value = proof;
    with_value.value = RevealedValue{bytes_of("junk"), Bytes(3, 0)};
    EXPECT_EQ(search(kt_encode(with_value), bytes_of(label)), "absent");
  }
}

TEST_P(Suites, SearchLadderAndClaimFailures) {
  const Bytes label = bytes_of("v5");
  const auto honest = dir().search(label);  // greatest 5: rungs 0 1 3 7 5 6
  auto mutate = [&](auto f) {
    auto p = honest;
    f(p);
    return kt_encode(p);
  };
  const auto e = fx().late;
  const std::string ladder_msg = kMalformed + "search ladder versions do not match the canonical binary ladder";
  struct Case {
    const char* name;
    Bytes proof;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"rungs reordered", mutate([](SearchProof& p) { std::swap(p.ladder[4], p.ladder[5]); }), ladder_msg},
      {"rung missing", mutate([](SearchProof& p) { p.ladder.pop_back(); }), ladder_msg},
      {"rung added", mutate([&](SearchProof& p) { p.ladder.push_back(dir().step(label, 4, e)); }), ladder_msg},
      {"no rungs", mutate([](SearchProof& p) { p.ladder.clear(); }), ladder_msg},
      {"claims 3", mutate([&](SearchProof& p) {
         p.greatest_version = 3;
         p.ladder.clear();
         for (std::uint32_t v : {0u, 1u, 3u, 7u, 5u, 4u}) p.ladder.push_back(dir().step(label, v, e));
       }),
       kMalformed + "ladder rung version 5 inclusion true contradicts claimed greatest Some(3)"},
      {"claims 7", mutate([&](SearchProof& p) {
         p.greatest_version = 7;
         p.ladder.clear();
         for (std::uint32_t v : {0u, 1u, 3u, 7u, 15u, 11u, 9u, 8u}) p.ladder.push_back(dir().step(label, v, e));
       }),
       kMalformed + "ladder rung version 7 inclusion false contradicts claimed greatest Some(7)"},
      {"claims none", mutate([&](SearchProof& p) {
         p.greatest_version.reset();
         p.ladder = {dir().step(label, 0, e)};
       }),
       kMalformed + "ladder rung version 0 inclusion true contradicts claimed greatest None"},
      {"no revealed value", mutate([](SearchProof& p) { p.value.reset(); }),
       kMalformed + "present label is missing its revealed value"},
      {"other value", mutate([](SearchProof& p) { p.value->value = bytes_of("v5#4"); }), kMismatch},
      {"opening changed", mutate([](SearchProof& p) { p.value->opening[0] ^= 1; }), kMismatch},
      {"empty value", mutate([](SearchProof& p) { p.value->value.clear(); }), kMismatch},
      {"rung commitment swapped with another version's",
       mutate([&](SearchProof& p) { p.ladder[4].commitment = dir().commitment(label, 4, value_of("v5", 4)); }),
       kRootMismatch},
      {"prefix root changed", mutate([](SearchProof& p) { p.header.prefix_root[0] ^= 1; }), kRootMismatch},
      {"timestamp changed", mutate([](SearchProof& p) { p.header.timestamp += 1; }), kRootMismatch},
      {"entry index beyond", mutate([](SearchProof& p) { p.header.entry_index = p.header.tree_size; }),
       kMalformed + "proved leaf index 3 is beyond tree size 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(search(c.proof, label), c.want);
  }
  // The label is bound through the VRF: the same proof for another label fails.
  EXPECT_EQ(search(kt_encode(honest), bytes_of("v7")), "vrf proof did not verify against the namespace public key");
}

TEST_P(Suites, OpeningLengthAndContext) {
  const Bytes label = bytes_of("v1");
  auto p = dir().search(label);
  const bool experimental = GetParam() == KeytransSuite::QuenfoldHybridExp;
  const std::size_t want = experimental ? 32 : 16;
  const std::size_t wrong = experimental ? 16 : 32;
  p.value->opening.resize(wrong, 0);
  EXPECT_EQ(search(kt_encode(p), label), kMalformed + "commitment opening must be " + std::to_string(want) + " bytes for " +
                                             name_of(GetParam()) + ", got " + std::to_string(wrong));
  // The context binds the experimental commitment only.
  const Bytes honest = kt_encode(dir().search(label));
  EXPECT_EQ(search(honest, label, {}, std::string("another context")), experimental ? kMismatch : present("v1", 1));
  EXPECT_EQ(search(honest, label, {}, std::string()), experimental ? kMismatch : present("v1", 1));
}

TEST_P(Suites, EmptyValueIsPresent) {
  KeytransDirectory d(GetParam(), 5);
  d.add_version(bytes_of("e"), Bytes{});
  d.publish(1);
  const Node r = d.combined_root();
  auto res = keytrans_verify_search_suite(id(), d.context(), d.vrf_public(), Bytes(r.begin(), r.end()), bytes_of("e"),
                                          kt_encode(d.search(bytes_of("e"))));
  ASSERT_TRUE(res.has_value()) << res.error().message();
  EXPECT_TRUE(res->present);
  ASSERT_TRUE(res->value.has_value());
  EXPECT_TRUE(res->value->empty());
}

TEST_P(Suites, RootLength) {
  const Bytes proof = kt_encode(dir().search(bytes_of("v0")));
  for (std::size_t n : {0u, 31u, 33u, 64u}) {
    EXPECT_EQ(search(proof, bytes_of("v0"), Bytes(n, 0)), kMalformed + "combined root must be 32 bytes, got " + std::to_string(n));
    // Checked before the proof is decoded.
    EXPECT_EQ(search({}, bytes_of("v0"), Bytes(n, 0)), kMalformed + "combined root must be 32 bytes, got " + std::to_string(n));
  }
  EXPECT_EQ(search(proof, bytes_of("v0"), Bytes(32, 0)), kRootMismatch);
}

TEST_P(Suites, FixedVersion) {
  const Bytes label = bytes_of("v7");
  for (std::uint32_t v : {0u, 3u, 7u}) {
    SCOPED_TRACE(v);
    EXPECT_EQ(fixed(kt_encode(dir().fixed_version(label, v)), label), present("v7", v));
  }
  for (std::uint32_t v : {8u, 9u, 1000u, 0xffffffffu}) {
    SCOPED_TRACE(v);
    auto p = dir().fixed_version(label, v);
    EXPECT_FALSE(p.value.has_value());
    EXPECT_EQ(fixed(kt_encode(p), label), "absent");
    // A non-inclusion never looks at a revealed value.
    p.value = RevealedValue{bytes_of("x"), Bytes(1, 0)};
    EXPECT_EQ(fixed(kt_encode(p), label), "absent");
  }
  EXPECT_EQ(fixed(kt_encode(dir().fixed_version(bytes_of("nobody"), 0)), bytes_of("nobody")), "absent");
  // At the early entry, version 2 of "grows" did not exist yet.
  EXPECT_EQ(fixed(kt_encode(dir().fixed_version(bytes_of("grows"), 2, fx().early)), bytes_of("grows")), "absent");
  EXPECT_EQ(fixed(kt_encode(dir().fixed_version(bytes_of("grows"), 2)), bytes_of("grows")), present("grows", 2));

  auto p = dir().fixed_version(label, 2);
  auto no_value = p;
  no_value.value.reset();
  EXPECT_EQ(fixed(kt_encode(no_value), label), kMalformed + "present fixed version is missing its revealed value");
  auto wrong_value = p;
  wrong_value.value->value = value_of("v7", 3);
  EXPECT_EQ(fixed(kt_encode(wrong_value), label), kMismatch);
  auto no_commitment = p;
  no_commitment.step.commitment.reset();
  EXPECT_EQ(fixed(kt_encode(no_commitment), label), kMalformed + "inclusion ladder rung is missing its commitment");
  auto wrong_kind = kt_encode(p);
  wrong_kind[0] = 1;
  EXPECT_EQ(fixed(wrong_kind, label), kMalformed + "expected fixed-version proof (kind 2), got kind 1");
  EXPECT_EQ(fixed(kt_encode(p), label, std::string("ctx2")),
            GetParam() == KeytransSuite::QuenfoldHybridExp ? kMismatch : present("v7", 2));
}

TEST_P(Suites, Monitoring) {
  for (const auto& [label, n] : fx().counts) {
    for (std::uint32_t v : {0u, 1u, 5u, 6u, 7u, 100u}) {
      if (v >= n) continue;
      SCOPED_TRACE(label + " version " + std::to_string(v));
      const auto p = dir().monitor(bytes_of(label), v);
      EXPECT_EQ(p.ladder.size(), kt_monitoring_ladder(v).size());
      EXPECT_EQ(monitor(kt_encode(p), bytes_of(label)), "verified");
    }
  }
  // A version beyond the greatest: its own rung is a non-inclusion.
  EXPECT_EQ(monitor(kt_encode(dir().monitor(bytes_of("v5"), 6)), bytes_of("v5")), kRootMismatch);
  EXPECT_EQ(monitor(kt_encode(dir().monitor(bytes_of("nobody"), 0)), bytes_of("nobody")), kRootMismatch);
  auto p = dir().monitor(bytes_of("v7"), 6);  // rungs 0 1 3 5 6
  auto reordered = p;
  std::swap(reordered.ladder[0], reordered.ladder[1]);
  const std::string ladder_msg = kMalformed + "monitor ladder versions do not match the canonical monitoring ladder";
  EXPECT_EQ(monitor(kt_encode(reordered), bytes_of("v7")), ladder_msg);
  auto shorter = p;
  shorter.ladder.pop_back();
  EXPECT_EQ(monitor(kt_encode(shorter), bytes_of("v7")), ladder_msg);
  auto search_ladder = p;
  search_ladder.ladder.push_back(dir().step(bytes_of("v7"), 7, fx().late));
  EXPECT_EQ(monitor(kt_encode(search_ladder), bytes_of("v7")), ladder_msg);
  auto other_version = p;
  other_version.version = 5;
  EXPECT_EQ(monitor(kt_encode(other_version), bytes_of("v7")), ladder_msg);
  EXPECT_EQ(monitor(kt_encode(p), bytes_of("v5")), "vrf proof did not verify against the namespace public key");
}

TEST_P(Suites, LargeGreatestVersions) {
  KeytransDirectory d(GetParam(), 77);
  const Bytes label = bytes_of("prolific");
  const std::uint32_t n = GetParam() == KeytransSuite::Kt128Sha256P256 ? 1025 : 300;
  for (std::uint32_t v = 0; v < n; ++v) d.add_version(label, value_of("prolific", v));
  d.add_noise(10);
  d.publish(9);
  const Node r = d.combined_root();
  const Bytes root(r.begin(), r.end());
  auto res = keytrans_verify_search_suite(id(), d.context(), d.vrf_public(), root, label, kt_encode(d.search(label)));
  ASSERT_TRUE(res.has_value()) << res.error().message();
  EXPECT_EQ(*res->value, value_of("prolific", n - 1));
  auto fixed_res = keytrans_verify_fixed_version_suite(id(), d.context(), d.vrf_public(), root, label,
                                                       kt_encode(d.fixed_version(label, n / 2)));
  ASSERT_TRUE(fixed_res.has_value()) << fixed_res.error().message();
  EXPECT_EQ(*fixed_res->value, value_of("prolific", n / 2));
  EXPECT_TRUE(keytrans_verify_monitor_suite(id(), d.context(), d.vrf_public(), root, label,
                                            kt_encode(d.monitor(label, n - 2)))
                  .has_value());
}

// A greatest version of 2^32 - 1 has ladder values above 32 bits, which no
// rung version can equal: rejected with the ladder message whatever the rungs.
TEST_P(Suites, TopVersionIsRejected) {
  const Bytes label = bytes_of("v1");
  const auto e = fx().late;
  auto p = dir().search(label);
  p.greatest_version = 0xffffffff;
  p.ladder.clear();
  for (std::uint64_t v : kt_binary_ladder(0xffffffff))
    p.ladder.push_back(dir().step(label, static_cast<std::uint32_t>(v), e));  // low 32 bits
  const std::string ladder_msg = kMalformed + "search ladder versions do not match the canonical binary ladder";
  EXPECT_EQ(search(kt_encode(p), label), ladder_msg);
  p.ladder.resize(33);  // exactly the 32-bit part 0, 1, 3, ..., 2^32 - 1
  EXPECT_EQ(search(kt_encode(p), label), ladder_msg);
}

TEST_P(Suites, ProofsBindTheirSuite) {
  const Bytes label = bytes_of("v5");
  const std::vector<std::pair<std::string, Bytes>> proofs = {
      {"search", kt_encode(dir().search(label))},
      {"fixed", kt_encode(dir().fixed_version(label, 2))},
      {"monitor", kt_encode(dir().monitor(label, 5))},
  };
  for (KeytransSuite other : kAllKtSuites) {
    if (other == GetParam()) continue;
    SCOPED_TRACE(name_of(other));
    const auto oid = kt_suite_id(other);
    const auto root = fx().root();
    const auto& ctx = dir().context();
    const auto& pk = dir().vrf_public();
    EXPECT_FALSE(keytrans_verify_search_suite(oid, ctx, pk, root, label, proofs[0].second).has_value());
    EXPECT_FALSE(keytrans_verify_fixed_version_suite(oid, ctx, pk, root, label, proofs[1].second).has_value());
    EXPECT_FALSE(keytrans_verify_monitor_suite(oid, ctx, pk, root, label, proofs[2].second).has_value());
  }
  // The experimental suite is also what the forms without a suite run.
  const bool experimental = GetParam() == KeytransSuite::QuenfoldHybridExp;
  auto r = keytrans_verify_search(dir().context(), dir().vrf_public(), fx().root(), label, proofs[0].second);
  EXPECT_EQ(r.has_value(), experimental) << (r ? "" : r.error().message());
  auto m = keytrans_verify_monitor(dir().context(), dir().vrf_public(), fx().root(), label, proofs[2].second);
  EXPECT_EQ(m.has_value(), experimental);
  auto f = keytrans_verify_fixed_version(dir().context(), dir().vrf_public(), fx().root(), label, proofs[1].second);
  EXPECT_EQ(f.has_value(), experimental);
}

INSTANTIATE_TEST_SUITE_P(AllSuites, Suites, ::testing::ValuesIn(kAllKtSuites),
                         [](const auto& suite_info) { return std::string(name_of(suite_info.param)); });

TEST(KeytransSuiteSelection, UnknownIdsAndTheirOrder) {
  for (std::uint16_t id : std::initializer_list<std::uint16_t>{0x0000, 0x0003, 0x00ff, 0xf001, 0xffff}) {
    const std::string want = "malformed keytrans structure: unknown keytrans suite id 0x" + [&] {
      char buf[5];
      std::snprintf(buf, sizeof buf, "%04x", id);
      return std::string(buf);
    }();
    // The suite is chosen before the root or the proof is looked at.
    EXPECT_EQ(keytrans_verify_search_suite(id, "", {}, {}, {}, {}).error().message(), want);
    EXPECT_EQ(keytrans_verify_fixed_version_suite(id, "", {}, {}, {}, {}).error().message(), want);
    EXPECT_EQ(keytrans_verify_monitor_suite(id, "", {}, {}, {}, {}).error().message(), want);
  }
  EXPECT_EQ(suite_commitment_len(KeytransSuite::Kt128Sha256P256), 32u);
  EXPECT_EQ(suite_commitment_len(KeytransSuite::Kt128Sha256Ed25519), 32u);
  EXPECT_EQ(suite_commitment_len(KeytransSuite::QuenfoldHybridExp), 64u);
  EXPECT_EQ(suite_opening_len(KeytransSuite::Kt128Sha256P256), 16u);
  EXPECT_EQ(suite_opening_len(KeytransSuite::QuenfoldHybridExp), 32u);
}

TEST(KeytransSuiteSelection, P256KeyLengthIsCheckedAtTheFirstRung) {
  KeytransDirectory d(KeytransSuite::Kt128Sha256P256, 3);
  d.add_version(bytes_of("a"), bytes_of("b"));
  d.publish(1);
  const Node r = d.combined_root();
  Bytes pk = d.vrf_public();
  pk.pop_back();
  auto res = keytrans_verify_search_suite(0x0001, "", pk, Bytes(r.begin(), r.end()), bytes_of("a"),
                                          kt_encode(d.search(bytes_of("a"))));
  ASSERT_FALSE(res.has_value());
  EXPECT_EQ(res.error().message(), "vrf error: invalid length: expected 33 bytes, got 32");
  // A key whose first byte is 0x04 never decodes.
  pk = d.vrf_public();
  pk[0] = 0x04;
  res = keytrans_verify_search_suite(0x0001, "", pk, Bytes(r.begin(), r.end()), bytes_of("a"),
                                     kt_encode(d.search(bytes_of("a"))));
  ASSERT_FALSE(res.has_value());
  EXPECT_EQ(res.error().message(), "vrf proof did not verify against the namespace public key");
}

TEST(KeytransCommitment, SuiteSchemes) {
  const Bytes label = bytes_of("lbl");
  const Bytes value = bytes_of("val");
  for (KeytransSuite suite : kAllKtSuites) {
    SCOPED_TRACE(name_of(suite));
    const auto params = make_params(suite, bytes_of("ctx"), {});
    const Bytes opening(kt_opening_len(suite), 0x42);
    auto c = compute_commitment(params, label, 9, value, opening);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(*c, kt_commitment(suite, "ctx", label, 9, value, opening));
    EXPECT_EQ(c->size(), kt_commitment_len(suite));
    EXPECT_NE(*c, compute_commitment(params, label, 10, value, opening).value());
    auto long_label = compute_commitment(params, Bytes(256, 'l'), 9, value, opening);
    ASSERT_FALSE(long_label.has_value());
    EXPECT_EQ(long_label.error().message(),
              "malformed keytrans structure: CommitmentValue.label: 256 bytes exceeds the <0..2^8-1> vector bound (255)");
  }
  // The HMAC key is the fixed public one: HMAC-SHA-256 over opening || CommitmentValue.
  const auto p = make_params(KeytransSuite::Kt128Sha256Ed25519, {}, {});
  const Bytes opening(16, 0);
  const auto c = compute_commitment(p, label, 9, value, opening).value();
  const auto want = crypto::hmac_sha256(from_hex("d821f8790d97709796b4d7903357c3f5"),
                                        {opening, from_hex("036c626c000000090000000376616c")});
  EXPECT_EQ(c, Bytes(want.begin(), want.end()));
}

}  // namespace
}  // namespace quenfold::test
