// CONIKS presence and absence proofs: the published acme values, proofs
// from the test directory for directories of several sizes, every mutation
// and every parse message, and the order of the checks.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "coniks/lookup_proof.h"
#include "quenfold/coniks.h"
#include "support/coniks_directory.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

const std::string kRootMismatch =
    "coniks proof root mismatch: recomputed directory root does not match the expected root";
const std::string kVrfInvalid = "vrf proof did not verify against the namespace public key";

Bytes b(const ConiksNode& n) { return {n.begin(), n.end()}; }

std::string lookup_error(const ConiksDirectory& d, const Bytes& identity, const Bytes& proof,
                         std::optional<Bytes> root = std::nullopt, std::optional<std::string> ns = std::nullopt) {
  const auto r = coniks_verify_lookup(ns.value_or(d.namespace_name()), d.vrf_public(), root.value_or(b(d.root())),
                                      identity, proof);
  return r ? "verified" : r.error().message();
}

std::string absence_error(const ConiksDirectory& d, const Bytes& identity, const Bytes& proof,
                          std::optional<Bytes> root = std::nullopt, std::optional<std::string> ns = std::nullopt) {
  const auto r = coniks_verify_absence(ns.value_or(d.namespace_name()), d.vrf_public(), root.value_or(b(d.root())),
                                       identity, proof);
  return r ? "verified" : r.error().message();
}

Bytes id(int i) { return bytes_of("user" + std::to_string(i) + "@example.org"); }
Bytes value(int i) { return bytes_of("key material of user " + std::to_string(i)); }

ConiksDirectory directory(int n, const std::string& ns = "example.org") {
  ConiksDirectory d(ns, 7);
  for (int i = 0; i < n; ++i) d.insert(id(i), value(i));
  return d;
}

// Directories of the sizes the tests cover, built once.
const ConiksDirectory& sized(int n) {
  static std::map<int, ConiksDirectory> cache;
  auto it = cache.find(n);
  if (it == cache.end()) it = cache.emplace(n, directory(n)).first;
  return it->second;
}

TEST(ConiksHasher, PublishedAcmeValues) {
  const coniks::ConiksHasher h("acme");
  EXPECT_EQ(to_hex(h.empty_leaf()),
            "926e947eb1fb21dc8d02ee75426794032a23c7d2133f78e620210ed6df309e2277f03a656683343af8bfc2ff5c7decfeb8d0e5e3"
            "d255086812cc508b31e548ad");
  EXPECT_EQ(to_hex(h.empty_subtree(0)),
            "df12937cb74b30dc70b41369f6b69f581bcdd291964940d0ad3fbc6192ca87fb31f8272ace348f366e8e8613b26a5383abbdf780"
            "b412577a0d56a8552c3fb175");
  EXPECT_EQ(to_hex(ConiksDirectory("acme", 1).empty_root()), to_hex(h.empty_subtree(0)));
  // Each level is the node hash of two copies of the level below.
  for (std::size_t d : {1u, 100u, 256u})
    EXPECT_EQ(h.empty_subtree(d - 1), h.node_hash(h.empty_subtree(d), h.empty_subtree(d)));
}

TEST(ConiksProofs, DirectoriesOfSeveralSizesVerify) {
  for (int n : {0, 1, 2, 300}) {
    SCOPED_TRACE(n);
    const ConiksDirectory& d = sized(n);
    EXPECT_EQ(d.root() == d.empty_root(), n == 0);
    // Presence of every member (a sample of the big one), returning the
    // value exactly as proven.
    for (int i = 0; i < n; i += (n > 10 ? 37 : 1)) {
      const auto r = coniks_verify_lookup(d.namespace_name(), d.vrf_public(), b(d.root()), id(i), d.lookup_proof(id(i)));
      ASSERT_TRUE(r) << r.error().message();
      EXPECT_EQ(*r, value(i));
    }
    for (int i = n; i < n + 3; ++i) {
      const Bytes proof = d.absence_proof(id(i));
      EXPECT_EQ(absence_error(d, id(i), proof), "verified");
      // The same proof is no presence proof, and it proves nothing for
      // another identity.
      EXPECT_EQ(lookup_error(d, id(i), proof), "malformed coniks proof: expected presence tag 0x01, got 0x00");
      EXPECT_EQ(absence_error(d, id(i + 10), proof), kVrfInvalid);
    }
    if (n > 0) {
      EXPECT_EQ(absence_error(d, id(0), d.lookup_proof(id(0))),
                "malformed coniks proof: expected absence tag 0x00, got 0x01");
    }
  }
}

