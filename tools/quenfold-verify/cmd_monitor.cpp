// monitor: a session of checkpoints and proofs as JSON lines, verified on
// every core. Each rejected item is printed as it is found in the results
// (with --json: every item, one JSON object per line); the verdict and the
// summary come last.
#include <unistd.h>

#include <iostream>
#include <thread>

#include "cli.h"
#include "monitor.h"
#include "quenfold/checkpoint_verifier.h"

namespace quenfold::cli {
namespace {

// The bar lives on standard error, and only when that is a terminal: piped
// or redirected output never carries it.
class ProgressBar {
 public:
  ProgressBar() : enabled_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressBar() {
    if (enabled_) std::cerr << "\r\033[K" << std::flush;
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  std::function<void(std::size_t, std::size_t)> callback() {
    if (!enabled_) return {};
    return [](std::size_t done, std::size_t total) {
      if (total == 0) return;
      constexpr std::size_t kWidth = 40;
      const std::size_t filled = done * kWidth / total;
      std::cerr << "\rmonitor [" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
                << done * 100 / total << "%" << std::flush;
    };
  }

 private:
  bool enabled_;
};

Outcome monitor_session(const Options& o) {
  const std::string origin = o.raw("origin");
  if (o.has("keys") == o.has("policy")) throw UsageError("give exactly one of --keys and --policy");
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  if (o.has("threads")) {
    const std::uint64_t t = o.u64("threads");
    if (t < 1 || t > 1024) throw UsageError("--threads must be from 1 to 1024");
    threads = static_cast<unsigned>(t);
  }
  std::optional<CheckpointVerifier> verifier;
  if (o.has("keys")) {
    const auto texts = o.lines("keys");
    auto keys = VerifierList::parse(std::span<const std::string>(texts));
    if (!keys) return rejected(keys.error());
    verifier.emplace(origin, std::move(*keys));
  } else {
    auto policy = WitnessPolicy::parse(o.text("policy"));
    if (!policy) return rejected(policy.error());
    verifier.emplace(origin, std::move(*policy));
  }
  const std::string input = o.has("input") ? o.text("input") : read_standard_input();

  monitor::Results results;
  {
    ProgressBar bar;
    results = monitor::run(input, *verifier, threads, bar.callback());
  }
  std::string items;
  for (const auto& r : results) {
    if (o.json()) {
      items += monitor::to_json_line(r) + "\n";
    } else if (r.error) {
      items += monitor::to_text_line(r) + "\n";
    }
  }
  std::cout << items;

  const monitor::Summary s = monitor::summarize(results);
  Fields summary;
  summary.number("items", s.items)
      .number("verified", s.verified)
      .number("rejected", s.rejected())
      .number("checkpoints", s.checkpoints)
      .number("inclusions", s.inclusions);
  Outcome out = verified(Fields().record("summary", summary));
  if (s.rejected() != 0) {
    out.verified = false;
    out.message = std::to_string(s.rejected()) + " of " + std::to_string(s.items) + " items did not verify";
  }
  return out;
}

}  // namespace

void register_monitor(Registry& r) {
  r.add("monitor",
        "Verifies a monitoring session of JSON lines on every core: checkpoints of --origin signed by --keys "
        "or meeting the witness --policy (C2SP tlog-policy), each after the first with its consistency proof "
        "from the previous one, and inclusion proofs under the latest checkpoint before them. Prints each "
        "rejected item (every item with --json, one JSON object per line), then the verdict and a summary; "
        "a progress bar is drawn on standard error when it is a terminal.",
        "quenfold-verify monitor --origin log.example.org/monitored/v1 --policy @examples/monitor/policy.txt "
        "--input @examples/monitor/session.jsonl",
        monitor_session)
      .required("origin", "ORIGIN", "The origin line every checkpoint must carry")
      .optional("keys", "KEY[,KEY...]|@FILE",
                "The log's verifier keys (cosignature/v1 witness keys may be listed too): @FILE with one per "
                "line, or comma-separated")
      .optional("policy", "@FILE", "A witness policy in the C2SP tlog-policy format, instead of --keys")
      .optional("input", "@FILE|-",
                "The session (default: standard input), one JSON object per line: "
                "{\"type\":\"checkpoint\",\"note\":TEXT,\"consistency\":[HEX,...]} or "
                "{\"type\":\"inclusion\",\"index\":N,\"leaf_hash\":HEX,\"proof\":[HEX,...]}")
      .optional("threads", "N", "Worker threads (default: one per core)");
}

}  // namespace quenfold::cli
