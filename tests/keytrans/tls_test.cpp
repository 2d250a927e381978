// The KEYTRANS wire decoders: every failure message, the offsets counted from
// the reader that reads the field, the worked byte layouts, and the two
// hashed encodings.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <limits>

#include "keytrans/tls.h"
#include "support/keytrans_directory.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

using namespace quenfold::keytrans;

// Hand assembly of wire bytes, so that offsets in the expectations can be
// read off the test.
struct Wire {
  Bytes b;
  Wire& u8(std::uint64_t v) { return uint(v, 1); }
  Wire& u16(std::uint64_t v) { return uint(v, 2); }
  Wire& u32(std::uint64_t v) { return uint(v, 4); }
  Wire& u64(std::uint64_t v) { return uint(v, 8); }
  Wire& uint(std::uint64_t v, int w) {
    for (int i = w - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  Wire& fill(std::size_t n, std::uint8_t x) {
    b.insert(b.end(), n, x);
    return *this;
  }
  Wire& raw(const Bytes& x) {
    b.insert(b.end(), x.begin(), x.end());
    return *this;
  }
  // Header with an empty log_inclusion: 59 bytes.
  Wire& header(std::uint8_t kind) { return u8(kind).u64(0).u64(1).u64(7).fill(32, 0xaa).u16(0); }
  Bytes cut(std::size_t n) const { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }
};

// The prefix proof of an inclusion at depth 0 with no copath: 00 05 02 01 00 00 00.
Wire& inclusion_prefix(Wire& w) { return w.u16(5).u8(2).u8(1).u8(0).u16(0); }

// A complete rung: version, an 80-byte VRF proof, an inclusion at depth 0,
// and a commitment of nc bytes.
Wire& rung(Wire& w, std::uint32_t version, std::size_t nc) {
  w.u32(version).u16(80).fill(80, 0x11);
  inclusion_prefix(w);
  return w.u8(1).fill(nc, 0xcc);
}

std::string decode_error(std::uint8_t kind, const Bytes& bytes, std::size_t nc = 32) {
  switch (kind) {
    case 1: {
      auto p = decode_search_proof(bytes, nc);
      if (!p) return p.error().message();
      break;
    }
    case 2: {
      auto p = decode_fixed_version_proof(bytes, nc);
      if (!p) return p.error().message();
      break;
    }
    default: {
      auto p = decode_monitor_proof(bytes, nc);
      if (!p) return p.error().message();
      break;
    }
  }
  return "decoded";
}

const std::string kPrefix = "malformed keytrans structure: ";

TEST(KeytransWire, MonitorProofLayoutIs191Bytes) {
  Wire w;
  w.header(3).u32(0).u16(1);
  rung(w, 0, 32);
  ASSERT_EQ(w.b.size(), 191u);
  auto p = decode_monitor_proof(w.b, 32);
  ASSERT_TRUE(p.has_value()) << p.error().message();
  EXPECT_EQ(p->header.entry_index, 0u);
  EXPECT_EQ(p->header.tree_size, 1u);
  EXPECT_EQ(p->header.timestamp, 7u);
  Node root;
  root.fill(0xaa);
  EXPECT_EQ(p->header.prefix_root, root);
  EXPECT_TRUE(p->header.log_inclusion.empty());
  EXPECT_EQ(p->version, 0u);
  ASSERT_EQ(p->ladder.size(), 1u);
  const auto& s = p->ladder[0];
  EXPECT_EQ(s.version, 0u);
  EXPECT_EQ(s.vrf_proof, Bytes(80, 0x11));
  EXPECT_EQ(s.prefix_proof.result.type, PrefixSearchResultType::Inclusion);
  EXPECT_EQ(s.prefix_proof.result.depth, 0);
  EXPECT_FALSE(s.prefix_proof.result.leaf.has_value());
  EXPECT_TRUE(s.prefix_proof.elements.empty());
  ASSERT_TRUE(s.commitment.has_value());
  EXPECT_EQ(*s.commitment, Bytes(32, 0xcc));
  // The same bytes under Nc = 64 run out inside the commitment.
  EXPECT_EQ(decode_error(3, w.b, 64),
            kPrefix + "LadderStep.commitment: need 64 bytes at offset 159, only 32 available");
}

TEST(KeytransWire, FixedVersionTruncatedInsideVrfProof) {
  Wire w;
  w.header(2).u32(4).u16(80).fill(12, 0x11);
  EXPECT_EQ(decode_error(2, w.b), kPrefix + "LadderStep.vrf_proof: need 80 bytes at offset 65, only 12 available");
}

struct Case {
  const char* name;
  std::uint8_t kind;
  Bytes bytes;
  std::string want;  // without the kind prefix
  std::size_t nc = 32;
};

std::vector<Case> header_cases() {
  Wire h;
  h.header(1);
  Wire incl40;
  incl40.u8(1).u64(0).u64(1).u64(7).fill(32, 0).u16(40).fill(40, 1);
  Wire incl_short;
  incl_short.u8(1).u64(0).u64(1).u64(7).fill(32, 0).u16(64).fill(10, 1);
  return {
      {"empty", 1, {}, "Proof.kind: need 1 bytes at offset 0, only 0 available"},
      {"search got monitor", 1, Wire().u8(3).b, "expected search proof (kind 1), got kind 3"},
      {"monitor got search", 3, Wire().u8(1).b, "expected monitor proof (kind 3), got kind 1"},
      {"fixed got kind 0", 2, Wire().u8(0).fill(100, 0).b, "expected fixed-version proof (kind 2), got kind 0"},
      {"search got 255", 1, Wire().u8(255).b, "expected search proof (kind 1), got kind 255"},
      {"entry_index", 1, h.cut(5), "Proof.entry_index: need 8 bytes at offset 1, only 4 available"},
      {"tree_size", 1, h.cut(9), "Proof.tree_size: need 8 bytes at offset 9, only 0 available"},
      {"timestamp", 2, Wire().header(2).cut(24), "Proof.timestamp: need 8 bytes at offset 17, only 7 available"},
      {"prefix_root", 3, Wire().header(3).cut(56), "Proof.prefix_root: need 32 bytes at offset 25, only 31 available"},
      {"log_inclusion prefix", 1, h.cut(58), "Proof.log_inclusion: need 2 bytes at offset 57, only 1 available"},
      {"log_inclusion content", 1, incl_short.b, "Proof.log_inclusion: need 64 bytes at offset 59, only 10 available"},
      {"log_inclusion 40 bytes", 1, incl40.b, "Proof.log_inclusion: 40 bytes is not a multiple of the 32-byte hash size"},
  };
}

std::vector<Case> body_cases() {
  std::vector<Case> out;
  // search: presence byte, version, ladder, value
  out.push_back({"greatest presence missing", 1, Wire().header(1).b,
                 "SearchProof.greatest_version: need 1 bytes at offset 59, only 0 available"});
  out.push_back({"greatest presence 2", 1, Wire().header(1).u8(2).b,
                 "SearchProof.greatest_version.present must be 0 or 1, got 2"});
  out.push_back({"greatest version short", 1, Wire().header(1).u8(1).u16(0).b,
                 "SearchProof.greatest_version: need 4 bytes at offset 60, only 2 available"});
  out.push_back({"ladder count", 1, Wire().header(1).u8(0).u8(0).b,
                 "Ladder.count: need 2 bytes at offset 60, only 1 available"});
  out.push_back({"revealed missing", 1, Wire().header(1).u8(0).u16(0).b,
                 "RevealedValue.present: need 1 bytes at offset 62, only 0 available"});
  out.push_back({"revealed present 2", 1, Wire().header(1).u8(0).u16(0).u8(2).b,
                 "RevealedValue.present must be 0 or 1, got 2"});
  out.push_back({"revealed value short", 1, Wire().header(1).u8(0).u16(0).u8(1).u32(5).fill(4, 0).b,
                 "RevealedValue.value: need 5 bytes at offset 67, only 4 available"});
  out.push_back({"revealed opening missing", 1, Wire().header(1).u8(0).u16(0).u8(1).u32(0).b,
                 "RevealedValue.opening: need 1 bytes at offset 67, only 0 available"});
  out.push_back({"revealed opening short", 1, Wire().header(1).u8(0).u16(0).u8(1).u32(0).u8(16).fill(15, 0).b,
                 "RevealedValue.opening: need 16 bytes at offset 68, only 15 available"});
  out.push_back({"search trailing", 1, Wire().header(1).u8(0).u16(0).u8(0).u8(9).b,
                 "KeytransSearchProof: 1 trailing byte(s) after struct"});
  out.push_back({"monitor version", 3, Wire().header(3).u16(0).b,
                 "MonitorProof.version: need 4 bytes at offset 59, only 2 available"});
  out.push_back({"monitor trailing", 3, Wire().header(3).u32(0).u16(0).fill(3, 0).b,
                 "KeytransMonitorProof: 3 trailing byte(s) after struct"});
  {
    Wire w;
    w.header(2);
    rung(w, 0, 32).u8(0).u8(0);
    out.push_back({"fixed trailing", 2, w.b, "KeytransFixedVersionProof: 1 trailing byte(s) after struct"});
  }
  // ladder steps (inside a monitor proof: the step starts at offset 65)
  auto step = [](std::uint32_t count = 1) { return Wire().header(3).u32(0).u16(count); };
  out.push_back({"step version", 3, step().u16(0).b, "LadderStep.version: need 4 bytes at offset 65, only 2 available"});
  out.push_back({"second step missing", 3, [&] { Wire w = step(2); rung(w, 0, 32); return w.b; }(),
                 "LadderStep.version: need 4 bytes at offset 191, only 0 available"});
  out.push_back({"vrf proof prefix", 3, step().u32(0).u8(0).b,
                 "LadderStep.vrf_proof: need 2 bytes at offset 69, only 1 available"});
  out.push_back({"prefix proof prefix", 3, step().u32(0).u16(0).b,
                 "LadderStep.prefix_proof: need 2 bytes at offset 71, only 0 available"});
  out.push_back({"prefix proof content", 3, step().u32(0).u16(0).u16(9).fill(3, 0).b,
                 "LadderStep.prefix_proof: need 9 bytes at offset 73, only 3 available"});
  // prefix proofs: offsets count from the first byte of the prefix proof,
  // then from the first byte of `results`
  auto with_prefix = [&](const Bytes& prefix) { return step().u32(0).u16(0).u16(prefix.size()).raw(prefix).u8(0).b; };
  out.push_back({"results prefix", 3, with_prefix({}), "PrefixProof.results: need 1 bytes at offset 0, only 0 available"});
  out.push_back({"results content", 3, with_prefix(Wire().u8(3).u8(1).b),
                 "PrefixProof.results: need 3 bytes at offset 1, only 1 available"});
  out.push_back({"results empty", 3, with_prefix(Wire().u8(0).u16(0).b),
                 "PrefixSearchResult.result_type: need 1 bytes at offset 0, only 0 available"});
  out.push_back({"result type 0", 3, with_prefix(Wire().u8(2).u8(0).u8(0).u16(0).b), "unknown PrefixSearchResultType 0"});
  out.push_back({"result type 4", 3, with_prefix(Wire().u8(2).u8(4).u8(0).u16(0).b), "unknown PrefixSearchResultType 4"});
  out.push_back({"depth missing", 3, with_prefix(Wire().u8(1).u8(3).u16(0).b),
                 "PrefixSearchResult.depth: need 1 bytes at offset 1, only 0 available"});
  out.push_back({"results trailing", 3, with_prefix(Wire().u8(3).u8(1).u8(0).u8(0).u16(0).b),
                 "PrefixProof.results (expected exactly one result): 1 trailing byte(s) after struct"});
  out.push_back({"leaf key short", 3, with_prefix(Wire().u8(20).u8(2).fill(19, 0).u16(0).b),
                 "PrefixLeaf.vrf_output: need 32 bytes at offset 1, only 19 available"});
  out.push_back({"leaf commitment short", 3, with_prefix(Wire().u8(50).u8(2).fill(49, 0).u16(0).b),
                 "PrefixLeaf.commitment: need 32 bytes at offset 33, only 17 available"});
  out.push_back({"leaf commitment short under Nc 64", 3, with_prefix(Wire().u8(66).u8(2).fill(65, 0).u16(0).b),
                 "PrefixLeaf.commitment: need 64 bytes at offset 33, only 33 available", 64});
  out.push_back({"elements prefix", 3, with_prefix(Wire().u8(2).u8(1).u8(0).u8(0).b),
                 "PrefixProof.elements: need 2 bytes at offset 3, only 1 available"});
  out.push_back({"elements 33 bytes", 3, with_prefix(Wire().u8(2).u8(1).u8(1).u16(33).fill(33, 0).b),
                 "PrefixProof.elements: 33 bytes is not a multiple of the 32-byte hash size"});
  out.push_back({"prefix proof trailing", 3, with_prefix(Wire().u8(2).u8(1).u8(0).u16(0).u16(0).b),
                 "PrefixProof: 2 trailing byte(s) after struct"});
  // has_commitment and commitment
  auto after_prefix = [&] {
    Wire w = step();
    w.u32(0).u16(0);
    return inclusion_prefix(w);
  };
  out.push_back({"has_commitment missing", 3, after_prefix().b,
                 "LadderStep.has_commitment: need 1 bytes at offset 78, only 0 available"});
  out.push_back({"has_commitment 2", 3, after_prefix().u8(2).b, "LadderStep.has_commitment must be 0 or 1, got 2"});
  out.push_back({"has_commitment 255", 3, after_prefix().u8(255).b, "LadderStep.has_commitment must be 0 or 1, got 255"});
  out.push_back({"commitment short", 3, after_prefix().u8(1).fill(31, 0).b,
                 "LadderStep.commitment: need 32 bytes at offset 79, only 31 available"});
  return out;
}

TEST(KeytransWire, EveryDecodingMessage) {
  auto cases = header_cases();
  auto body = body_cases();
  cases.insert(cases.end(), body.begin(), body.end());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode_error(c.kind, c.bytes, c.nc), kPrefix + c.want);
  }
}

