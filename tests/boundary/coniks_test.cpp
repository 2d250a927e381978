// The CONIKS exports called through the built shared library.
#include <gtest/gtest.h>

#include <functional>

#include "encoding/text.h"
#include "support/boundary.h"
#include "support/coniks_directory.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

using ConiksFn = RustBuffer(RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);
using ConiksVoidFn = void(RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);

struct ConiksBoundary : ::testing::Test {
  const Library& lib = Library::instance();
  ConiksFn* lookup = lib.fn<ConiksFn>("uniffi_quenfold_log_fn_func_coniks_verify_lookup");
  ConiksVoidFn* absence = lib.fn<ConiksVoidFn>("uniffi_quenfold_log_fn_func_coniks_verify_absence");
  const ConiksDirectory& dir = directory();
  Bytes root = [this] { auto r = dir.root(); return Bytes(r.begin(), r.end()); }();

  static const ConiksDirectory& directory() {
    static const ConiksDirectory d = [] {
      ConiksDirectory out("example.org", 11);
      out.insert(bytes_of("alice"), bytes_of("alice's key"));
      out.insert(bytes_of("bob"), bytes_of("bob's key"));
      out.insert(bytes_of("carol"), Bytes{});
      return out;
    }();
    return d;
  }

  // Serialized arguments: the namespace is a raw UTF-8 string, the rest
  // byte strings.
  struct Args {
    Bytes ns, vrf_public, root, identity, proof;
  };
  Args args(const std::string& identity, const Bytes& proof) {
    return {bytes_of(dir.namespace_name()), Ser().bytes(dir.vrf_public()).out, Ser().bytes(root).out,
            Ser().bytes(bytes_of(identity)).out, Ser().bytes(proof).out};
  }
  std::pair<Outcome, Bytes> call_lookup(const Args& a) {
    RustCallStatus st{};
    RustBuffer r = lookup(lib.buffer(a.ns), lib.buffer(a.vrf_public), lib.buffer(a.root), lib.buffer(a.identity),
                          lib.buffer(a.proof), &st);
    const bool zero = r.capacity == 0 && r.len == 0 && r.data == nullptr;
    Outcome o = outcome_of(lib, st);
    Bytes out = lib.take(r);
    EXPECT_TRUE(o.code == 0 || zero);
    return {o, out};
  }
  Outcome call_absence(const Args& a) {
    RustCallStatus st{};
    absence(lib.buffer(a.ns), lib.buffer(a.vrf_public), lib.buffer(a.root), lib.buffer(a.identity),
            lib.buffer(a.proof), &st);
    return outcome_of(lib, st);
  }
};

TEST_F(ConiksBoundary, PresenceReturnsTheSerializedValue) {
  for (const char* who : {"alice", "bob", "carol"}) {
    const auto [o, out] = call_lookup(args(who, dir.lookup_proof(bytes_of(who))));
    ASSERT_EQ(o.code, 0) << o.message;
    EXPECT_TRUE(o.error_buf_zero);
    const Bytes want = who == std::string("carol") ? Bytes{} : bytes_of(std::string(who) + "'s key");
    EXPECT_EQ(out, Ser().bytes(want).out) << who;
  }
}

TEST_F(ConiksBoundary, AbsenceSucceedsWithStatusUntouched) {
  const Outcome o = call_absence(args("dave", dir.absence_proof(bytes_of("dave"))));
  EXPECT_EQ(o.code, 0) << o.message;
  EXPECT_TRUE(o.error_buf_zero);
}

TEST_F(ConiksBoundary, VerificationFailuresCarryTheMessage) {
  const Bytes good = dir.lookup_proof(bytes_of("alice"));
  Bytes trailing = good;
  trailing.push_back(1);
  auto short_root = args("alice", good);
  short_root.root = Ser().bytes(Bytes(63, 0)).out;
  auto bad_ns = args("alice", good);
  bad_ns.ns = bytes_of("example org");
  // A string argument is taken as given, not validated as UTF-8: the
  // namespace check reports it.
  auto not_utf8 = args("alice", good);
  not_utf8.ns = {0x61, 0xff};
  auto short_key = args("alice", good);
  short_key.vrf_public = Ser().bytes(Bytes(31, 0)).out;
  struct Case {
    const char* name;
    Args a;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"bad namespace", bad_ns,
       "malformed namespace: namespace must be non-empty printable ASCII without '/': \"example org\""},
      {"namespace not utf-8", not_utf8,
       "malformed namespace: namespace must be non-empty printable ASCII without '/': " +
           encoding::quoted(std::string("a\xff"))},
      {"short root", short_root, "coniks root must be exactly 64 bytes"},
      {"absence proof", args("dave", dir.absence_proof(bytes_of("dave"))),
       "malformed coniks proof: expected presence tag 0x01, got 0x00"},
      {"trailing byte", args("alice", trailing), "malformed coniks proof: trailing bytes after authentication path"},
      {"short key", short_key, "vrf error: invalid length: expected 32 bytes, got 31"},
      {"wrong identity", args("bob", good), "vrf proof did not verify against the namespace public key"},
  };
  for (const auto& c : cases) {
    const auto [o, out] = call_lookup(c.a);
    EXPECT_EQ(o.code, 1) << c.name;
    EXPECT_EQ(o.message, c.want) << c.name;
    EXPECT_TRUE(out.empty()) << c.name;
  }
  auto wrong_root = args("alice", good);
  Bytes r = root;
  r[0] ^= 1;
  wrong_root.root = Ser().bytes(r).out;
  const Outcome o = call_absence(args("alice", good));
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.message, "malformed coniks proof: expected absence tag 0x00, got 0x01");
  const auto [o2, out2] = call_lookup(wrong_root);
  EXPECT_EQ(o2.code, 1);
  EXPECT_EQ(o2.message, "coniks proof root mismatch: recomputed directory root does not match the expected root");
  auto absent_wrong_root = args("dave", dir.absence_proof(bytes_of("dave")));
  absent_wrong_root.root = wrong_root.root;
  EXPECT_EQ(call_absence(absent_wrong_root).message,
            "coniks proof root mismatch: recomputed directory root does not match the expected root");
}

TEST_F(ConiksBoundary, LiftingFailuresNameTheArgument) {
  const Bytes good = dir.lookup_proof(bytes_of("alice"));
  auto junk = [](Bytes v) {
    v.insert(v.end(), {1, 2});
    return v;
  };
  struct Case {
    const char* name;
    std::function<void(Args&)> mutate;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"junk after key", [&](Args& a) { a.vrf_public = junk(a.vrf_public); },
       "Failed to convert arg 'vrf_public':\njunk data left in buffer after lifting (count: 2)"},
      {"short root buffer", [](Args& a) { a.root = {0, 0, 0, 64, 1}; },
       "Failed to convert arg 'root':\nnot enough bytes remaining in buffer (0 < 1)"},
      {"identity before proof", [&](Args& a) {
         a.identity = junk(a.identity);
         a.proof = {};
       },
       "Failed to convert arg 'identity':\njunk data left in buffer after lifting (count: 2)"},
      {"empty proof buffer", [](Args& a) { a.proof = {}; },
       "Failed to convert arg 'proof':\nnot enough bytes remaining in buffer (0 < 4)"},
  };
  for (const auto& c : cases) {
    auto a = args("alice", good);
    c.mutate(a);
    const auto [o, out] = call_lookup(a);
    EXPECT_EQ(o.code, 2) << c.name;
    EXPECT_EQ(o.message, c.want) << c.name;
    EXPECT_EQ(call_absence(a).message, c.want) << c.name;
  }
}

}  // namespace
}  // namespace quenfold::test
