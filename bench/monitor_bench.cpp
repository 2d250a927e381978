// What a monitor pays: 10 000 inclusion proofs under one ML-DSA-65 + Ed25519
// checkpoint whose signature is checked once, beside the floor of one bare
// token verification plus 10 000 bare proof checks (interleaved; "ratio",
// target at most 1.15); and the monitor command's engine on 1 and 2
// threads over the same JSON lines ("speedup", wall-clock time of 1 thread
// over 2, interleaved; target at least 1.8 on an idle 2-core machine whose
// cores run at the same speed: see "core_speed_ratio"). And the engine's
// bounds: a session of N MiB read from a file on 2 threads ("peak_heap_MiB",
// target under 4 times the session's size plus a constant; the engine
// holds one window, so it stays flat as N grows), one line of 64 MiB of '['
// and 4 000 000 lines of "0" (each rejected; the same flat peak).
//
//   build/bench/quenfold_bench --benchmark_filter='Monitor'
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/sign.h"
#include "heap_meter.h"
#include "measure.h"
#include "monitor.h"
#include "quenfold/merkle.h"
#include "quenfold/checkpoint_verifier.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace {

std::int64_t process_cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

using quenfold::ByteView;
using quenfold::test::Bytes;
using quenfold::test::Hash;
using quenfold::test::NoteSigner;

constexpr std::string_view kOrigin = "log.example.org/monitored";
constexpr std::size_t kLevels = 14;  // 16384 leaves
constexpr std::size_t kProofs = 10000;

// A perfect tree kept level by level, so that 10 000 audit paths cost one
// pass over the leaves rather than a recursion per path.
struct Tree {
  std::vector<std::vector<Hash>> level;  // level[0]: leaf hashes
  Tree() {
    level.emplace_back();
    for (std::size_t i = 0; i < (std::size_t{1} << kLevels); ++i)
      level[0].push_back(
          quenfold::test::leaf_hash_of(Bytes{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0x42}));
    while (level.back().size() > 1) {
      const auto& below = level.back();
      std::vector<Hash> above;
      for (std::size_t i = 0; i < below.size(); i += 2)
        above.push_back(quenfold::test::node_hash_of(below[i], below[i + 1]));
      level.push_back(std::move(above));
    }
  }
  std::uint64_t size() const { return level[0].size(); }
  const Hash& root() const { return level.back()[0]; }
  std::vector<Hash> path(std::size_t index) const {
    std::vector<Hash> out;
    for (std::size_t l = 0; l + 1 < level.size(); ++l, index >>= 1) out.push_back(level[l][index ^ 1]);
    return out;
  }
};

struct BatchFixture {
  Tree tree;
  NoteSigner signer =
      NoteSigner::composite(std::string(kOrigin), quenfold::crypto::SignatureVersion::MlDsa65Ed25519, 31);
  std::string body;
  std::string note;
  Bytes signature;
  quenfold::VerifierList keys;
  std::vector<std::vector<Hash>> paths;
  std::vector<std::vector<ByteView>> path_views;
  std::vector<quenfold::InclusionProof> items;
  BatchFixture() {
    body = quenfold::test::checkpoint_body(kOrigin, tree.size(), Bytes(tree.root().begin(), tree.root().end()));
    note = quenfold::test::signed_note(body, {&signer});
    signature = signer.sign(body);
    const std::vector<std::string> k = {signer.verifier_key()};
    keys = *quenfold::VerifierList::parse(std::span<const std::string>(k));
    for (std::size_t i = 0; i < kProofs; ++i) paths.push_back(tree.path(i * 13 % tree.size()));
    for (const auto& p : paths) path_views.emplace_back(p.begin(), p.end());
    for (std::size_t i = 0; i < kProofs; ++i)
      items.push_back({i * 13 % tree.size(), tree.level[0][i * 13 % tree.size()], path_views[i]});
  }
};

const BatchFixture& batch() {
  static const BatchFixture f;
  return f;
}

