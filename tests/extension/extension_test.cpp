// libquenfold_log_ext called as a foreign caller does: object handles for
// verifier lists, witness policies and checkpoint verifiers, their answers
// compared with the C++ API's, rejections as structured errors, refused
// handles, and handles freed while calls run on other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ffi/buffer.h"
#include "ffi/extension/values.h"
#include "quenfold/add_checkpoint.h"
#include "quenfold/checkpoint_verifier.h"
#include "quenfold/error.h"
#include "quenfold/tlog_proof.h"
#include "support/extension_library.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/serialize.h"
#include "support/witness.h"

namespace quenfold::test::extension {
namespace {

constexpr std::string_view kOrigin = "log.example/ext";
const std::string kPrefix = "uniffi_quenfold_log_ext_fn_";

using Handle = std::uint64_t;

ExtLibrary& lib() { return ExtLibrary::instance(); }

// One call's status: code, and the error buffer's bytes (freed).
struct Status {
  int code = 0;
  std::vector<std::uint8_t> error;
};
Status status_of(RustCallStatus& st) {
  Status s{st.code, {}};
  if (st.code != 0) s.error = lib().take(st.error_buf);
  st = RustCallStatus{};
  return s;
}
std::string text_of(const Status& s) { return {s.error.begin(), s.error.end()}; }
StructuredError error_of(const Status& s) {
  WireReader r(s.error);
  auto e = read_error(r);
  EXPECT_TRUE(r.done()) << "bytes left after the error";
  return e;
}

Handle parse_keys(const std::vector<std::string>& keys, Status* status = nullptr) {
  RustCallStatus st{};
  const Handle h = lib().fn<Handle(RustBuffer, RustCallStatus*)>(kPrefix + "constructor_verifierlist_parse")(
      lib().buffer(Ser{}.string_list(keys).out), &st);
  const Status s = status_of(st);
  if (status != nullptr) *status = s;
  return h;
}

Handle verifier_with_keys(std::string_view origin, Handle keys) {
  RustCallStatus st{};
  const Handle h = lib().fn<Handle(RustBuffer, Handle, RustCallStatus*)>(
      kPrefix + "constructor_checkpointverifier_with_keys")(lib().buffer(origin), keys, &st);
  EXPECT_EQ(status_of(st).code, 0);
  return h;
}

void free_handle(const std::string& object, Handle h) {
  RustCallStatus st{};
  lib().fn<void(Handle, RustCallStatus*)>(kPrefix + "free_" + object)(h, &st);
  EXPECT_EQ(status_of(st).code, 0) << object;
}

// verify through a handle: the decoded checkpoint or the status.
struct Verified {
  std::string origin;
  std::uint64_t size = 0;
  std::vector<std::uint8_t> root;
  std::vector<std::string> log_signers, cosigners;
  std::vector<std::uint64_t> cosigned_at;
};
void read_signers(WireReader& r, std::vector<std::string>& names, std::vector<std::uint64_t>* times = nullptr) {
  for (std::int32_t n = r.i32(); n > 0; --n) {
    names.push_back(r.string());
    r.u32();                        // key id
    const std::int32_t type = r.i32();
    EXPECT_TRUE(type >= 1 && type <= 5) << type;
    if (r.u8() == 1) {  // seconds
      const std::uint64_t t = r.u64();
      if (times != nullptr) times->push_back(t);
    }
    if (r.u8() == 1) r.u64();  // milliseconds
    EXPECT_EQ(r.u8(), type == 4 ? 0 : 1) << "only rfc6962 signatures leave the origin uncovered";
  }
}
Verified read_verified(WireReader& r) {
  Verified v;
  v.origin = r.string();
  v.size = r.u64();
  v.root = r.bytes();
  for (std::int32_t n = r.i32(); n > 0; --n) r.string();  // extensions
  read_signers(r, v.log_signers);
  read_signers(r, v.cosigners, &v.cosigned_at);
  return v;
}
std::pair<std::optional<Verified>, Status> verify(const std::string& method, Handle verifier, std::string_view note) {
  RustCallStatus st{};
  const RustBuffer out = lib().fn<RustBuffer(Handle, RustBuffer, RustCallStatus*)>(
      kPrefix + "method_checkpointverifier_" + method)(verifier, lib().buffer(note), &st);
  Status s = status_of(st);
  if (s.code != 0) return {std::nullopt, s};
  WireReader r(lib().take(out));
  auto v = read_verified(r);
  EXPECT_TRUE(r.done());
  return {v, s};
}

struct Log {
  NoteSigner signer = NoteSigner::ed25519(std::string(kOrigin), 41);
  NoteSigner other = NoteSigner::ed25519("log.example/other", 42);
  MerkleTree tree;
  Log() {
    for (std::uint8_t i = 0; i < 13; ++i) tree.append({i, 0x5a});
  }
  std::string body(std::uint64_t size, std::string_view origin = kOrigin) const {
    const auto root = tree.root(size);
    return checkpoint_body(origin, size, Bytes(root.begin(), root.end()));
  }
  std::string note(std::uint64_t size, std::string_view origin = kOrigin) const {
    return signed_note(body(size, origin), {&signer});
  }
};

TEST(Extension, CheckpointVerifierHandleAgreesWithTheCxxApi) {
  const Log log;
  const Handle keys = parse_keys({log.signer.verifier_key(), log.other.verifier_key()});
  ASSERT_NE(keys, 0u);
  const Handle verifier = verifier_with_keys(kOrigin, keys);
  free_handle("verifierlist", keys);  // the verifier holds its own reference to the keys

  const auto cxx = CheckpointVerifier(std::string(kOrigin),
                                      *VerifierList::parse(std::vector<std::string>{log.signer.verifier_key()}));
  for (std::uint64_t size : {1u, 7u, 13u}) {
    const auto [got, status] = verify("verify", verifier, log.note(size));
    ASSERT_TRUE(got.has_value()) << text_of(status);
    const auto want = cxx.verify(log.note(size));
    ASSERT_TRUE(want.has_value());
    EXPECT_EQ(got->origin, want->head.origin);
    EXPECT_EQ(got->size, want->head.size);
    EXPECT_EQ(got->root, want->head.root);
    EXPECT_EQ(got->log_signers, std::vector<std::string>{log.signer.name()});
  }
  free_handle("checkpointverifier", verifier);
}

TEST(Extension, RejectionsCarryTheirKindAndFields) {
  const Log log;
  const Handle keys = parse_keys({log.signer.verifier_key()});
  const Handle verifier = verifier_with_keys(kOrigin, keys);
  std::string forged = log.note(7);
  forged.replace(forged.find("\n7\n"), 3, "\n8\n");
  struct Case {
    std::string what, note;
    std::string variant;
    std::vector<FieldValue> fields;
  };
  const std::vector<Case> cases = {
      {"another origin", log.note(7, "log.example/elsewhere"), "OriginMismatch",
       {std::string("log.example/elsewhere"), std::string(kOrigin)}},
      {"a forged size", forged, "InvalidSignature",
       {log.signer.name(), std::uint64_t{log.signer.key_id()}}},
      {"an unknown signer", signed_note(log.body(7), {&log.other}), "NoTrustedSignature", {}},
  };
  const CheckpointVerifier cxx(std::string(kOrigin), *VerifierList::parse(std::vector<std::string>{log.signer.verifier_key()}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [got, status] = verify("verify", verifier, c.note);
    ASSERT_FALSE(got.has_value());
    ASSERT_EQ(status.code, 1);
    const auto e = error_of(status);
    EXPECT_EQ(e.variant, c.variant);
    EXPECT_EQ(e.fields, c.fields);
    EXPECT_EQ(e.message, cxx.verify(c.note).error().message());
  }
  free_handle("checkpointverifier", verifier);
  free_handle("verifierlist", keys);
}

TEST(Extension, AMalformedKeyIsNamedByPosition) {
  const Log log;
  Status status;
  const Handle h = parse_keys({log.signer.verifier_key(), "no-plus"}, &status);
  EXPECT_EQ(h, 0u);
  ASSERT_EQ(status.code, 1);
  const auto e = error_of(status);
  EXPECT_EQ(e.variant, "MalformedVerifierKey");
  ASSERT_EQ(e.fields.size(), 3u);
  EXPECT_EQ(e.fields[0], FieldValue(std::uint64_t{2}));
  EXPECT_EQ(e.fields[1], FieldValue(std::string("no-plus")));
  EXPECT_EQ(e.message, VerifierList::parse(std::vector<std::string>{log.signer.verifier_key(), "no-plus"}).error().message());
}

TEST(Extension, RefusesHandlesItDidNotMake) {
  const Log log;
  const Handle keys = parse_keys({log.signer.verifier_key()});
  RustCallStatus st{};
  const Handle policy = lib().fn<Handle(RustBuffer, RustCallStatus*)>(kPrefix + "constructor_witnesspolicy_parse")(
      lib().buffer("log " + log.signer.verifier_key() + "\nquorum none\n"), &st);
  ASSERT_EQ(status_of(st).code, 0);
  auto size = lib().fn<std::uint64_t(Handle, RustCallStatus*)>(kPrefix + "method_verifierlist_size");
  EXPECT_EQ(size(keys, &st), 1u);
  EXPECT_EQ(status_of(st).code, 0);
  struct Case {
    std::string what;
    Handle handle;
  };
  for (const Case& c : {Case{"zero", 0}, Case{"misaligned", keys + 1}, Case{"a policy", policy}}) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(size(c.handle, &st), 0u);
    const Status s = status_of(st);
    EXPECT_EQ(s.code, 2);
    EXPECT_EQ(text_of(s), "Failed to convert arg 'self':\ninvalid VerifierList handle");
    lib().fn<void(Handle, RustCallStatus*)>(kPrefix + "free_verifierlist")(c.handle, &st);
    const Status f = status_of(st);
    EXPECT_EQ(f.code, 2);
    EXPECT_EQ(text_of(f), "invalid VerifierList handle");
  }
  // A policy's own keys come back as a new list handle.
  const Handle logs = lib().fn<Handle(Handle, RustCallStatus*)>(kPrefix + "method_witnesspolicy_logs")(policy, &st);
  ASSERT_EQ(status_of(st).code, 0);
  EXPECT_EQ(size(logs, &st), 1u);
  free_handle("verifierlist", logs);
  free_handle("witnesspolicy", policy);
  free_handle("verifierlist", keys);
}

TEST(Extension, FreeingAHandleWhileCallsRunIsHarmless) {
  const Log log;
  const Handle keys = parse_keys({log.signer.verifier_key()});
  const Handle original = verifier_with_keys(kOrigin, keys);
  free_handle("verifierlist", keys);
  RustCallStatus st{};
  auto clone = lib().fn<Handle(Handle, RustCallStatus*)>(kPrefix + "clone_checkpointverifier");
  std::vector<Handle> clones;
  for (int i = 0; i < 4; ++i) clones.push_back(clone(original, &st));
  ASSERT_EQ(status_of(st).code, 0);
  std::atomic<int> verified{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  const std::string note = log.note(13);
  for (const Handle h : clones) {
    threads.emplace_back([&, h] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < 25; ++i)
        if (verify("verify", h, note).first) ++verified;
      free_handle("checkpointverifier", h);
    });
  }
  go = true;
  free_handle("checkpointverifier", original);  // while the clones' calls run
  for (auto& t : threads) t.join();
  EXPECT_EQ(verified.load(), 100);
}

TEST(Extension, WitnessPolicyOpensWithTimestamps) {
  const Log log;
  const Cosigner w1 = Cosigner::generate("witness.example/1", 7), w2 = Cosigner::generate("witness.example/2", 8);
  const std::string policy_text = "log " + log.signer.verifier_key() + "\nwitness w1 " + w1.verifier_key() +
                                  "\nwitness w2 " + w2.verifier_key() + "\ngroup g 1 w1 w2\nquorum g\n";
  RustCallStatus st{};
  const Handle policy = lib().fn<Handle(RustBuffer, RustCallStatus*)>(kPrefix + "constructor_witnesspolicy_parse")(
      lib().buffer(policy_text), &st);
  ASSERT_EQ(status_of(st).code, 0);
  const std::string body = log.body(9);
  const std::string cosigned = signed_note(body, {&log.signer}) + w2.cosignature_line(body, 1234);
  const RustBuffer out = lib().fn<RustBuffer(Handle, RustBuffer, RustCallStatus*)>(
      kPrefix + "method_witnesspolicy_open")(policy, lib().buffer(cosigned), &st);
  ASSERT_EQ(status_of(st).code, 0);
  WireReader r(lib().take(out));
  EXPECT_EQ(r.string(), body);
  std::vector<std::string> logs, cosigners;
  std::vector<std::uint64_t> times;
  read_signers(r, logs);
  read_signers(r, cosigners, &times);
  EXPECT_TRUE(r.done());
  EXPECT_EQ(logs, std::vector<std::string>{log.signer.name()});
  EXPECT_EQ(cosigners, std::vector<std::string>{w2.name()});
  EXPECT_EQ(times, std::vector<std::uint64_t>{1234});

  // A verifier under the policy: the quorum is required.
  const Handle verifier = lib().fn<Handle(RustBuffer, Handle, RustCallStatus*)>(
      kPrefix + "constructor_checkpointverifier_with_policy")(lib().buffer(kOrigin), policy, &st);
  ASSERT_EQ(status_of(st).code, 0);
  free_handle("witnesspolicy", policy);
  EXPECT_TRUE(verify("verify", verifier, cosigned).first.has_value());
  const auto [bare, status] = verify("verify", verifier, log.note(9));
  ASSERT_EQ(status.code, 1);
  EXPECT_EQ(error_of(status).variant, "WitnessQuorumNotMet");
  EXPECT_TRUE(verify("verify_log_signature", verifier, log.note(9)).first.has_value());
  free_handle("checkpointverifier", verifier);
}

TEST(Extension, InclusionsUnderOneHead) {
  const Log log;
  const auto root = log.tree.root(13);
  Ser head;
  head.string(kOrigin).raw({0, 0, 0, 0, 0, 0, 0, 13}).bytes(Bytes(root.begin(), root.end())).i32(0);
  struct Case {
    std::uint64_t index;
    std::uint64_t leaf;  // the leaf whose hash is claimed at index
    std::uint64_t proof_of;
    std::string variant;  // empty: holds
  };
  const std::vector<Case> cases = {
      {0, 0, 0, ""}, {12, 12, 12, ""}, {5, 6, 5, "RootMismatch"}, {13, 12, 12, "LeafIndexOutOfRange"}};
  Ser proofs;
  proofs.i32(static_cast<std::int32_t>(cases.size()));
  for (const auto& c : cases) {
    Bytes index;
    for (int i = 7; i >= 0; --i) index.push_back(static_cast<std::uint8_t>(c.index >> (8 * i)));
    const auto& leaf = log.tree.leaf_hash(c.leaf);
    proofs.raw(index).bytes(Bytes(leaf.begin(), leaf.end())).bytes_list(log.tree.inclusion_proof(c.proof_of, 13));
  }
  RustCallStatus st{};
  const RustBuffer out = lib().fn<RustBuffer(RustBuffer, RustBuffer, RustCallStatus*)>(
      kPrefix + "func_verify_inclusions")(lib().buffer(head.out), lib().buffer(proofs.out), &st);
  ASSERT_EQ(status_of(st).code, 0);
  WireReader r(lib().take(out));
  ASSERT_EQ(r.i32(), static_cast<std::int32_t>(cases.size()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    const bool failed = r.u8() == 1;
    EXPECT_EQ(failed, !c.variant.empty());
    if (failed) {
      EXPECT_EQ(read_error(r).variant, c.variant);
    }
  }
  EXPECT_TRUE(r.done());
}

// A tlog proof through the ABI: the same index, extra data and head as the
// C++ API, and a proof that fails is the C++ API's rejection.
TEST(Extension, TlogProofAgreesWithTheCxxApi) {
  const Log log;
  const Handle keys = parse_keys({log.signer.verifier_key()});
  const Handle verifier = verifier_with_keys(kOrigin, keys);
  free_handle("verifierlist", keys);
  const CheckpointVerifier cxx(std::string(kOrigin), verifier_list({log.signer.verifier_key()}));
  const auto leaf = log.tree.leaf_hash(6);
  auto bent = log.tree.inclusion_proof(6, 13);
  bent[0][0] ^= 1;
  const std::string extra = "extra data";
  const std::string good = tlog_proof_text(Bytes(extra.begin(), extra.end()), 6, log.tree.inclusion_proof(6, 13),
                                           log.note(13));
  auto call =
      lib().fn<RustBuffer(RustBuffer, Handle, RustBuffer, RustCallStatus*)>(kPrefix + "func_verify_tlog_proof");
  for (const std::string& text : {good, tlog_proof_text(std::nullopt, 6, bent, log.note(13))}) {
    const auto want = verify_tlog_proof(text, cxx, leaf);
    RustCallStatus st{};
    const RustBuffer out =
        call(lib().buffer(text), verifier, lib().buffer(Ser{}.bytes(Bytes(leaf.begin(), leaf.end())).out), &st);
    const Status s = status_of(st);
    if (!want) {
      ASSERT_EQ(s.code, 1);
      EXPECT_EQ(error_of(s).message, want.error().message());
      continue;
    }
    ASSERT_EQ(s.code, 0) << text_of(s);
    WireReader r(lib().take(out));
    EXPECT_EQ(r.u64(), want->index);
    ASSERT_EQ(r.u8(), 1);
    EXPECT_EQ(r.bytes(), *want->extra);
    const Verified v = read_verified(r);
    EXPECT_TRUE(r.done());
    EXPECT_EQ(v.size, 13u);
    EXPECT_EQ(v.root, want->checkpoint.head.root);
    EXPECT_EQ(v.log_signers, std::vector<std::string>{std::string(kOrigin)});
  }
  free_handle("checkpointverifier", verifier);
}

// add-checkpoint's stored state arrives as optional<record WitnessState>:
// nothing, or a size and a root. Its status crosses as the enum's variant
// (from 1, in the order of the HTTP statuses), and a tag that is neither 0
// nor 1, or bytes after the value, fail as any other argument does.
TEST(Extension, AddCheckpointStoredStateAndStatus) {
  const Log log;
  const Handle keys = parse_keys({log.signer.verifier_key()});
  const Handle verifier = verifier_with_keys(kOrigin, keys);
  free_handle("verifierlist", keys);
  const auto root8 = log.tree.root(8);
  const Bytes stored8 = Ser{}.u8(1).raw({0, 0, 0, 0, 0, 0, 0, 8}).bytes(Bytes(root8.begin(), root8.end())).out;
  const std::string append = add_checkpoint_request(8, log.tree.consistency_proof(8, 13), log.note(13));
  struct Case {
    const char* what;
    Bytes stored;
    std::string request;
    int code;
    std::int32_t variant;  // status: 1 Ok .. 6 UnprocessableEntity
    std::string text;      // reason, or the call's error text
  };
  const std::vector<Case> cases = {
      {"nothing stored", {0}, add_checkpoint_request(0, {}, log.note(8)), 0, 1, "cosign \"log.example/ext\" at size 8"},
      {"stored 8", stored8, append, 0, 1, "cosign \"log.example/ext\" at size 13"},
      {"conflict", {0}, append, 0, 5, "old size 8 is not the stored size 0"},
      {"another origin", {0},
       add_checkpoint_request(0, {}, signed_note(log.body(8, "log.example/other"), {&log.signer})), 0, 4,
       "unknown origin \"log.example/other\""},
      {"tag 2", {2}, append, 2, 0, "Failed to convert arg 'stored':\nunexpected tag byte for Option"},
      {"trailing byte", Ser{}.u8(0).u8(0).out, append, 2, 0,
       "Failed to convert arg 'stored':\njunk data left in buffer after lifting (count: 1)"},
  };
  auto call = lib().fn<RustBuffer(RustBuffer, Handle, RustBuffer, RustCallStatus*)>(
      kPrefix + "func_check_add_checkpoint");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RustCallStatus st{};
    const RustBuffer out = call(lib().buffer(c.stored), verifier, lib().buffer(c.request), &st);
    const Status s = status_of(st);
    ASSERT_EQ(s.code, c.code) << text_of(s);
    if (c.code != 0) {
      EXPECT_EQ(text_of(s), c.text);
      continue;
    }
    WireReader r(lib().take(out));
    EXPECT_EQ(r.i32(), c.variant);
    EXPECT_EQ(r.string(), c.text);
    const bool had_previous = r.u8() == 1;
    EXPECT_EQ(had_previous, c.stored[0] == 1);
    if (had_previous) {
      EXPECT_EQ(r.u64(), 8u);
      EXPECT_EQ(r.bytes(), Bytes(root8.begin(), root8.end()));
    }
    const bool has_next = r.u8() == 1;
    EXPECT_EQ(has_next, c.variant == 1);
    if (has_next) {
      const std::uint64_t size = r.u64();
      const auto root = log.tree.root(size);
      EXPECT_EQ(r.bytes(), Bytes(root.begin(), root.end()));
      ASSERT_EQ(r.u8(), 1);
      EXPECT_EQ(read_verified(r).size, size);
      EXPECT_EQ(r.string(), log.body(size));
    } else {
      EXPECT_EQ(r.u8(), 0);
      EXPECT_EQ(r.string(), "");
    }
    EXPECT_TRUE(r.done());
  }
  free_handle("checkpointverifier", verifier);
}

TEST(Extension, ABrokenChainNamesItsLink) {
  const Log log;
  const Handle keys = parse_keys({log.signer.verifier_key()});
  const Handle verifier = verifier_with_keys(kOrigin, keys);
  free_handle("verifierlist", keys);
  auto chain = lib().fn<RustBuffer(Handle, RustBuffer, RustBuffer, RustCallStatus*)>(
      kPrefix + "method_checkpointverifier_verify_chain");
  const std::vector<std::string> notes = {log.note(3), log.note(8), log.note(13)};
  const auto good = {log.tree.consistency_proof(3, 8), log.tree.consistency_proof(8, 13)};
  auto proofs = [&](bool break_second) {
    Ser s;
    s.i32(2);
    int i = 0;
    for (auto p : good) {
      if (break_second && i == 1) p[0][0] ^= 1;
      s.bytes_list(p);
      ++i;
    }
    return s.out;
  };
  RustCallStatus st{};
  const RustBuffer out = chain(verifier, lib().buffer(Ser{}.string_list(notes).out), lib().buffer(proofs(false)), &st);
  ASSERT_EQ(status_of(st).code, 0);
  WireReader r(lib().take(out));
  ASSERT_EQ(r.i32(), 3);
  for (std::uint64_t size : {3u, 8u, 13u}) EXPECT_EQ(read_verified(r).size, size);
  EXPECT_TRUE(r.done());

  chain(verifier, lib().buffer(Ser{}.string_list(notes).out), lib().buffer(proofs(true)), &st);
  const Status s = status_of(st);
  ASSERT_EQ(s.code, 1);
  const auto e = error_of(s);
  EXPECT_EQ(e.variant, "BrokenChain");
  ASSERT_EQ(e.fields.size(), 2u);
  EXPECT_EQ(e.fields[0], FieldValue(std::uint64_t{2}));
  EXPECT_EQ(e.fields[1], FieldValue(std::string("root mismatch: recomputed root does not match the expected root")));
  free_handle("checkpointverifier", verifier);
}

// Every kind lowered by the extension's error lowering, read back with the
// tests' own variant table: its variant, fields in order, and message.
TEST(ExtensionErrors, EveryKindLowersItsFields) {
  using V = std::vector<FieldValue>;
  const std::string s = "detail text";
  struct Case {
    Error error;
    V fields;
  };
  const std::vector<Case> cases = {
      {Error::leaf_index_out_of_range(9, 4), V{std::uint64_t{9}, std::uint64_t{4}}},
      {Error::wrong_proof_size(3, 5), V{std::uint64_t{3}, std::uint64_t{5}}},
      {Error::invalid_hash_length(31, 32), V{std::uint64_t{31}, std::uint64_t{32}}},
      {Error::root_mismatch(), V{}},
      {Error::empty_tree_consistency(), V{}},
      {Error::tree_size_regression(8, 2), V{std::uint64_t{8}, std::uint64_t{2}}},
      {Error::equal_sizes_non_empty_proof(), V{}},
      {Error::malformed_canonical_leaf(s), V{s}},
      {Error::malformed_checkpoint(s), V{s}},
      {Error::malformed_signed_note(s), V{s}},
      {Error::invalid_signature("key \"x\"", 0xdeadbeef), V{std::string("key \"x\""), std::uint64_t{0xdeadbeef}}},
      {Error::no_trusted_signature(), V{}},
      {Error::malformed_namespace(s), V{s}},
      {Error::vrf(s), V{s}},
      {Error::vrf_proof_invalid(), V{}},
      {Error::commitment_mismatch(), V{}},
      {Error::malformed_coniks_proof(s), V{s}},
      {Error::coniks_root_mismatch(), V{}},
      {Error::malformed_policy(s), V{s}},
      {Error::posture_mismatch("Cat3", "Cat5"), V{std::string("Cat3"), std::string("Cat5")}},
      {Error::malformed_keytrans(s), V{s}},
      {Error::keytrans_root_mismatch(), V{}},
      {Error::wrong_fixed_length("root", 32), V{std::string("root"), std::uint64_t{32}}},
      {Error::malformed_verifier_key(2, "k", "bad"), V{std::uint64_t{2}, std::string("k"), std::string("bad")}},
      {Error::origin_mismatch("a", "b"), V{std::string("a"), std::string("b")}},
      {Error::malformed_witness_policy(4, s), V{std::uint64_t{4}, s}},
      {Error::witness_quorum_not_met(s), V{s}},
      {Error::broken_chain(3, Error::root_mismatch()),
       V{std::uint64_t{3}, std::string("root mismatch: recomputed root does not match the expected root")}},
      {Error::log_signatures_not_met(1, 2), V{std::uint64_t{1}, std::uint64_t{2}}},
      {Error::malformed_tlog_proof(s), V{s}},
      {Error::malformed_tile_path("tile/0", s), V{std::string("tile/0"), s}},
      {Error::malformed_tile("tile/0/000", s), V{std::string("tile/0/000"), s}},
      {Error::tile_hash_mismatch("tile/0/000", s), V{std::string("tile/0/000"), s}},
      {Error::tile_missing("tile/1/000"), V{std::string("tile/1/000")}},
      {Error::tree_too_large(5, 4), V{std::uint64_t{5}, std::uint64_t{4}}},
      {Error::invalid_subtree(2, 6), V{std::uint64_t{2}, std::uint64_t{6}}},
  };
  ASSERT_EQ(cases.size(), error_variants().size()) << "one row per kind";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(error_variants()[i].name);
    EXPECT_EQ(static_cast<std::size_t>(c.error.kind()), i) << "rows follow the kinds' order";
    const RustBuffer b = ffi::lower_structured_error(c.error);
    WireReader r(std::vector<std::uint8_t>(b.data, b.data + b.len));
    ffi::release(b);
    const auto e = read_error(r);
    EXPECT_TRUE(r.done());
    EXPECT_EQ(e.variant, error_variants()[i].name);
    EXPECT_EQ(e.fields, c.fields);
    EXPECT_EQ(e.message, c.error.message());
  }
}

}  // namespace
}  // namespace quenfold::test::extension
