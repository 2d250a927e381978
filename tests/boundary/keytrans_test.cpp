// The six KEYTRANS exports, called through the built shared library as a
// foreign caller does.
#include <gtest/gtest.h>

#include "support/boundary.h"
#include "support/keytrans_directory.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

using SearchFn = RustBuffer(RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);
using MonitorFn = void(RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);
using SearchSuiteFn = RustBuffer(uint16_t, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);
using MonitorSuiteFn = void(uint16_t, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);

// The arguments of one call, serialized: context raw, the rest as byte strings.
struct Args {
  Bytes context, vrf_public, root, label, proof;
};

struct Result {
  Outcome outcome;
  Bytes lowered;
  bool zero_return = true;
};

struct KeytransExports : ::testing::Test {
  const Library& lib = Library::instance();
  SearchFn* search = lib.fn<SearchFn>("uniffi_quenfold_log_fn_func_keytrans_verify_search");
  SearchFn* fixed = lib.fn<SearchFn>("uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version");
  MonitorFn* monitor = lib.fn<MonitorFn>("uniffi_quenfold_log_fn_func_keytrans_verify_monitor");
  SearchSuiteFn* search_suite = lib.fn<SearchSuiteFn>("uniffi_quenfold_log_fn_func_keytrans_verify_search_suite");
  SearchSuiteFn* fixed_suite = lib.fn<SearchSuiteFn>("uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version_suite");
  MonitorSuiteFn* monitor_suite = lib.fn<MonitorSuiteFn>("uniffi_quenfold_log_fn_func_keytrans_verify_monitor_suite");

  static Bytes ser(const Bytes& b) { return Ser().bytes(b).out; }

  // Args for a label with three versions in a directory of the suite.
  static Args args_for(KeytransDirectory& d, const std::string& kind, std::uint32_t version = 0) {
    const Bytes label = bytes_of("dana");
    for (int i = 0; i < 3; ++i) d.add_version(label, bytes_of("value-" + std::to_string(i)));
    d.add_noise(4);
    d.publish(42);
    Bytes proof;
    if (kind == "search") proof = kt_encode(d.search(label));
    if (kind == "fixed") proof = kt_encode(d.fixed_version(label, version));
    if (kind == "monitor") proof = kt_encode(d.monitor(label, version));
    const Node r = d.combined_root();
    return {bytes_of(d.context()), ser(d.vrf_public()), ser(Bytes(r.begin(), r.end())), ser(label), ser(proof)};
  }

  Result take(RustBuffer out, RustCallStatus& st) {
    Result r;
    r.zero_return = out.capacity == 0 && out.len == 0 && out.data == nullptr;
    r.lowered = lib.take(out);
    r.outcome = outcome_of(lib, st);
    return r;
  }
  Result call(SearchFn* fn, const Args& a) {
    RustCallStatus st{};
    RustBuffer out = fn(lib.buffer(a.context), lib.buffer(a.vrf_public), lib.buffer(a.root), lib.buffer(a.label),
                        lib.buffer(a.proof), &st);
    return take(out, st);
  }
  Result call(SearchSuiteFn* fn, std::uint16_t id, const Args& a) {
    RustCallStatus st{};
    RustBuffer out = fn(id, lib.buffer(a.context), lib.buffer(a.vrf_public), lib.buffer(a.root), lib.buffer(a.label),
                        lib.buffer(a.proof), &st);
    return take(out, st);
  }
  Outcome call(MonitorFn* fn, const Args& a) {
    RustCallStatus st{};
    fn(lib.buffer(a.context), lib.buffer(a.vrf_public), lib.buffer(a.root), lib.buffer(a.label), lib.buffer(a.proof), &st);
    return outcome_of(lib, st);
  }
  Outcome call(MonitorSuiteFn* fn, std::uint16_t id, const Args& a) {
    RustCallStatus st{};
    fn(id, lib.buffer(a.context), lib.buffer(a.vrf_public), lib.buffer(a.root), lib.buffer(a.label), lib.buffer(a.proof),
       &st);
    return outcome_of(lib, st);
  }
};

// present (u8), optional tag (u8), then i32 length and the bytes.
Bytes lowered_present(const std::string& value) {
  return Ser().u8(1).u8(1).bytes(bytes_of(value)).out;
}

TEST_F(KeytransExports, SuiteFormsVerifyEachSuite) {
  for (KeytransSuite suite : kAllKtSuites) {
    SCOPED_TRACE(name_of(suite));
    const auto id = kt_suite_id(suite);
    KeytransDirectory d1(suite, 1), d2(suite, 1), d3(suite, 1), d4(suite, 1);
    auto r = call(search_suite, id, args_for(d1, "search"));
    ASSERT_EQ(r.outcome.code, 0) << r.outcome.message;
    EXPECT_TRUE(r.outcome.error_buf_zero);
    EXPECT_EQ(r.lowered, lowered_present("value-2"));

    r = call(fixed_suite, id, args_for(d2, "fixed", 1));
    ASSERT_EQ(r.outcome.code, 0) << r.outcome.message;
    EXPECT_EQ(r.lowered, lowered_present("value-1"));

    r = call(fixed_suite, id, args_for(d3, "fixed", 3));
    ASSERT_EQ(r.outcome.code, 0) << r.outcome.message;
    EXPECT_EQ(r.lowered, (Bytes{0, 0}));

    auto m = call(monitor_suite, id, args_for(d4, "monitor", 2));
    EXPECT_EQ(m.code, 0) << m.message;
    EXPECT_TRUE(m.error_buf_zero);
  }
}