TEST(KeytransWire, DecodedStructuresAndWidths) {
  // A non-inclusion leaf under Nc = 64, and a commitment of 32 bytes followed
  // by 32 bytes of the next field read as one 64-byte commitment.
  Wire leaf_result;
  leaf_result.u8(2).fill(32, 0x5a).fill(64, 0x6b).u8(7);
  Wire prefix;
  prefix.u8(static_cast<std::uint8_t>(leaf_result.b.size())).raw(leaf_result.b).u16(64).fill(32, 1).fill(32, 2);
  Wire w;
  w.header(2).u32(9).u16(0).u16(prefix.b.size()).raw(prefix.b).u8(1).fill(32, 0xc1).fill(32, 0xc2).u8(0);
  auto p = decode_fixed_version_proof(w.b, 64);
  ASSERT_TRUE(p.has_value()) << p.error().message();
  const auto& r = p->step.prefix_proof.result;
  EXPECT_EQ(r.type, PrefixSearchResultType::NonInclusionLeaf);
  EXPECT_EQ(r.depth, 7);
  ASSERT_TRUE(r.leaf.has_value());
  EXPECT_EQ(Bytes(r.leaf->vrf_output.begin(), r.leaf->vrf_output.end()), Bytes(32, 0x5a));
  EXPECT_EQ(r.leaf->commitment, Bytes(64, 0x6b));
  ASSERT_EQ(p->step.prefix_proof.elements.size(), 2u);
  EXPECT_EQ(p->step.prefix_proof.elements[1][31], 2);
  Bytes want(32, 0xc1);
  want.insert(want.end(), 32, 0xc2);
  EXPECT_EQ(p->step.commitment.value(), want);
  EXPECT_FALSE(p->value.has_value());
  // Under Nc = 32 the same bytes no longer line up.
  EXPECT_NE(decode_error(2, w.b, 32), "decoded");
}