// Namespaces whose labels end before, at and beyond the SHA3-512 block
// boundaries: the node label is absorbed once and every node hash continues
// from that state, which must give the directory's own (one-shot) hashes.
TEST(ConiksProofs, LongNamespacesVerify) {
  for (const std::size_t len : {1uz, 48uz, 49uz, 50uz, 200uz, 5000uz}) {  // 49: a 72-byte prefix
    SCOPED_TRACE(len);
    const ConiksDirectory d = directory(3, std::string(len, 'n'));
    EXPECT_EQ(coniks::ConiksHasher(d.namespace_name()).empty_subtree(0), d.empty_root());
    const auto r = coniks_verify_lookup(d.namespace_name(), d.vrf_public(), b(d.root()), id(1), d.lookup_proof(id(1)));
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(*r, value(1));
    EXPECT_EQ(absence_error(d, id(7), d.absence_proof(id(7))), "verified");
    EXPECT_EQ(absence_error(d, id(7), d.absence_proof(id(7)), b(d.empty_root())), kRootMismatch);
  }
}

TEST(ConiksProofs, EmptyDirectoryAbsenceHasNoSiblings) {
  const ConiksDirectory d = directory(0);
  const auto parts = d.absence_parts(id(1));
  EXPECT_TRUE(parts.siblings.empty());
  EXPECT_EQ(parts.serialize().size(), 1u + 4u + 80u + 32u);
  EXPECT_EQ(absence_error(d, id(1), parts.serialize(), b(d.empty_root())), "verified");
}

TEST(ConiksProofs, ExplicitEmptySiblingsVerifyToo) {
  const ConiksDirectory d = directory(3);
  const auto presence = d.lookup_parts(id(1), true);
  ASSERT_EQ(presence.siblings.size(), 256u);
  EXPECT_EQ(lookup_error(d, id(1), presence.serialize()), "verified");
  const auto absence = d.absence_parts(id(9), true);
  EXPECT_EQ(absence_error(d, id(9), absence.serialize()), "verified");
}

// The builder's fold of a proof (used to stand siblings in for subtrees it
// never computes) gives the directory's own root for honest proofs, in both
// spellings, and a proof with a stand-in sibling verifies under that fold.
TEST(ConiksProofs, FoldingAProofGivesItsRoot) {
  const ConiksDirectory& d = sized(300);
  for (bool explicit_empty : {false, true}) {
    EXPECT_EQ(d.root_of(id(5), d.lookup_parts(id(5), explicit_empty)), d.root());
    EXPECT_EQ(d.root_of(id(301), d.absence_parts(id(301), explicit_empty)), d.root());
  }
  auto parts = d.lookup_parts(id(5));
  ASSERT_FALSE(parts.siblings.empty());
  parts.siblings.front()[0] ^= 1;
  const auto stand_in_root = d.root_of(id(5), parts);
  EXPECT_NE(stand_in_root, d.root());
  EXPECT_EQ(lookup_error(d, id(5), parts.serialize(), b(stand_in_root)), "verified");
}

TEST(ConiksProofs, EmptyIdentityAndEmptyValueAreLegal) {
  ConiksDirectory d("acme", 3);
  d.insert(Bytes{}, Bytes{});
  d.insert(id(1), value(1));
  const auto r = coniks_verify_lookup("acme", d.vrf_public(), b(d.root()), Bytes{}, d.lookup_proof(Bytes{}));
  ASSERT_TRUE(r) << r.error().message();
  EXPECT_TRUE(r->empty());
  ConiksDirectory other("acme", 3);
  other.insert(id(1), value(1));
  EXPECT_EQ(absence_error(other, Bytes{}, other.absence_proof(Bytes{})), "verified");
}