void BM_Monitor_10000InclusionsUnderOneCheckpoint_VsFloor(benchmark::State& state) {
  const BatchFixture& f = batch();
  const quenfold::CheckpointVerifier verifier{std::string(kOrigin), f.keys};
  const Bytes context(quenfold::test::kSignedNoteContextText.begin(), quenfold::test::kSignedNoteContextText.end());
  const Bytes public_key(f.signer.key_data().begin() + 43, f.signer.key_data().end());
  const Bytes body(f.body.begin(), f.body.end());
  const ByteView root(f.tree.root());
  const auto op = [&] {
    const auto checkpoint = verifier.verify(f.note);
    if (!checkpoint) return false;
    const auto results = quenfold::verify_inclusions(checkpoint->head, f.items);
    return std::all_of(results.begin(), results.end(), [](const auto& r) { return r.has_value(); });
  };
  const auto floor = [&] {
    bool ok = quenfold::crypto::verify_token_bytes(body, context, f.signature, public_key);
    for (const auto& item : f.items)
      ok = quenfold::verify_inclusion(item.index, f.tree.size(), item.leaf_hash, item.proof, root).has_value() && ok;
    return ok;
  };
  quenfold::bench::ratio(state, op, floor);
}
BENCHMARK(BM_Monitor_10000InclusionsUnderOneCheckpoint_VsFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The JSON lines of a monitoring session: a checkpoint, 2 000 inclusion
// proofs under it, a larger checkpoint with its consistency proof and 2 000
// proofs under that.
struct MonitorFixture {
  NoteSigner signer =
      NoteSigner::composite(std::string(kOrigin), quenfold::crypto::SignatureVersion::MlDsa65Ed25519, 32);
  quenfold::test::MerkleTree tree;
  std::vector<std::string> lines;
  std::string session;  // the lines, each ended by a line feed
  quenfold::VerifierList keys;
  MonitorFixture() {
    for (std::uint32_t i = 0; i < 1500; ++i)
      tree.append(Bytes{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)});
    const std::vector<std::string> k = {signer.verifier_key()};
    keys = *quenfold::VerifierList::parse(std::span<const std::string>(k));
    const auto hex_list = [](const std::vector<Hash>& hs) {
      std::string out = "[";
      for (std::size_t i = 0; i < hs.size(); ++i) out += (i ? ",\"" : "\"") + quenfold::test::to_hex(hs[i]) + "\"";
      return out + "]";
    };
    const auto checkpoint = [&](std::uint64_t size, const std::string& consistency) {
      const auto root = tree.root(size);
      const std::string note = quenfold::test::signed_note(
          quenfold::test::checkpoint_body(kOrigin, size, Bytes(root.begin(), root.end())), {&signer});
      std::string escaped;
      for (const char c : note) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
      lines.push_back("{\"type\":\"checkpoint\",\"note\":\"" + escaped + "\"" +
                      (consistency.empty() ? "" : ",\"consistency\":" + consistency) + "}");
    };
    const auto inclusions = [&](std::uint64_t size) {
      // Paths of a few leaves, repeated: building 2 000 distinct paths
      // with the recursive reference builder would dominate the setup.
      std::vector<std::string> some;
      for (std::uint64_t i = 0; i < 50; ++i) {
        const std::uint64_t index = i * 29 % size;
        some.push_back("{\"type\":\"inclusion\",\"index\":" + std::to_string(index) + ",\"leaf_hash\":\"" +
                       quenfold::test::to_hex(tree.leaf_hash(index)) +
                       "\",\"proof\":" + hex_list(tree.inclusion_proof(index, size)) + "}");
      }
      for (std::size_t i = 0; i < 2000; ++i) lines.push_back(some[i % some.size()]);
    };
    checkpoint(1000, "");
    inclusions(1000);
    checkpoint(1500, hex_list(tree.consistency_proof(1000, 1500)));
    inclusions(1500);
    for (const auto& line : lines) session += line + "\n";
    const auto s = run(quenfold::CheckpointVerifier(std::string(kOrigin), keys), 1);
    if (s.verified != s.items || s.items != lines.size()) throw std::runtime_error("monitor fixture does not verify");
  }
  quenfold::cli::monitor::Summary run(const quenfold::CheckpointVerifier& verifier, unsigned threads) const {
    quenfold::cli::monitor::Source source(session);
    return quenfold::cli::monitor::run(source, verifier, threads);
  }
};