TEST(KeytransWire, OptionalPartsAndEmptyLadders) {
  Wire absent;
  absent.header(1).u8(0).u16(0).u8(0);
  Wire present;
  present.header(1).u8(1).u32(0xfffffffe).u16(0).u8(1).u32(0).u8(0);
  auto a = decode_search_proof(absent.b, 32);
  auto b = decode_search_proof(present.b, 32);
  ASSERT_TRUE(a.has_value() && b.has_value());
  EXPECT_FALSE(a->greatest_version.has_value());
  EXPECT_TRUE(a->ladder.empty());
  EXPECT_FALSE(a->value.has_value());
  EXPECT_EQ(b->greatest_version.value(), 0xfffffffeu);
  ASSERT_TRUE(b->value.has_value());
  EXPECT_TRUE(b->value->value.empty());
  EXPECT_TRUE(b->value->opening.empty());
  // Greatest version absent: the presence byte alone, four bytes shorter.
  Wire absent_with_value;
  absent_with_value.header(1).u8(0).u16(0).u8(1).u32(0).u8(0);
  EXPECT_EQ(present.b.size(), absent_with_value.b.size() + 4);
}

TEST(KeytransWire, BuilderProofsRoundTripAndEveryTruncationFails) {
  for (KeytransSuite suite : kAllKtSuites) {
    SCOPED_TRACE(name_of(suite));
    KeytransDirectory dir(suite, 11);
    const Bytes label = bytes_of("alice");
    for (int i = 0; i < 3; ++i) dir.add_version(label, bytes_of("key-" + std::to_string(i)));
    dir.add_noise(5);
    dir.publish(100);
    dir.publish(200);
    const std::vector<std::pair<std::uint8_t, Bytes>> proofs = {
        {1, kt_encode(dir.search(label, 0))},
        {2, kt_encode(dir.fixed_version(label, 1, 1))},
        {3, kt_encode(dir.monitor(label, 2, 1))},
    };
    for (const auto& [kind, bytes] : proofs) {
      EXPECT_EQ(decode_error(kind, bytes, dir.nc()), "decoded");
      for (std::size_t n = 0; n < bytes.size(); ++n) {
        const std::string e = decode_error(kind, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)), dir.nc());
        ASSERT_NE(e, "decoded") << "prefix of " << n << " bytes";
        ASSERT_EQ(e.rfind(kPrefix, 0), 0u) << e;
      }
      Bytes longer = bytes;
      longer.push_back(0);
      const char* names[] = {"", "KeytransSearchProof", "KeytransFixedVersionProof", "KeytransMonitorProof"};
      EXPECT_EQ(decode_error(kind, longer, dir.nc()), kPrefix + names[kind] + ": 1 trailing byte(s) after struct");
    }
    // Decoded fields equal what the builder encoded.
    const auto want = dir.search(label, 0);
    auto got = decode_search_proof(kt_encode(want), dir.nc());
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->header.entry_index, 0u);
    EXPECT_EQ(got->header.tree_size, 2u);
    EXPECT_EQ(got->header.timestamp, 100u);
    EXPECT_EQ(got->header.log_inclusion, want.header.log_inclusion);
    EXPECT_EQ(got->greatest_version, want.greatest_version);
    ASSERT_EQ(got->ladder.size(), want.ladder.size());
    for (std::size_t i = 0; i < want.ladder.size(); ++i) {
      EXPECT_EQ(got->ladder[i].version, want.ladder[i].version);
      EXPECT_EQ(got->ladder[i].vrf_proof, want.ladder[i].vrf_proof);
      EXPECT_EQ(got->ladder[i].commitment, want.ladder[i].commitment);
      EXPECT_EQ(got->ladder[i].prefix_proof.elements, want.ladder[i].prefix_proof.elements);
    }
    EXPECT_EQ(got->value->value, want.value->value);
    EXPECT_EQ(got->value->opening, want.value->opening);
  }
}