TEST_F(KeytransExports, FormsWithoutSuiteRunTheExperimentalSuite) {
  KeytransDirectory d1(KeytransSuite::QuenfoldHybridExp, 2), d2(KeytransSuite::QuenfoldHybridExp, 2),
      d3(KeytransSuite::QuenfoldHybridExp, 2);
  const Args s = args_for(d1, "search");
  auto a = call(search, s);
  auto b = call(search_suite, 0xF000, s);
  ASSERT_EQ(a.outcome.code, 0) << a.outcome.message;
  EXPECT_EQ(a.lowered, b.lowered);
  EXPECT_EQ(call(fixed, args_for(d2, "fixed", 0)).lowered, lowered_present("value-0"));
  EXPECT_EQ(call(monitor, args_for(d3, "monitor", 1)).code, 0);

  // A proof of a standard suite is rejected by the experimental forms.
  KeytransDirectory other(KeytransSuite::Kt128Sha256Ed25519, 2);
  auto c = call(search, args_for(other, "search"));
  EXPECT_EQ(c.outcome.code, 1);
  EXPECT_TRUE(c.zero_return);
}

TEST_F(KeytransExports, VerificationFailures) {
  KeytransDirectory d(KeytransSuite::Kt128Sha256P256, 3);
  Args a = args_for(d, "search");
  Args short_root = a;
  short_root.root = ser(Bytes(31, 0));
  auto r = call(search_suite, 0x0001, short_root);
  EXPECT_EQ(r.outcome.code, 1);
  EXPECT_EQ(r.outcome.message, "malformed keytrans structure: combined root must be 32 bytes, got 31");
  EXPECT_TRUE(r.zero_return);
  EXPECT_TRUE(r.lowered.empty());

  r = call(search_suite, 0x0003, a);
  EXPECT_EQ(r.outcome.code, 1);
  EXPECT_EQ(r.outcome.message, "malformed keytrans structure: unknown keytrans suite id 0x0003");
  auto m = call(monitor_suite, 0xf001, a);
  EXPECT_EQ(m.code, 1);
  EXPECT_EQ(m.message, "malformed keytrans structure: unknown keytrans suite id 0xf001");
  m = call(monitor_suite, 0x0001, a);
  EXPECT_EQ(m.code, 1);
  EXPECT_EQ(m.message, "malformed keytrans structure: expected monitor proof (kind 3), got kind 1");

  Args short_key = a;
  short_key.vrf_public = ser(Bytes(32, 2));
  r = call(search_suite, 0x0001, short_key);
  EXPECT_EQ(r.outcome.message, "vrf error: invalid length: expected 33 bytes, got 32");

  Args empty_proof = a;
  empty_proof.proof = ser({});
  r = call(fixed_suite, 0x0001, empty_proof);
  EXPECT_EQ(r.outcome.code, 1);
  EXPECT_EQ(r.outcome.message, "malformed keytrans structure: Proof.kind: need 1 bytes at offset 0, only 0 available");
}

TEST_F(KeytransExports, LiftingFailuresNameTheFirstBadArgument) {
  KeytransDirectory d(KeytransSuite::Kt128Sha256Ed25519, 4);
  const Args good = args_for(d, "search");
  auto junk = [](Bytes b) {
    b.push_back(7);
    return b;
  };
  struct Case {
    const char* name;
    Args a;
    std::string want;
  };
  Args bad_key = good;
  bad_key.vrf_public = junk(good.vrf_public);
  Args bad_root_and_label = good;
  bad_root_and_label.root = junk(good.root);
  bad_root_and_label.label = Bytes{0, 0};
  Args bad_label = good;
  bad_label.label = Bytes{0, 0, 0, 9, 1};
  Args bad_proof = good;
  bad_proof.proof = Bytes(good.proof.begin(), good.proof.end() - 1);
  const std::vector<Case> cases = {
      {"vrf_public", bad_key, "Failed to convert arg 'vrf_public':\njunk data left in buffer after lifting (count: 1)"},
      {"root before label", bad_root_and_label, "Failed to convert arg 'root':\njunk data left in buffer after lifting (count: 1)"},
      // A byte string is lifted one element at a time: it runs out at its last byte.
      {"label", bad_label, "Failed to convert arg 'label':\nnot enough bytes remaining in buffer (0 < 1)"},
      {"proof", bad_proof, "Failed to convert arg 'proof':\nnot enough bytes remaining in buffer (0 < 1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = call(search, c.a);
    EXPECT_EQ(r.outcome.code, 2);
    EXPECT_EQ(r.outcome.message, c.want);
    EXPECT_TRUE(r.zero_return);
    // Lifting comes before suite selection.
    r = call(search_suite, 0x0009, c.a);
    EXPECT_EQ(r.outcome.code, 2);
    EXPECT_EQ(r.outcome.message, c.want);
    auto m = call(monitor_suite, 0x0002, c.a);
    EXPECT_EQ(m.code, 2);
    EXPECT_EQ(m.message, c.want);
  }
}

}  // namespace
}  // namespace quenfold::test