const MonitorFixture& monitor_fixture() {
  static const MonitorFixture f;
  return f;
}

// The first two CPUs this process may run on (fewer if it may run on fewer).
std::vector<std::size_t> first_two_cpus(const cpu_set_t& allowed) {
  std::vector<std::size_t> out;
  for (std::size_t c = 0; c < CPU_SETSIZE && out.size() < 2; ++c)
    if (CPU_ISSET(c, &allowed)) out.push_back(c);
  return out;
}

void pin_calling_thread(std::size_t cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  pthread_setaffinity_np(pthread_self(), sizeof one, &one);
}

// The 1-thread runs alternate between the first two CPUs (the worker
// inherits the calling thread's affinity), the 2-thread runs may use both.
// The vCPUs of a virtual machine are not always equally fast, so the
// 1-thread rate is their mean, and "core_speed_ratio" (slower over faster,
// 1-thread time) says how far apart they were: the speedup cannot reach 2
// over the faster one when the other lags.
void BM_Monitor_Engine_2ThreadsVs1(benchmark::State& state) {
  const MonitorFixture& f = monitor_fixture();
  const quenfold::CheckpointVerifier verifier(std::string(kOrigin), f.keys);
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed);
  const std::vector<std::size_t> cpus = first_two_cpus(allowed);
  using Clock = std::chrono::steady_clock;
  std::array<Clock::duration, 2> one_on{};
  std::array<std::int64_t, 2> runs_on{};
  Clock::duration one{}, two{};
  std::int64_t cpu_one = 0, cpu_two = 0;
  std::size_t turn = 0;
  for (auto _ : state) {
    const std::size_t core = turn++ % 2;
    if (cpus.size() == 2) pin_calling_thread(cpus[core]);
    const auto c0 = process_cpu_ns();
    const auto t0 = Clock::now();
    const auto a = f.run(verifier, 1);
    const auto t1 = Clock::now();
    const auto c1 = process_cpu_ns();
    if (cpus.size() == 2) pthread_setaffinity_np(pthread_self(), sizeof allowed, &allowed);
    const auto b = f.run(verifier, 2);
    const auto t2 = Clock::now();
    const auto c2 = process_cpu_ns();
    cpu_one += c1 - c0;
    cpu_two += c2 - c1;
    if (a.verified != f.lines.size() || b.verified != f.lines.size())
      state.SkipWithError("monitor run did not verify");
    one += t1 - t0;
    one_on[core] += t1 - t0;
    ++runs_on[core];
    two += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations());
  const double items = static_cast<double>(f.lines.size());
  const double s1 = std::chrono::duration<double>(one).count() / n;
  const double s2 = std::chrono::duration<double>(two).count() / n;
  state.counters["items_per_s_1thread"] = items / s1;
  state.counters["items_per_s_2threads"] = items / s2;
  state.counters["speedup"] = s1 / s2;
  if (cpus.size() == 2 && runs_on[0] > 0 && runs_on[1] > 0) {
    const double a = std::chrono::duration<double>(one_on[0]).count() / static_cast<double>(runs_on[0]);
    const double b = std::chrono::duration<double>(one_on[1]).count() / static_cast<double>(runs_on[1]);
    state.counters["core_speed_ratio"] = std::max(a, b) / std::min(a, b);
  }
  // CPU time of all threads, 2-thread run over 1-thread run: the cost of
  // splitting the work (1.0 when it adds nothing). On a machine where other
  // processes hold the cores, "speedup" falls while this stays put.
  state.counters["cpu_2threads_over_1"] =
      cpu_one > 0 ? static_cast<double>(cpu_two) / static_cast<double>(cpu_one) : 0.0;
  // Cores the 2-thread run actually got: its CPU time over its wall time.
  state.counters["cores_used_2threads"] = static_cast<double>(cpu_two) / 1e9 / n / s2;
}
BENCHMARK(BM_Monitor_Engine_2ThreadsVs1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// --- bounds: memory and time that do not grow with the session ---------------

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File file_of(const std::function<void(std::FILE*)>& write) {
  File f(std::tmpfile(), &std::fclose);
  if (f) write(f.get());
  return f;
}

// Runs the engine over `f` from its start on 2 threads. The first run is
// measured under the heap meter ("peak_heap_MiB": the most heap live at
// once beyond what was live before), the others timed.
void bounds(benchmark::State& state, std::FILE* f, std::uint64_t bytes, std::size_t want_items,
            std::size_t want_verified) {
  const quenfold::CheckpointVerifier verifier(std::string(kOrigin), monitor_fixture().keys);
  quenfold::cli::monitor::Summary s;
  const auto once = [&] {
    std::rewind(f);
    quenfold::cli::monitor::Source source(f, "session");
    s = quenfold::cli::monitor::run(source, verifier, 2);
  };
  const double peak = static_cast<double>(quenfold::bench::peak_heap_growth(once)) / 1048576.0;
  if (s.items != want_items || s.verified != want_verified) state.SkipWithError("unexpected results");
  for (auto _ : state) once();
  state.counters["peak_heap_MiB"] = peak;
  state.counters["session_MiB"] = static_cast<double>(bytes) / 1048576.0;
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

// A valid session of N MiB: the fixture's two checkpoints, then its
// inclusion proofs under the second repeated.
void BM_Monitor_Bounds_Session(benchmark::State& state) {
  const MonitorFixture& f = monitor_fixture();
  const auto target = static_cast<std::uint64_t>(state.range(0)) << 20;
  std::uint64_t bytes = 0;
  std::size_t items = 0;
  const File file = file_of([&](std::FILE* out) {
    const auto put = [&](const std::string& line) {
      std::fwrite(line.data(), 1, line.size(), out);
      std::fputc('\n', out);
      bytes += line.size() + 1;
      ++items;
    };
    for (const auto& line : f.lines) put(line);
    for (std::size_t i = 0; bytes < target; ++i) put(f.lines[f.lines.size() - 1 - i % 2000]);
    std::fflush(out);
  });
  if (!file) return state.SkipWithError("no temporary file");
  bounds(state, file.get(), bytes, items, items);
}
BENCHMARK(BM_Monitor_Bounds_Session)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(3);

// Hostile sessions of 64 MiB: one line of '[' (arg 0), rejected as too long
// without being kept; 4 000 000 lines of "0" (arg 1), each rejected.
void BM_Monitor_Bounds_Hostile(benchmark::State& state) {
  const bool lines = state.range(0) == 1;
  const std::uint64_t bytes = lines ? 8'000'000 : std::uint64_t{64} << 20;
  const File file = file_of([&](std::FILE* out) {
    const std::string block = lines ? [] {
      std::string b;
      for (int i = 0; i < 1000; ++i) b += "0\n";
      return b;
    }()
                                    : std::string(std::size_t{1} << 20, '[');
    for (std::uint64_t done = 0; done < bytes; done += block.size()) std::fwrite(block.data(), 1, block.size(), out);
    std::fflush(out);
  });
  if (!file) return state.SkipWithError("no temporary file");
  bounds(state, file.get(), bytes, lines ? 4'000'000 : 1, 0);
}
BENCHMARK(BM_Monitor_Bounds_Hostile)->ArgName("lines_of_0")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
