// What a monitor gains from the extension's handles: 1 000 checkpoints
// verified through one CheckpointVerifier handle (keys parsed once, at
// construction) against the core library's stateless checkpoint_verify,
// which parses the key list again at every call. Both through the C ABI
// (linked statically), buffers made and results freed as a foreign caller
// does; interleaved in one run, "ratio" = stateless / handle (above 1: the
// handle wins).
//
//   build/bench/quenfold_bench --benchmark_filter='Extension'
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "ffi/buffer.h"
#include "measure.h"
#include "quenfold_log.h"
#include "quenfold_log_ext.h"
#include "support/notes.h"
#include "support/serialize.h"

namespace {

using quenfold::test::Bytes;
using quenfold::test::NoteSigner;

constexpr std::string_view kOrigin = "log.example.org/monitored";
constexpr std::size_t kCheckpoints = 1000;

struct Monitor {
  NoteSigner log;
  std::vector<std::string> keys;  // the log's key and those of four other logs the monitor follows
  std::vector<std::string> notes;
  std::uint64_t handle = 0;

  explicit Monitor(NoteSigner signer) : log(std::move(signer)) {
    keys.push_back(log.verifier_key());
    for (std::uint64_t i = 0; i < 4; ++i)
      keys.push_back(NoteSigner::ed25519("log.example.org/other/" + std::to_string(i), 90 + i).verifier_key());
    for (std::size_t i = 1; i <= kCheckpoints; ++i) {
      const Bytes root(32, static_cast<std::uint8_t>(i));
      notes.push_back(quenfold::test::signed_note(quenfold::test::checkpoint_body(kOrigin, i, root), {&log}));
    }
    RustCallStatus st{};
    const std::uint64_t list = uniffi_quenfold_log_ext_fn_constructor_verifierlist_parse(
        quenfold::ffi::buffer_from(quenfold::test::Ser{}.string_list(keys).out), &st);
    handle = uniffi_quenfold_log_ext_fn_constructor_checkpointverifier_with_keys(
        quenfold::ffi::buffer_from(kOrigin), list, &st);
    uniffi_quenfold_log_ext_fn_free_verifierlist(list, &st);
    if (st.code != 0 || handle == 0) throw std::runtime_error("no checkpoint verifier handle");
  }
  ~Monitor() {
    RustCallStatus st{};
    uniffi_quenfold_log_ext_fn_free_checkpointverifier(handle, &st);
  }

  bool stateless() const {
    const auto key_list = quenfold::test::Ser{}.string_list(keys).out;
    for (const auto& note : notes) {
      RustCallStatus st{};
      const RustBuffer head = uniffi_quenfold_log_fn_func_checkpoint_verify(
          quenfold::ffi::buffer_from(note), quenfold::ffi::buffer_from(key_list), &st);
      if (st.code != 0) return false;
      ffi_quenfold_log_rustbuffer_free(head, &st);
    }
    return true;
  }

  bool with_handle() const {
    for (const auto& note : notes) {
      RustCallStatus st{};
      const RustBuffer checkpoint =
          uniffi_quenfold_log_ext_fn_method_checkpointverifier_verify(handle, quenfold::ffi::buffer_from(note), &st);
      if (st.code != 0) return false;
      ffi_quenfold_log_ext_rustbuffer_free(checkpoint, &st);
    }
    return true;
  }
};

void BM_Extension_Monitor1000_Ed25519_StatelessVsHandle(benchmark::State& state) {
  static const Monitor m(NoteSigner::ed25519(std::string(kOrigin), 7));
  quenfold::bench::ratio(state, [] { return m.stateless(); }, [] { return m.with_handle(); });
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCheckpoints));
}
BENCHMARK(BM_Extension_Monitor1000_Ed25519_StatelessVsHandle)->MinTime(1.0);

void BM_Extension_Monitor1000_MlDsa65_StatelessVsHandle(benchmark::State& state) {
  static const Monitor m(
      NoteSigner::composite(std::string(kOrigin), quenfold::crypto::SignatureVersion::MlDsa65Ed25519, 7));
  quenfold::bench::ratio(state, [] { return m.stateless(); }, [] { return m.with_handle(); });
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCheckpoints));
}
BENCHMARK(BM_Extension_Monitor1000_MlDsa65_StatelessVsHandle)->MinTime(1.0);

}  // namespace
