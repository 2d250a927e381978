// Every export called from 8 threads at once through the C ABI, valid and
// invalid inputs mixed: each answer (status code, error buffer, result
// bytes) must equal the answer the same call gave on one thread. Built and
// run under ThreadSanitizer by scripts/run-tests (build-tsan), where a data
// race anywhere on these paths fails the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "commitment/commitment.h"
#include "ffi/buffer.h"
#include "quenfold_log.h"
#include "support/coniks_directory.h"
#include "support/merkle_tree.h"
#include "support/keytrans_directory.h"
#include "support/notes.h"
#include "support/policy_builder.h"
#include "support/serialize.h"

namespace quenfold::test {
namespace {

struct Answer {
  std::int8_t code = 0;
  Bytes error;   // the error buffer's bytes (code 1 and 2)
  Bytes result;  // the lowered result's bytes, or the scalar's bytes
  bool operator==(const Answer&) const = default;
};

Bytes take(RustBuffer b) {
  Bytes out;
  if (b.data != nullptr) out.assign(b.data, b.data + b.len);
  ffi::release(b);
  return out;
}

Answer finish(RustCallStatus& st, Bytes result) {
  Answer a;
  a.code = st.code;
  if (st.code != 0) a.error = take(st.error_buf);
  st = RustCallStatus{};  // the status may be reused for the next call
  a.result = std::move(result);
  return a;
}

RustBuffer buf(const Bytes& b) { return ffi::buffer_from(b); }
RustBuffer text(std::string_view s) { return ffi::buffer_from(s); }
Bytes ser_bytes(const Bytes& b) { return Ser().bytes(b).out; }
template <class C>
Bytes ser_list(const C& items) {
  return Ser().bytes_list(items).out;
}
Bytes ser_strings(const std::vector<std::string>& s) { return Ser().string_list(s).out; }
Bytes hb(const Hash& h) { return {h.begin(), h.end()}; }

struct Case {
  std::string name;
  std::function<Answer()> call;
};

// The calls of one export family, each a fresh set of argument buffers per
// call (the library takes them over).
std::vector<Case> merkle_cases() {
  static const MerkleTree tree = [] {
    MerkleTree t;
    for (int i = 0; i < 37; ++i) t.append({static_cast<std::uint8_t>(i), 1});
    return t;
  }();
  std::vector<Case> out;
  for (std::uint64_t i : {0u, 20u, 36u}) {
    for (bool good : {true, false}) {
      Bytes root = hb(tree.root());
      if (!good) root[5] ^= 1;
      const Bytes leaf = ser_bytes(hb(tree.leaf_hash(i))), proof = ser_list(tree.inclusion_proof(i, 37)),
                  r = ser_bytes(root);
      out.push_back({"inclusion", [=] {
                       RustCallStatus st{};
                       uniffi_quenfold_log_fn_func_verify_inclusion(i, 37, buf(leaf), buf(proof), buf(r), &st);
                       return finish(st, {});
                     }});
    }
  }
  for (std::uint64_t m : {1u, 13u}) {
    for (bool good : {true, false}) {
      auto proof = tree.consistency_proof(m, 37);
      if (!good) proof.pop_back();
      const Bytes p = ser_list(proof), r1 = ser_bytes(hb(tree.root(m))), r2 = ser_bytes(hb(tree.root()));
      out.push_back({"consistency", [=] {
                       RustCallStatus st{};
                       uniffi_quenfold_log_fn_func_verify_consistency(m, 37, buf(p), buf(r1), buf(r2), &st);
                       return finish(st, {});
                     }});
    }
  }
  // A lifting failure: a list count larger than the buffer.
  out.push_back({"inclusion-lift", [] {
                   RustCallStatus st{};
                   const Bytes h = ser_bytes(Bytes(32, 1)), lying = {0, 0, 0, 9, 0, 0, 0, 1};
                   uniffi_quenfold_log_fn_func_verify_inclusion(0, 2, buf(h), buf(lying), buf(h), &st);
                   return finish(st, {});
                 }});
  return out;
}

std::vector<Case> key_history_cases() {
  std::vector<Case> out;
  using Fn = RustBuffer(std::uint64_t, std::uint64_t, RustBuffer, RustBuffer, RustBuffer, RustBuffer,
                        RustCallStatus*);
  const std::pair<const char*, Fn*> fns[] = {
      {"canonical", uniffi_quenfold_log_fn_func_key_history_v1_canonical_bytes},
      {"entry-hash", uniffi_quenfold_log_fn_func_key_history_v1_entry_hash},
      {"leaf-hash", uniffi_quenfold_log_fn_func_key_history_v1_rfc6962_leaf_hash},
  };
  const Bytes x = ser_bytes(Bytes(32, 3)), pq = ser_bytes(Bytes(1184, 4)), sig = ser_bytes(Bytes(32, 5));
  const Bytes none = {0}, prev = Ser().u8(1).bytes(Bytes(64, 6)).out, bad_x = ser_bytes(Bytes(31, 3));
  for (const auto& [name, fn] : fns) {
    for (int variant = 0; variant < 3; ++variant) {
      out.push_back({name, [=, fn = fn] {
                       RustCallStatus st{};
                       const Bytes& ex = variant == 2 ? bad_x : x;
                       const Bytes& pv = variant == 1 ? prev : none;
                       Bytes r = take(fn(7, 1700000000000, buf(ex), buf(pq), buf(sig), buf(pv), &st));
                       return finish(st, std::move(r));
                     }});
    }
  }
  for (std::string ctx : {"quenfold-log.io/key-history/v1", "Not A Label"}) {
    out.push_back({"entry-hash-context", [=] {
                     RustCallStatus st{};
                     Bytes r = take(uniffi_quenfold_log_fn_func_key_history_entry_hash_with_context(
                         text(ctx), 1, 2, buf(x), buf(pq), buf(sig), buf(prev), &st));
                     return finish(st, std::move(r));
                   }});
  }
  const std::string ctx = "quenfold-log.io/commitment/v1";
  const Bytes value = {'v', 'a', 'l'}, opening(32, 8);
  const auto c = commit(std::span(reinterpret_cast<const std::uint8_t*>(ctx.data()), ctx.size()), value, opening);
  for (int variant = 0; variant < 3; ++variant) {
    Bytes cm(c.begin(), c.end());
    if (variant == 1) cm[0] ^= 0x80;
    if (variant == 2) cm.pop_back();
    const Bytes sc = ser_bytes(cm), sv = ser_bytes(value), so = ser_bytes(opening);
    out.push_back({"commitment", [=] {
                     RustCallStatus st{};
                     uniffi_quenfold_log_fn_func_verify_commitment(text(ctx), buf(sc), buf(sv), buf(so), &st);
                     return finish(st, {});
                   }});
  }
  return out;
}

std::vector<Case> note_cases() {
  static const NoteSigner ed = NoteSigner::ed25519("log.example", 11);
  static const NoteSigner pq = NoteSigner::composite("log.example/pq", crypto::SignatureVersion::MlDsa65Ed25519, 12);
  static const MerkleTree tree = [] {
    MerkleTree t;
    for (int i = 0; i < 19; ++i) t.append({static_cast<std::uint8_t>(i), 2});
    return t;
  }();
  const auto note_of = [](std::uint64_t n) {
    return signed_note(checkpoint_body("log.example/threads", n, hb(tree.root(n)), {"ext"}), {&ed, &pq});
  };
  const Bytes keys = ser_strings({ed.verifier_key(), pq.verifier_key()});
  const Bytes other_keys = ser_strings({NoteSigner::ed25519("log.example", 99).verifier_key()});
  const std::string good = note_of(19), older = note_of(8);
  std::string tampered = good;
  tampered[tampered.find("\n") + 1] = '9';  // the size line: signatures no longer verify
  std::vector<Case> out;
  for (const std::string* note : {&good, static_cast<const std::string*>(&tampered)}) {
    for (const Bytes* k : {&keys, &other_keys}) {
      const std::string n = *note;
      const Bytes kk = *k;
      out.push_back({"signed-note", [=] {
                       RustCallStatus st{};
                       const std::uint32_t v = uniffi_quenfold_log_fn_func_verify_signed_note(text(n), buf(kk), &st);
                       return finish(st, Ser().i32(static_cast<std::int32_t>(v)).out);
                     }});
      out.push_back({"checkpoint-verify", [=] {
                       RustCallStatus st{};
                       Bytes r = take(uniffi_quenfold_log_fn_func_checkpoint_verify(text(n), buf(kk), &st));
                       return finish(st, std::move(r));
                     }});
    }
  }
  for (std::string body : {checkpoint_body("log.example/threads", 19, hb(tree.root()), {"a", "b"}),
                           std::string("log.example\n19\nnot base64\n")}) {
    out.push_back({"checkpoint-parse", [=] {
                     RustCallStatus st{};
                     Bytes r = take(uniffi_quenfold_log_fn_func_checkpoint_parse(text(body), &st));
                     return finish(st, std::move(r));
                   }});
  }
  for (std::uint64_t i : {3u, 18u}) {
    for (bool good_leaf : {true, false}) {
      const Bytes leaf = ser_bytes(good_leaf ? hb(tree.leaf_hash(i)) : Bytes(32, 0));
      const Bytes proof = ser_list(tree.inclusion_proof(i, 19));
      out.push_back({"checkpoint-inclusion", [=] {
                       RustCallStatus st{};
                       uniffi_quenfold_log_fn_func_checkpoint_verify_inclusion(text(good), buf(keys), i, buf(leaf),
                                                                               buf(proof), &st);
                       return finish(st, {});
                     }});
    }
  }
  for (bool good_proof : {true, false}) {
    auto p = tree.consistency_proof(8, 19);
    if (!good_proof) std::reverse(p.begin(), p.end());
    const Bytes proof = ser_list(p);
    out.push_back({"checkpoint-consistency", [=] {
                     RustCallStatus st{};
                     uniffi_quenfold_log_fn_func_checkpoint_verify_consistency(text(older), text(good), buf(keys),
                                                                               buf(proof), &st);
                     return finish(st, {});
                   }});
  }
  return out;
}

std::vector<Case> coniks_cases() {
  static const ConiksDirectory dir = [] {
    ConiksDirectory d("threads.example", 21);
    for (std::uint8_t i = 0; i < 30; ++i) d.insert({'u', i}, {'v', i});
    return d;
  }();
  const auto root = dir.root();
  const Bytes ns(dir.namespace_name().begin(), dir.namespace_name().end());
  const Bytes vrf = ser_bytes(dir.vrf_public()), r = ser_bytes(Bytes(root.begin(), root.end()));
  std::vector<Case> out;
  for (int k : {0, 29}) {
    const auto i = static_cast<std::uint8_t>(k);
    const Bytes id{'u', i}, absent{'z', i};
    Bytes tampered = dir.lookup_proof(id);
    tampered[tampered.size() / 2] ^= 4;
    for (const Bytes& proof : {dir.lookup_proof(id), tampered, dir.absence_proof(absent)}) {
      const Bytes sid = ser_bytes(id), sp = ser_bytes(proof);
      out.push_back({"coniks-lookup", [=] {
                       RustCallStatus st{};
                       Bytes v = take(uniffi_quenfold_log_fn_func_coniks_verify_lookup(
                           buf(ns), buf(vrf), buf(r), buf(sid), buf(sp), &st));
                       return finish(st, std::move(v));
                     }});
    }
    for (const Bytes& proof : {dir.absence_proof(absent), dir.lookup_proof(id)}) {
      const Bytes sid = ser_bytes(absent), sp = ser_bytes(proof);
      out.push_back({"coniks-absence", [=] {
                       RustCallStatus st{};
                       uniffi_quenfold_log_fn_func_coniks_verify_absence(buf(ns), buf(vrf), buf(r), buf(sid),
                                                                         buf(sp), &st);
                       return finish(st, {});
                     }});
    }
  }
  return out;
}

std::vector<Case> keytrans_cases() {
  std::vector<Case> out;
  for (const KeytransSuite suite : kAllKtSuites) {
    auto d = std::make_shared<KeytransDirectory>(suite, 31);
    const Bytes label = {'d', 'a', 'n', 'a'};
    for (int i = 0; i < 4; ++i) d->add_version(label, {'v', static_cast<std::uint8_t>(i)});
    d->add_noise(5);
    d->publish(42);
    const auto root = d->combined_root();
    const Bytes ctx(d->context().begin(), d->context().end());
    const Bytes vrf = ser_bytes(d->vrf_public()), r = ser_bytes(Bytes(root.begin(), root.end())), l = ser_bytes(label);
    const std::uint16_t id = kt_suite_id(suite);
    for (int kind = 0; kind < 3; ++kind) {
      Bytes proof = kind == 0 ? kt_encode(d->search(label))
                    : kind == 1 ? kt_encode(d->fixed_version(label, 2))
                                : kt_encode(d->monitor(label, 1));
      for (bool good : {true, false}) {
        Bytes p = proof;
        if (!good) p[p.size() - 7] ^= 0x10;
        const Bytes sp = ser_bytes(p);
        out.push_back({"keytrans", [=] {
                         RustCallStatus st{};
                         Bytes v;
                         if (kind == 0)
                           v = take(uniffi_quenfold_log_fn_func_keytrans_verify_search_suite(id, buf(ctx), buf(vrf), buf(r),
                                                                                           buf(l), buf(sp), &st));
                         else if (kind == 1)
                           v = take(uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version_suite(
                               id, buf(ctx), buf(vrf), buf(r), buf(l), buf(sp), &st));
                         else
                           uniffi_quenfold_log_fn_func_keytrans_verify_monitor_suite(id, buf(ctx), buf(vrf), buf(r),
                                                                                     buf(l), buf(sp), &st);
                         return finish(st, std::move(v));
                       }});
        out.push_back({"keytrans-legacy", [=] {
                         RustCallStatus st{};
                         Bytes v;
                         if (kind == 0)
                           v = take(uniffi_quenfold_log_fn_func_keytrans_verify_search(buf(ctx), buf(vrf), buf(r), buf(l),
                                                                                     buf(sp), &st));
                         else if (kind == 1)
                           v = take(uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version(buf(ctx), buf(vrf), buf(r),
                                                                                            buf(l), buf(sp), &st));
                         else
                           uniffi_quenfold_log_fn_func_keytrans_verify_monitor(buf(ctx), buf(vrf), buf(r), buf(l),
                                                                               buf(sp), &st);
                         return finish(st, std::move(v));
                       }});
      }
    }
  }
  return out;
}

std::vector<Case> policy_cases() {
  std::vector<Case> out;
  const auto& signer = default_policy_signer();
  for (const PolicyRecord& record : {PolicyRecord{}, PolicyRecord::keytrans("example.org"), PolicyRecord::cat5(3)}) {
    for (bool good : {true, false}) {
      Bytes env = sign_policy(record, signer);
      if (!good) env[env.size() / 3] ^= 1;
      const Bytes e = ser_bytes(env);
      const std::string key = signer.public_key_token(), sig = signer.sign(Bytes{1}, Bytes{2});
      out.push_back({"policy-verify", [=] {
                       RustCallStatus st{};
                       Bytes v = take(uniffi_quenfold_log_fn_func_signed_policy_verify(buf(e), &st));
                       return finish(st, std::move(v));
                     }});
      out.push_back({"policy-enforce", [=] {
                       RustCallStatus st{};
                       Ser results;
                       uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signing_key(buf(e), text(key), &st);
                       results.raw(finish(st, {}).error);
                       uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signature(buf(e), text(sig), &st);
                       results.raw(finish(st, {}).error);
                       uniffi_quenfold_log_fn_func_policy_enforce_vrf_suite_id(buf(e), 3, &st);
                       results.raw(finish(st, {}).error);
                       uniffi_quenfold_log_fn_func_policy_enforce_commitment_hash(buf(e), buf(Ser().i32(1).out), &st);
                       results.raw(finish(st, {}).error);
                       uniffi_quenfold_log_fn_func_policy_enforce_directory_backend(buf(e), 0xf004, &st);
                       Answer a = finish(st, {});
                       a.result = results.out;
                       return a;
                     }});
    }
  }
  return out;
}

std::vector<Case> buffer_cases() {
  std::vector<Case> out;
  for (std::uint64_t n : {0u, 17u, 4096u}) {
    out.push_back({"rustbuffer", [=] {
                     RustCallStatus st{};
                     RustBuffer b = ffi_quenfold_log_rustbuffer_alloc(n, &st);
                     Answer a = finish(st, {});
                     if (a.code != 0) return a;
                     b = ffi_quenfold_log_rustbuffer_reserve(b, n + 9, &st);
                     a = finish(st, Ser().i32(static_cast<std::int32_t>(b.capacity >= n + 9)).out);
                     ffi_quenfold_log_rustbuffer_free(b, &st);
                     return a;
                   }});
  }
  out.push_back({"rustbuffer-from-bytes", [] {
                   RustCallStatus st{};
                   const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
                   RustBuffer b = ffi_quenfold_log_rustbuffer_from_bytes(ForeignBytes{5, bytes}, &st);
                   Answer a = finish(st, {});
                   if (a.code == 0) a.result = take(b);
                   return a;
                 }});
  // The checksums and the contract version of the present exports.
  out.push_back({"checksums", [] {
                   Ser s;
                   for (auto fn : {uniffi_quenfold_log_checksum_func_verify_inclusion,
                                   uniffi_quenfold_log_checksum_func_verify_consistency,
                                   uniffi_quenfold_log_checksum_func_key_history_v1_canonical_bytes,
                                   uniffi_quenfold_log_checksum_func_verify_signed_note,
                                   uniffi_quenfold_log_checksum_func_checkpoint_verify_consistency,
                                   uniffi_quenfold_log_checksum_func_coniks_verify_lookup,
                                   uniffi_quenfold_log_checksum_func_verify_commitment})
                     s.i32(fn());
                   s.i32(static_cast<std::int32_t>(ffi_quenfold_log_uniffi_contract_version()));
                   return Answer{0, {}, s.out};
                 }});
  return out;
}

std::vector<Case> all_cases() {
  std::vector<Case> out;
  for (auto family : {merkle_cases, key_history_cases, note_cases, coniks_cases, keytrans_cases, policy_cases,
                      buffer_cases}) {
    auto cs = family();
    out.insert(out.end(), std::make_move_iterator(cs.begin()), std::make_move_iterator(cs.end()));
  }
  return out;
}

TEST(Concurrency, EveryExportGivesItsSingleThreadedAnswerFromEightThreads) {
  const std::vector<Case> cases = all_cases();
  std::vector<Answer> expected;
  for (const auto& c : cases) expected.push_back(c.call());
  // Both verdicts occur, so the comparison covers success and failure paths.
  EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [](const Answer& a) { return a.code == 0; }));
  EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [](const Answer& a) { return a.code == 1; }));
  EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [](const Answer& a) { return a.code == 2; }));
  // Every verifier family has a case that succeeds and one that is rejected.
  for (const char* name : {"inclusion", "consistency", "commitment", "signed-note", "checkpoint-verify",
                           "checkpoint-parse", "checkpoint-inclusion", "checkpoint-consistency", "coniks-lookup",
                           "coniks-absence", "keytrans", "policy-verify"}) {
    for (int code : {0, 1}) {
      bool found = false;
      for (std::size_t i = 0; i < cases.size(); ++i) found = found || (cases[i].name == name && expected[i].code == code);
      EXPECT_TRUE(found) << name << " has no case answering with status " << code;
    }
  }

  constexpr int kThreads = 8;
  constexpr int kRounds = 2;
  std::atomic<int> ready{0};
  std::vector<std::vector<std::string>> mismatches(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread its own order, so that different exports overlap.
      std::vector<std::size_t> order(cases.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::mt19937 rng(static_cast<unsigned>(t) + 1);
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) {
        std::shuffle(order.begin(), order.end(), rng);
        for (std::size_t i : order) {
          if (!(cases[i].call() == expected[i])) mismatches[static_cast<std::size_t>(t)].push_back(cases[i].name);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(mismatches[static_cast<std::size_t>(t)].empty())
        << "thread " << t << " first differing call: " << mismatches[static_cast<std::size_t>(t)].front();
  }
}

}  // namespace
}  // namespace quenfold::test