TEST(ConiksProofs, EveryDirectorySizeRejectsEachMutation) {
  for (int n : {0, 1, 2, 300}) {
    const ConiksDirectory& d = sized(n);
    for (const bool presence : {true, false}) {
      if (presence && n == 0) continue;
      SCOPED_TRACE(std::to_string(n) + (presence ? " presence" : " absence"));
      const Bytes who = presence ? id(n / 2) : id(n + 1);
      const auto parts = presence ? d.lookup_parts(who) : d.absence_parts(who);
      auto check = [&](const ConiksProofParts& p, const std::string& want, std::optional<Bytes> root = std::nullopt,
                       std::optional<std::string> ns = std::nullopt) {
        const Bytes bytes = p.serialize();
        EXPECT_EQ(presence ? lookup_error(d, who, bytes, root, ns) : absence_error(d, who, bytes, root, ns), want);
      };
      check(parts, "verified");
      if (presence) {
        auto p = parts;
        p.value.push_back(0);
        check(p, kRootMismatch);
        p = parts;
        p.opening[0] ^= 0x10;
        check(p, kRootMismatch);
      }
      if (!parts.siblings.empty()) {
        auto p = parts;
        p.siblings[p.siblings.size() / 2][17] ^= 4;
        check(p, kRootMismatch);
      }
      // Bit 255 (the leaf's own sibling) is set only when a neighbour shares
      // all 255 upper bits: practically never, so setting it asks for one
      // more sibling than the proof has.
      auto p = parts;
      ASSERT_EQ(p.bitmap[31] & 1, 0);
      p.bitmap[31] |= 1;
      const std::size_t k = parts.siblings.size();
      check(p, "malformed coniks proof: authentication path: bitmap implies " + std::to_string(k + 1) +
                   " sibling hashes (" + std::to_string(32 + 64 * (k + 1)) + " bytes), only " +
                   std::to_string(32 + 64 * k) + " available");
      // Setting it and supplying the empty subtree as that sibling is the
      // same tree.
      p.siblings.push_back(coniks::ConiksHasher(d.namespace_name()).empty_subtree(256));
      check(p, "verified");
      check(parts, kVrfInvalid, std::nullopt, "example.net");
      Bytes root = b(d.root());
      root[static_cast<std::size_t>(n) % 64] ^= 0x01;
      check(parts, kRootMismatch, root);
      Bytes trailing = parts.serialize();
      trailing.push_back(0x00);
      EXPECT_EQ(presence ? lookup_error(d, who, trailing) : absence_error(d, who, trailing),
                "malformed coniks proof: trailing bytes after authentication path");
    }
  }
}