TEST(KeytransWire, HashedEncodings) {
  EXPECT_EQ(to_hex(encode_vrf_input(bytes_of("ab"), 0x01020304).value()), "02616201020304");
  EXPECT_EQ(to_hex(encode_vrf_input({}, 0).value()), "0000000000");
  EXPECT_EQ(to_hex(encode_commitment_value(bytes_of("ab"), 5, bytes_of("xyz")).value()),
            "026162000000050000000378797a");
  EXPECT_EQ(to_hex(encode_commitment_value(bytes_of("l"), 0, {}).value()), "016c0000000000000000");
  EXPECT_EQ(encode_vrf_input(Bytes(255, 'a'), 1).value().size(), 1u + 255 + 4);
  auto long_label = encode_vrf_input(Bytes(256, 'a'), 1);
  ASSERT_FALSE(long_label.has_value());
  EXPECT_EQ(long_label.error().message(), kPrefix + "VrfInput.label: 256 bytes exceeds the <0..2^8-1> vector bound (255)");
  auto long_cv = encode_commitment_value(Bytes(300, 'a'), 1, {});
  ASSERT_FALSE(long_cv.has_value());
  EXPECT_EQ(long_cv.error().message(),
            kPrefix + "CommitmentValue.label: 300 bytes exceeds the <0..2^8-1> vector bound (255)");
}

// A value of 2^32 bytes: reserved address space only, never read, because
// the bound is checked before anything is copied.
TEST(KeytransWire, ValueAboveFourGigabytesIsRejected) {
  const std::size_t n = std::size_t{1} << 32;
  void* p = mmap(nullptr, n, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
  const ByteView huge(static_cast<const std::uint8_t*>(p), n);
  auto r = encode_commitment_value(bytes_of("l"), 0, huge);
  munmap(p, n);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message(), kPrefix + "UpdateValue.value: 4294967296 bytes exceeds the <0..2^32-1> vector bound");
}

}  // namespace
}  // namespace quenfold::test
