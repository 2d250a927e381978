// Resource bounds: work is linear in the input for hostile sizes. Each
// benchmark reports bytes processed per second; a quadratic step would show
// as a throughput that collapses with size (compare the /N rows).
#include <benchmark/benchmark.h>

#include <functional>

#include "ffi/buffer.h"
#include "heap_meter.h"
#include "quenfold_log.h"
#include "support/coniks_directory.h"
#include "support/keytrans_directory.h"
#include "support/notes.h"
#include "support/policy_builder.h"
#include "support/serialize.h"

namespace {

// A proof list of N 32-byte elements lifted through the real export: the
// wrong-size check answers, after the whole list was lifted once.
void BM_Bounds_InclusionProofList(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<std::vector<std::uint8_t>> items(n, std::vector<std::uint8_t>(32, 1));
  const auto proof = quenfold::test::Ser().bytes_list(items).out;
  const auto hash = quenfold::test::Ser().bytes(std::vector<std::uint8_t>(32, 2)).out;
  for (auto _ : state) {
    RustCallStatus st{};
    uniffi_quenfold_log_fn_func_verify_inclusion(3, 8, quenfold::ffi::buffer_from(hash),
                                                 quenfold::ffi::buffer_from(proof),
                                                 quenfold::ffi::buffer_from(hash), &st);
    if (st.code != 1) state.SkipWithError("expected a rejection");
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(proof.size()));
}
BENCHMARK(BM_Bounds_InclusionProofList)->Arg(1 << 10)->Arg(1 << 18)->Arg(1 << 20)->Arg(1 << 21)->Unit(benchmark::kMillisecond);

// A count that claims far more elements than the buffer holds: rejected
// without reserving storage for the claimed count.
void BM_Bounds_LyingListCount(benchmark::State& state) {
  std::vector<std::uint8_t> proof = {0x7f, 0xff, 0xff, 0xff};
  proof.resize(4 + static_cast<std::size_t>(state.range(0)), 0);
  const auto hash = quenfold::test::Ser().bytes(std::vector<std::uint8_t>(32, 2)).out;
  for (auto _ : state) {
    RustCallStatus st{};
    uniffi_quenfold_log_fn_func_verify_inclusion(3, 8, quenfold::ffi::buffer_from(hash),
                                                 quenfold::ffi::buffer_from(proof),
                                                 quenfold::ffi::buffer_from(hash), &st);
    if (st.code != 2) state.SkipWithError("expected a lifting failure");
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(proof.size()));
}
BENCHMARK(BM_Bounds_LyingListCount)->Arg(1 << 10)->Arg(1 << 20);

// Sizes of the note and checkpoint cases: 1 MiB and 16 MiB, so that a
// quadratic step shows as a bytes/second that falls sixteen-fold.
constexpr std::int64_t kMiB = 1 << 20;

const quenfold::test::NoteSigner& bounds_signer() {
  static const auto s = quenfold::test::NoteSigner::ed25519("bounds.example", 41);
  return s;
}

std::string filler_lines(std::size_t bytes) {
  std::string out;
  out.reserve(bytes + 64);
  for (std::size_t i = 0; out.size() < bytes; ++i) out += "extension line " + std::to_string(i) + "\n";
  return out;
}

RustBuffer text_buffer(const std::string& s) { return quenfold::ffi::buffer_from(std::string_view(s)); }

// A signed note whose body is N bytes, verified: splitting, the UTF-8 and
// line checks and one Ed25519 verification over the whole body.
void BM_Bounds_SignedNoteVerified(benchmark::State& state) {
  const std::string body = filler_lines(static_cast<std::size_t>(state.range(0)));
  const std::string note = quenfold::test::signed_note(body, {&bounds_signer()});
  const auto keys = quenfold::test::Ser().string_list({bounds_signer().verifier_key()}).out;
  for (auto _ : state) {
    RustCallStatus st{};
    const auto n = uniffi_quenfold_log_fn_func_verify_signed_note(text_buffer(note), quenfold::ffi::buffer_from(keys), &st);
    if (st.code != 0 || n != 1) state.SkipWithError("expected a verified note");
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(note.size()));
}
BENCHMARK(BM_Bounds_SignedNoteVerified)->Arg(kMiB)->Arg(16 * kMiB)->Unit(benchmark::kMillisecond);

// N bytes of signature lines from an untrusted key after a short body:
// rejected at the line limit, without verifying or decoding every line.
void BM_Bounds_SignedNoteManyLines(benchmark::State& state) {
  const std::string line = quenfold::test::NoteSigner::ed25519("other.example", 42).signature_line("x\n");
  std::string note = "x\n\n";
  while (note.size() < static_cast<std::size_t>(state.range(0))) note += line;
  const auto keys = quenfold::test::Ser().string_list({bounds_signer().verifier_key()}).out;
  for (auto _ : state) {
    RustCallStatus st{};
    (void)uniffi_quenfold_log_fn_func_verify_signed_note(text_buffer(note), quenfold::ffi::buffer_from(keys), &st);
    if (st.code != 1) state.SkipWithError("expected a rejection");
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(note.size()));
}
BENCHMARK(BM_Bounds_SignedNoteManyLines)->Arg(kMiB)->Arg(16 * kMiB)->Unit(benchmark::kMillisecond);

// A checkpoint body of N bytes, nearly all extension lines, parsed.
void BM_Bounds_CheckpointBodyParsed(benchmark::State& state) {
  const std::string body = quenfold::test::checkpoint_body("bounds.example/log", 5, quenfold::test::Bytes(32, 1)) +
                           filler_lines(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    RustCallStatus st{};
    const RustBuffer head = uniffi_quenfold_log_fn_func_checkpoint_parse(text_buffer(body), &st);
    if (st.code != 0) state.SkipWithError("expected a parsed body");
    quenfold::ffi::release(head);
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}
BENCHMARK(BM_Bounds_CheckpointBodyParsed)->Arg(kMiB)->Arg(4 * kMiB)->Arg(16 * kMiB)->Arg(32 * kMiB)->Unit(benchmark::kMillisecond);

// A checkpoint inclusion proof list of N elements under a verified note:
// rejected for its length after one lifting pass and one signature check.
void BM_Bounds_CheckpointInclusionProofList(benchmark::State& state) {
  const std::string note = quenfold::test::signed_note(
      quenfold::test::checkpoint_body("bounds.example/log", 8, quenfold::test::Bytes(32, 1)), {&bounds_signer()});
  const auto keys = quenfold::test::Ser().string_list({bounds_signer().verifier_key()}).out;
  std::vector<std::vector<std::uint8_t>> items(static_cast<std::size_t>(state.range(0)), std::vector<std::uint8_t>(32, 1));
  const auto proof = quenfold::test::Ser().bytes_list(items).out;
  const auto hash = quenfold::test::Ser().bytes(std::vector<std::uint8_t>(32, 2)).out;
  for (auto _ : state) {
    RustCallStatus st{};
    uniffi_quenfold_log_fn_func_checkpoint_verify_inclusion(text_buffer(note), quenfold::ffi::buffer_from(keys), 3,
                                                            quenfold::ffi::buffer_from(hash),
                                                            quenfold::ffi::buffer_from(proof), &st);
    if (st.code != 1) state.SkipWithError("expected a rejection");
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(proof.size()));
}
BENCHMARK(BM_Bounds_CheckpointInclusionProofList)->Arg(1 << 16)->Arg(1 << 18)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// A KEYTRANS search proof whose ladder holds N copies of an honest rung
// (N up to the 65535 the u16 count allows): parsed rung by rung and
// rejected, in time proportional to N.
void BM_Bounds_KeytransLadder(benchmark::State& state) {
  using quenfold::test::KeytransDirectory;
  KeytransDirectory d(quenfold::KeytransSuite::Kt128Sha256Ed25519, 51);
  const quenfold::test::Bytes label = {'d', 'a', 'n', 'a'};
  for (int i = 0; i < 3; ++i) d.add_version(label, {'v', static_cast<std::uint8_t>(i)});
  d.publish(42);
  auto proof = d.search(label);
  const auto rung = proof.ladder.front();
  proof.ladder.assign(static_cast<std::size_t>(state.range(0)), rung);
  const auto encoded = quenfold::test::Ser().bytes(quenfold::test::kt_encode(proof)).out;
  const auto root = d.combined_root();
  const auto r = quenfold::test::Ser().bytes(quenfold::test::Bytes(root.begin(), root.end())).out;
  const auto vrf = quenfold::test::Ser().bytes(d.vrf_public()).out;
  const auto l = quenfold::test::Ser().bytes(label).out;
  const std::uint16_t id = quenfold::test::kt_suite_id(d.suite());
  for (auto _ : state) {
    RustCallStatus st{};
    const RustBuffer out = uniffi_quenfold_log_fn_func_keytrans_verify_search_suite(
        id, text_buffer(d.context()), quenfold::ffi::buffer_from(vrf), quenfold::ffi::buffer_from(r),
        quenfold::ffi::buffer_from(l), quenfold::ffi::buffer_from(encoded), &st);
    if (st.code != 1) state.SkipWithError("expected a rejection");
    quenfold::ffi::release(out);
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(encoded.size()));
}
BENCHMARK(BM_Bounds_KeytransLadder)->Arg(4096)->Arg(65535)->Unit(benchmark::kMillisecond);

// A signed policy envelope followed by junk up to N bytes: rejected after
// one pass over the bytes.
void BM_Bounds_PolicyEnvelope(benchmark::State& state) {
  auto envelope = quenfold::test::sign_policy(quenfold::test::PolicyRecord{}, quenfold::test::default_policy_signer());
  envelope.resize(static_cast<std::size_t>(state.range(0)), 0x5a);
  const auto e = quenfold::test::Ser().bytes(envelope).out;
  for (auto _ : state) {
    RustCallStatus st{};
    const RustBuffer out = uniffi_quenfold_log_fn_func_signed_policy_verify(quenfold::ffi::buffer_from(e), &st);
    if (st.code != 1) state.SkipWithError("expected a rejection");
    quenfold::ffi::release(out);
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(e.size()));
}
BENCHMARK(BM_Bounds_PolicyEnvelope)->Arg(kMiB)->Arg(16 * kMiB)->Unit(benchmark::kMillisecond);

// --- hostile arguments: time and peak memory ------------------------------

// The extra peak heap of one call, in MiB. `setup` builds the argument
// buffers first (the caller's, handed over to the call); then the call runs
// under the heap meter.
void report_peak_heap(benchmark::State& state, const std::function<std::function<void()>()>& setup) {
  const auto call = setup();
  state.counters["peak_heap_MiB"] = static_cast<double>(quenfold::bench::peak_heap_growth(call)) / 1048576.0;
}

// A checkpoint body whose size line is N bytes of 0xFF: rejected with the
// size line echoed, capped, in the message.
void BM_Bounds_CheckpointHostileSizeLine(benchmark::State& state) {
  const std::string body = "o\n" + std::string(static_cast<std::size_t>(state.range(0)), '\xff') + "\n" +
                           quenfold::test::base64_of(quenfold::test::Bytes(32, 0)) + "\n";
  // The length of the rejection's error buffer, or -1 if it was not one.
  const auto once = [](const RustBuffer& arg) {
    RustCallStatus st{};
    quenfold::ffi::release(uniffi_quenfold_log_fn_func_checkpoint_parse(arg, &st));
    quenfold::ffi::release(st.error_buf);
    return st.code == 1 ? static_cast<double>(st.error_buf.len) : -1.0;
  };
  report_peak_heap(state, [&] {
    const RustBuffer arg = text_buffer(body);
    return std::function<void()>([=] { (void)once(arg); });
  });
  for (auto _ : state) {
    const double error_buf_bytes = once(text_buffer(body));
    if (error_buf_bytes < 0) state.SkipWithError("expected a rejection");
    state.counters["error_buf_bytes"] = error_buf_bytes;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}
BENCHMARK(BM_Bounds_CheckpointHostileSizeLine)->Arg(kMiB)->Arg(64 * kMiB)->Unit(benchmark::kMillisecond);

// Trusted-key lists that fail at their first key: one key text of N bytes of
// 0x01 (arg 0, echoed in the message), or N/4 empty key texts (arg 1).
void BM_Bounds_HostileVerifierKeys(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const bool many = state.range(1) == 1;
  const auto keys = many ? quenfold::test::Ser().string_list(std::vector<std::string>(n / 4)).out
                         : quenfold::test::Ser().string_list({std::string(n, '\x01')}).out;
  const std::string note = "x\n\n";
  const auto once = [&note](const RustBuffer& arg) {
    RustCallStatus st{};
    (void)uniffi_quenfold_log_fn_func_verify_signed_note(text_buffer(note), arg, &st);
    quenfold::ffi::release(st.error_buf);
    return st.code == 1 ? static_cast<double>(st.error_buf.len) : -1.0;
  };
  report_peak_heap(state, [&] {
    const RustBuffer arg = quenfold::ffi::buffer_from(keys);
    return std::function<void()>([=] { (void)once(arg); });
  });
  for (auto _ : state) {
    const double error_buf_bytes = once(quenfold::ffi::buffer_from(keys));
    if (error_buf_bytes < 0) state.SkipWithError("expected a rejection");
    state.counters["error_buf_bytes"] = error_buf_bytes;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(keys.size()));
}
BENCHMARK(BM_Bounds_HostileVerifierKeys)
    ->ArgNames({"bytes", "empty_keys"})
    ->Args({kMiB, 0})
    ->Args({64 * kMiB, 0})
    ->Args({kMiB, 1})
    ->Args({64 * kMiB, 1})
    ->Unit(benchmark::kMillisecond);

// A valid CONIKS presence proof under a namespace of N bytes: the namespace
// is hashed a fixed number of times per call, not once per tree level.
void BM_Bounds_ConiksLongNamespace(benchmark::State& state) {
  const quenfold::test::Bytes identity = {'i', 'd'};
  quenfold::test::ConiksDirectory d(std::string(static_cast<std::size_t>(state.range(0)), 'n'), 61);
  d.insert(identity, {'v'});
  const auto root = d.root();
  const auto ser = [](const quenfold::test::Bytes& b) { return quenfold::test::Ser().bytes(b).out; };
  const auto vrf = ser(d.vrf_public()), r = ser({root.begin(), root.end()}), id = ser(identity),
             proof = ser(d.lookup_proof(identity));
  for (auto _ : state) {
    RustCallStatus st{};
    const RustBuffer out = uniffi_quenfold_log_fn_func_coniks_verify_lookup(
        text_buffer(d.namespace_name()), quenfold::ffi::buffer_from(vrf), quenfold::ffi::buffer_from(r),
        quenfold::ffi::buffer_from(id), quenfold::ffi::buffer_from(proof), &st);
    if (st.code != 0) state.SkipWithError("expected a verified lookup");
    quenfold::ffi::release(out);
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Bounds_ConiksLongNamespace)->Arg(64 << 10)->Arg(kMiB)->Unit(benchmark::kMillisecond);

// One trusted signature line repeated R times under an 8 MiB body, Ed25519
// (arg 0) or composite ML-DSA-87 with ECDSA P-521 (arg 1): the line is
// verified once, so R = 100 costs about what R = 1 costs.
void BM_Bounds_RepeatedSignatureLine(benchmark::State& state) {
  static const auto ed = quenfold::test::NoteSigner::ed25519("repeat.example", 71);
  static const auto pq =
      quenfold::test::NoteSigner::composite("repeat.example/pq", quenfold::crypto::SignatureVersion::MlDsa87EcdsaP521, 71);
  const auto& signer = state.range(0) == 0 ? ed : pq;
  const std::string body = filler_lines(static_cast<std::size_t>(8 * kMiB));
  const std::string line = signer.signature_line(body);
  std::string note = body + "\n";
  for (std::int64_t i = 0; i < state.range(1); ++i) note += line;
  const auto keys = quenfold::test::Ser().string_list({signer.verifier_key()}).out;
  for (auto _ : state) {
    RustCallStatus st{};
    const auto n = uniffi_quenfold_log_fn_func_verify_signed_note(text_buffer(note), quenfold::ffi::buffer_from(keys), &st);
    if (st.code != 0 || n != static_cast<std::uint32_t>(state.range(1))) state.SkipWithError("expected every line counted");
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(note.size()));
}
BENCHMARK(BM_Bounds_RepeatedSignatureLine)
    ->ArgNames({"composite", "lines"})
    ->Args({0, 1})
    ->Args({0, 100})
    ->Args({1, 1})
    ->Args({1, 100})
    ->Unit(benchmark::kMillisecond);

}  // namespace