TEST(ConiksProofs, MutationsFailWithTheirMessages) {
  const ConiksDirectory d = directory(40);
  const Bytes who = id(5);
  const auto good = d.lookup_parts(who);
  ASSERT_FALSE(good.siblings.empty());
  ASSERT_EQ(lookup_error(d, who, good.serialize()), "verified");

  struct Case {
    const char* name;
    std::function<void(ConiksProofParts&)> mutate;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"value", [](auto& p) { p.value.push_back('!'); }, kRootMismatch},
      {"empty value", [](auto& p) { p.value.clear(); }, kRootMismatch},
      {"opening", [](auto& p) { p.opening[31] ^= 1; }, kRootMismatch},
      {"first sibling", [](auto& p) { p.siblings.front()[0] ^= 0x80; }, kRootMismatch},
      {"last sibling", [](auto& p) { p.siblings.back()[63] ^= 1; }, kRootMismatch},
      {"sibling dropped with its bit", [](auto& p) {
         for (std::size_t i = 0; i < 256; ++i) {
           if (p.bitmap[i / 8] & (0x80 >> (i % 8))) {
             p.bitmap[i / 8] = static_cast<std::uint8_t>(p.bitmap[i / 8] & ~(0x80 >> (i % 8)));
             p.siblings.erase(p.siblings.begin());
             return;
           }
         }
       }, kRootMismatch},
      {"vrf proof", [](auto& p) { p.vrf_proof[40] ^= 1; }, kVrfInvalid},
      {"short vrf proof", [](auto& p) { p.vrf_proof.pop_back(); }, "vrf error: invalid length: expected 80 bytes, got 79"},
  };
  for (const auto& c : cases) {
    auto parts = good;
    c.mutate(parts);
    EXPECT_EQ(lookup_error(d, who, parts.serialize()), c.want) << c.name;
  }

  const Bytes bytes = good.serialize();
  const std::size_t bitmap_at = 1 + 4 + 80 + 4 + good.value.size() + 32;
  const std::size_t k = good.siblings.size();
  for (std::size_t i = 0; i < 256; i += 5) {
    Bytes flipped = bytes;
    flipped[bitmap_at + i / 8] ^= static_cast<std::uint8_t>(0x80 >> (i % 8));
    const bool was_set = bytes[bitmap_at + i / 8] & (0x80 >> (i % 8));
    // A cleared bit leaves a sibling over; a set bit asks for one more.
    const std::string want =
        was_set ? "malformed coniks proof: trailing bytes after authentication path"
                : "malformed coniks proof: authentication path: bitmap implies " + std::to_string(k + 1) +
                      " sibling hashes (" + std::to_string(32 + 64 * (k + 1)) + " bytes), only " +
                      std::to_string(32 + 64 * k) + " available";
    EXPECT_EQ(lookup_error(d, who, flipped), want) << "bit " << i;
  }

  Bytes trailing = bytes;
  trailing.push_back(0);
  EXPECT_EQ(lookup_error(d, who, trailing), "malformed coniks proof: trailing bytes after authentication path");

  for (std::size_t i = 0; i < 64; i += 7) {
    Bytes root = b(d.root());
    root[i] ^= 1;
    EXPECT_EQ(lookup_error(d, who, bytes, root), kRootMismatch) << "root byte " << i;
  }
  EXPECT_EQ(lookup_error(d, who, bytes, std::nullopt, "example.com"), kVrfInvalid);
  EXPECT_EQ(lookup_error(d, id(6), bytes), kVrfInvalid);
  // Another member's proof under this identity: the VRF fixes the position.
  EXPECT_EQ(lookup_error(d, who, d.lookup_proof(id(6))), kVrfInvalid);
  // A key of another directory.
  const ConiksDirectory other("example.org", 8);
  EXPECT_EQ(coniks_verify_lookup("example.org", other.vrf_public(), b(d.root()), who, bytes).error().message(),
            kVrfInvalid);

  // Absence: each mutation of the same kinds.
  const Bytes absent = id(99);
  const auto a = d.absence_parts(absent);
  ASSERT_EQ(absence_error(d, absent, a.serialize()), "verified");
  auto a_sibling = a;
  a_sibling.siblings.back()[0] ^= 1;
  EXPECT_EQ(absence_error(d, absent, a_sibling.serialize()), kRootMismatch);
  Bytes a_trailing = a.serialize();
  a_trailing.push_back(0xff);
  EXPECT_EQ(absence_error(d, absent, a_trailing), "malformed coniks proof: trailing bytes after authentication path");
  Bytes a_root = b(d.root());
  a_root[63] ^= 0x40;
  EXPECT_EQ(absence_error(d, absent, a.serialize(), a_root), kRootMismatch);
  EXPECT_EQ(absence_error(d, absent, a.serialize(), std::nullopt, "example.net"), kVrfInvalid);
  // An absence proof for a member fails: its leaf is not empty.
  auto member = a;
  member.vrf_proof = d.lookup_parts(who).vrf_proof;
  member.bitmap = d.lookup_parts(who).bitmap;
  member.siblings = d.lookup_parts(who).siblings;
  EXPECT_EQ(absence_error(d, who, member.serialize()), kRootMismatch);
}

