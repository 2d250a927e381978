// monitor: a session of checkpoints and proofs as JSON lines, verified on
// every core and printed as it goes, a window of lines at a time: each
// rejected item (with --json, every item, one JSON object per line), each
// stale checkpoint and each fork of the log; the verdict and the summary
// come last.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <thread>

#include "cli.h"
#include "monitor.h"
#include "quenfold/checkpoint_verifier.h"

namespace quenfold::cli {
namespace {

constexpr int kForked = 3;

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

  monitor::Progress callback() {
    if (!enabled_) return {};
    return [](std::uint64_t done, std::uint64_t total) {
      if (total == 0) {
        // Standard input, or another stream of unknown size.
        std::cerr << "\rmonitor: " << done / 1000000 << " MB read" << std::flush;
        return;
      }
      done = std::min(done, total);
      constexpr std::uint64_t kWidth = 40;
      const std::uint64_t filled = done * kWidth / total;
      std::cerr << "\rmonitor [" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
                << done * 100 / total << "%" << std::flush;
    };
  }

 private:
  bool enabled_;
};

Outcome verify_session(const Options& o) {
  const std::string origin = o.raw("origin");
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  if (o.has("threads")) {
    const std::uint64_t t = o.u64("threads");
    if (t < 1 || t > 1024) throw UsageError("--threads must be from 1 to 1024");
    threads = static_cast<unsigned>(t);
  }
  // The session is read as it is verified, never whole: from a file, from
  // standard input, or (given inline) from the argument itself.
  const std::string given = o.has("input") ? o.raw("input") : "-";
  if (given == "-") {
    for (const char* other : {"keys", "policy"})
      if (o.has(other) && o.raw(other) == "-") throw UsageError("only one value can come from standard input (-)");
  }
  const CheckpointVerifier verifier = log_verifier(o, origin);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
  std::optional<monitor::Source> source;
  if (given == "-") {
    source.emplace(stdin, "standard input");
  } else if (given.starts_with('@')) {
    const std::string path = given.substr(1);
    errno = 0;
    file.reset(std::fopen(path.c_str(), "rb"));
    if (!file) throw UsageError("cannot read " + path + ": " + std::strerror(errno));
    source.emplace(file.get(), path);
  } else {
    source.emplace(given);
  }

  monitor::Summary s;
  try {
    ProgressBar bar;
    std::string out;
    const bool json = o.json();
    s = monitor::run(
        *source, verifier, threads,
        [&](const monitor::ItemResult& r) {
          if (json) {
            out += monitor::to_json_line(r);
            out += '\n';
            if (r.fork) (out += monitor::fork_json_line(*r.fork)) += '\n';
          } else {
            if (r.error || r.stale) (out += monitor::to_text_line(r)) += '\n';
            if (r.fork) (out += monitor::fork_text_line(*r.fork)) += '\n';
          }
          // Printed in blocks, and at the end of each window: the output is
          // never held longer than a window takes.
          if (out.size() >= (std::size_t{1} << 16)) {
            std::cout << out;
            out.clear();
          }
        },
        bar.callback(),
        [&] {
          std::cout << out << std::flush;
          out.clear();
        });
  } catch (const monitor::InputError& e) {
    throw UsageError(e.what());
  }

  Fields summary;
  summary.number("items", s.items)
      .number("verified", s.verified)
      .number("rejected", s.rejected())
      .number("checkpoints", s.checkpoints)
      .number("inclusions", s.inclusions)
      .number("stale", s.stale)
      .number("forks", s.forks);
  Outcome out = verified(Fields().record("summary", summary));
  if (s.forks != 0) {
    out.verified = false;
    out.status = kForked;
    out.message = "the log forked: " + std::to_string(s.forks) + " checkpoint" + (s.forks == 1 ? "" : "s") +
                  " not consistent with an earlier one, first on line " + std::to_string(s.first_fork_line) +
                  "; " + std::to_string(s.rejected()) + " of " + std::to_string(s.items) + " items did not verify";
  } else if (s.checkpoints == 0) {
    out.verified = false;
    out.message = "the session has no checkpoint";
  } else if (s.rejected() != 0) {
    out.verified = false;
    out.message = std::to_string(s.rejected()) + " of " + std::to_string(s.items) + " items did not verify";
  }
  return out;
}

// Memory can run out whatever the limits (a small address space, many
// threads): that is reported as a failure to run, not a verdict.
Outcome monitor_session(const Options& o) {
  try {
    return verify_session(o);
  } catch (const std::bad_alloc&) {
    std::cout << std::flush;
    throw UsageError("out of memory while verifying the session");
  }
}

}  // namespace

void register_monitor(Registry& r) {
  r.add("monitor",
        "Verifies a monitoring session of JSON lines on every core: checkpoints of --origin signed by the log "
        "(--keys, or the log lines of a witness --policy in the C2SP tlog-policy format named --origin) and "
        "cosigned by the policy's quorum, and inclusion proofs under the latest checkpoint line before them. "
        "The reference is the largest checkpoint accepted so far; the first needs no proof, and each later "
        "one carries the RFC 6962 consistency proof from the reference when it is larger, to the reference "
        "when it is smaller (a stale checkpoint: verified, marked stale, not the reference), and none when "
        "it has the same size (then the same root). A checkpoint signed by the log that is not consistent "
        "with the reference is a fork: rejected, reported as a fork record, and the exit status is 3. A line "
        "holds at most 1 MiB and nests at most 64 deep. Prints each rejected or stale item and each fork "
        "(every item with --json, one JSON object per line, forks as {\"type\":\"fork\",...}) as it goes, then "
        "the verdict and a summary; a session without a checkpoint does not verify. Exit status: 0 every item "
        "verified, 1 some did not, 2 bad usage, 3 the log forked. A progress bar is drawn on standard error "
        "when it is a terminal.",
        "quenfold-verify monitor --origin log.example.org/monitored/v1 --policy @examples/monitor/policy.txt "
        "--input @examples/monitor/session.jsonl",
        monitor_session)
      .required("origin", "ORIGIN", "The origin line every checkpoint must carry")
      .optional("keys", "KEY[,KEY...]|@FILE",
                "The log's verifier keys, which sign for --origin whatever their names (cosignature/v1 "
                "witness keys may be listed too, and never stand in for the log): @FILE with one per line, or "
                "comma-separated")
      .optional("policy", "@FILE",
                "A witness policy in the C2SP tlog-policy format: its quorum must cosign every checkpoint, "
                "and without --keys its log line named --origin is the log's key")
      .optional("input", "@FILE|-",
                "The session (default: standard input), one JSON object per line: "
                "{\"type\":\"checkpoint\",\"note\":TEXT,\"consistency\":[HEX,...]} or "
                "{\"type\":\"inclusion\",\"index\":N,\"leaf_hash\":HEX,\"proof\":[HEX,...]}")
      .optional("threads", "N", "Worker threads (default: one per core)");
}

}  // namespace quenfold::cli