TEST(ConiksProofs, EveryParseMessage) {
  const ConiksDirectory d = directory(2);
  const Bytes who = id(0);
  const auto parts = d.lookup_parts(who);
  auto u32 = [](std::uint32_t v) {
    return Bytes{static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                 static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
  };
  auto cat = [](std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const auto& p : pieces) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const Bytes vrf = cat({u32(80), parts.vrf_proof});
  const Bytes val = cat({u32(3), bytes_of("abc")});
  Bytes bitmap3(32, 0);
  bitmap3[0] = 0xE0;
  struct Case {
    const char* name;
    bool presence;
    Bytes proof;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"empty", true, {}, "empty proof"},
      {"empty absence", false, {}, "empty proof"},
      {"tag 2", true, {0x02}, "expected presence tag 0x01, got 0x02"},
      {"tag ff", false, {0xff}, "expected absence tag 0x00, got 0xff"},
      {"tag only", true, {0x01}, "vrf proof: missing 4-byte length prefix"},
      {"tag only absence", false, {0x00}, "vrf proof: missing 4-byte length prefix"},
      {"three length bytes", true, {0x01, 0, 0, 0}, "vrf proof: missing 4-byte length prefix"},
      {"vrf overrun", true, cat({{0x01}, u32(1000), Bytes(200, 0)}), "vrf proof: length prefix 1000 overruns available bytes"},
      {"vrf overrun by one", false, cat({{0x00}, u32(81), parts.vrf_proof}), "vrf proof: length prefix 81 overruns available bytes"},
      {"no value prefix", true, cat({{0x01}, vrf}), "value: missing 4-byte length prefix"},
      {"value overrun", true, cat({{0x01}, vrf, u32(4), bytes_of("abc")}), "value: length prefix 4 overruns available bytes"},
      {"huge value length", true, cat({{0x01}, vrf, u32(0xffffffff)}), "value: length prefix 4294967295 overruns available bytes"},
      {"no opening", true, cat({{0x01}, vrf, val}), "missing opening"},
      {"31-byte opening", true, cat({{0x01}, vrf, val, Bytes(31, 7)}), "missing opening"},
      {"no path", true, cat({{0x01}, vrf, val, Bytes(32, 7)}), "authentication path shorter than its bitmap"},
      {"short bitmap", false, cat({{0x00}, vrf, Bytes(31, 0)}), "authentication path shorter than its bitmap"},
      {"3 bits, 100 bytes", true, cat({{0x01}, vrf, val, Bytes(32, 7), bitmap3, Bytes(100, 1)}),
       "authentication path: bitmap implies 3 sibling hashes (224 bytes), only 132 available"},
      {"full bitmap, nothing", false, cat({{0x00}, vrf, Bytes(32, 0xff)}),
       "authentication path: bitmap implies 256 sibling hashes (16416 bytes), only 32 available"},
      {"trailing after empty path", false, cat({{0x00}, vrf, Bytes(32, 0), {0}}), "trailing bytes after authentication path"},
      {"trailing after siblings", true, cat({{0x01}, vrf, val, Bytes(32, 7), bitmap3, Bytes(193, 1)}),
       "trailing bytes after authentication path"},
  };
  for (const auto& c : cases) {
    const std::string got = c.presence ? lookup_error(d, who, c.proof) : absence_error(d, who, c.proof);
    EXPECT_EQ(got, "malformed coniks proof: " + c.want) << c.name;
  }
  // A short VRF proof parses (its length is the VRF's to check).
  EXPECT_EQ(absence_error(d, who, cat({{0x00}, u32(0), Bytes(32, 0)})), "vrf error: invalid length: expected 80 bytes, got 0");
}

TEST(ConiksProofs, ChecksRunInOrder) {
  const ConiksDirectory d = directory(2);
  const Bytes who = id(0);
  const Bytes good = d.lookup_proof(who);
  const Bytes root = b(d.root());
  const std::string bad_ns = "malformed namespace: namespace must be non-empty printable ASCII without '/': ";
  struct Case {
    const char* name;
    std::string ns;
    Bytes vrf_public, root, proof;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"namespace before everything", "a/b", Bytes(31, 0), Bytes(63, 0), {}, bad_ns + "\"a/b\""},
      {"empty namespace", "", d.vrf_public(), root, good, bad_ns + "\"\""},
      {"namespace with space", "a b", d.vrf_public(), root, good, bad_ns + "\"a b\""},
      {"root before proof", "example.org", d.vrf_public(), Bytes(63, 0), {}, "coniks root must be exactly 64 bytes"},
      {"long root", "example.org", d.vrf_public(), Bytes(65, 0), good, "coniks root must be exactly 64 bytes"},
      {"proof before vrf key", "example.org", Bytes(31, 0), root, {0x01}, "malformed coniks proof: vrf proof: missing 4-byte length prefix"},
      {"vrf key length", "example.org", Bytes(31, 0), root, good, "vrf error: invalid length: expected 32 bytes, got 31"},
      {"vrf before tree", "example.org", Bytes(32, 0), Bytes(64, 0), good, kVrfInvalid},
      {"tree last", "example.org", d.vrf_public(), Bytes(64, 0), good, kRootMismatch},
  };
  for (const auto& c : cases) {
    const auto r = coniks_verify_lookup(c.ns, c.vrf_public, c.root, who, c.proof);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().message(), c.want) << c.name;
    const auto a = coniks_verify_absence(c.ns, c.vrf_public, c.root, who, c.proof);
    ASSERT_FALSE(a) << c.name;
  }
  EXPECT_EQ(coniks_verify_lookup("a/b", d.vrf_public(), root, who, good).error().kind(), ErrorKind::MalformedNamespace);
}

TEST(ConiksProofs, EveryTruncationIsMalformed) {
  // The canonical form leaves no slack: every proper prefix of a proof
  // fails to parse (and under the sanitizers, reads nothing out of bounds).
  const ConiksDirectory& d = sized(2);
  for (const bool presence : {true, false}) {
    const Bytes who = presence ? id(1) : id(5);
    const Bytes proof = presence ? d.lookup_proof(who) : d.absence_proof(who);
    for (std::size_t n = 0; n < proof.size(); ++n) {
      const Bytes cut(proof.begin(), proof.begin() + static_cast<std::ptrdiff_t>(n));
      const std::string got = presence ? lookup_error(d, who, cut) : absence_error(d, who, cut);
      EXPECT_EQ(got.rfind("malformed coniks proof: ", 0), 0u) << n << ": " << got;
    }
  }
}

TEST(ConiksProofs, ReadLengthPrefixedPositions) {
  const Bytes bytes = {9, 0, 0, 0, 2, 0xaa, 0xbb, 0, 0, 0, 0};
  auto first = coniks::read_length_prefixed(bytes, 1, "a");
  ASSERT_TRUE(first);
  EXPECT_EQ(Bytes(first->first.begin(), first->first.end()), (Bytes{0xaa, 0xbb}));
  EXPECT_EQ(first->second, 7u);
  auto second = coniks::read_length_prefixed(bytes, first->second, "b");
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->first.empty());
  EXPECT_EQ(second->second, bytes.size());
  EXPECT_EQ(coniks::read_length_prefixed(bytes, second->second, "c").error().message(),
            "malformed coniks proof: c: missing 4-byte length prefix");
}

TEST(ConiksProofs, AuthPathEntriesFollowTheBitmap) {
  Bytes bytes(32, 0);
  bytes[0] = 0x80;   // depth 1
  bytes[31] = 0x01;  // depth 256
  for (const std::uint8_t fill : {std::uint8_t{0x11}, std::uint8_t{0x22}}) bytes.insert(bytes.end(), 64, fill);
  bytes.push_back(0x33);
  const auto parsed = coniks::AuthPath::parse(bytes);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->second, 32u + 128u);
  const auto& s = parsed->first.siblings;
  EXPECT_EQ(s[0].size(), 64u);
  EXPECT_EQ(s[0][0], 0x11);
  EXPECT_EQ(s[255].size(), 64u);
  EXPECT_EQ(s[255][63], 0x22);
  for (std::size_t i = 1; i < 255; ++i) EXPECT_TRUE(s[i].empty()) << i;
}

}  // namespace
}  // namespace quenfold::test
