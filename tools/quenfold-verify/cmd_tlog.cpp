// tlog: reads a tiled log from a mirror directory or over http(s), verifies
// its checkpoint, then every hash tile (and with --entries every entry
// bundle or data tile) against it. With --state it is a monitor: the last
// verified checkpoint is kept, the next run reads only what was added and
// proves the new checkpoint consistent with the kept one from the tiles.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <thread>

#include "cli.h"
#include "encoding/text.h"
#include "quenfold/checkpoint_verifier.h"
#include "quenfold/merkle.h"
#include "signer_json.h"
#include "tlog_fetch.h"
#include "tlog_state.h"
#include "tlog_tree.h"

namespace quenfold::cli {
namespace {

using namespace tlog;

constexpr int kForked = 3;
constexpr std::size_t kMaxCheckpoint = std::size_t{1} << 20;

Format format_of(const Options& o) {
  if (!o.has("format")) return Format::TlogTiles;
  const std::string& f = o.raw("format");
  if (f == "tlog-tiles") return Format::TlogTiles;
  if (f == "static-ct") return Format::StaticCt;
  if (f == "sumdb") return Format::Sumdb;
  throw UsageError("--format must be tlog-tiles, static-ct or sumdb");
}

std::uint64_t bounded(const Options& o, const std::string& name, std::uint64_t lo, std::uint64_t hi,
                      std::uint64_t otherwise) {
  if (!o.has(name)) return otherwise;
  const std::uint64_t v = o.u64(name);
  if (v < lo || v > hi)
    throw UsageError("--" + name + " must be from " + std::to_string(lo) + " to " + std::to_string(hi));
  return v;
}

Hash32 hash32(const Bytes& b) {
  Hash32 h{};
  std::copy_n(b.begin(), std::min(b.size(), h.size()), h.begin());
  return h;
}

nlohmann::ordered_json hex_list(const std::vector<Hash32>& hashes) {
  auto out = nlohmann::ordered_json::array();
  for (const auto& h : hashes) out.push_back(encoding::hex_bytes(ByteView(h)));
  return out;
}

// On standard error, and only when it is a terminal.
class ProgressBar {
 public:
  ProgressBar() : enabled_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressBar() {
    if (enabled_) std::cerr << "\r\033[K" << std::flush;
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  std::function<void(std::uint64_t, std::uint64_t)> callback() const {
    if (!enabled_) return {};
    return [](std::uint64_t done, std::uint64_t total) {
      constexpr std::uint64_t kWidth = 40;
      const std::uint64_t filled = total == 0 ? kWidth : done * kWidth / total;
      std::cerr << "\rtlog [" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << done << "/"
                << total << " tiles" << std::flush;
    };
  }

 private:
  bool enabled_;
};

std::vector<Fields> failure_records(const std::vector<Failure>& failures) {
  std::vector<Fields> out;
  for (const auto& f : failures) {
    Fields r;
    r.text("tile", f.tile);
    if (f.entry) r.number("entry", *f.entry);
    r.text("reason", f.reason);
    out.push_back(std::move(r));
  }
  return out;
}

Outcome run_tlog(const Options& o) {
  const auto started = std::chrono::steady_clock::now();
  const std::string origin = o.raw("origin");
  const Format format = format_of(o);
  if (o.has("entries") && format == Format::Sumdb)
    throw UsageError("--entries is not available for sumdb: its data tiles hold records without lengths");
  CheckOptions check;
  check.format = format;
  check.entries = o.has("entries");
  check.threads = static_cast<unsigned>(
      bounded(o, "threads", 1, 1024, std::max(1u, std::thread::hardware_concurrency())));
  check.max_data_size = bounded(o, "max-size", 1024, std::uint64_t{1} << 32, std::size_t{64} << 20);
  FetchLimits limits;
  limits.deadline = std::chrono::seconds(bounded(o, "timeout", 1, 86400, 60));
  limits.low_speed_time = std::min(limits.low_speed_time, limits.deadline);
  const CheckpointVerifier verifier = log_verifier(o, origin);
  auto fetcher = open_log(o.raw("log"), limits);
  // Over http every worker waits on the network most of the time: many
  // requests in flight, still bounded.
  if (fetcher->kind() == "http" && !o.has("threads")) check.threads = 16;

  std::optional<StateFile> state;
  if (o.has("state")) state.emplace(o.raw("state"));

  // The checkpoint: given, or the log's own.
  std::string note;
  if (o.has("checkpoint")) {
    note = o.text("checkpoint", kMaxCheckpoint);
  } else {
    const std::string path = checkpoint_path(format);
    Fetched f = fetcher->get(path, kMaxCheckpoint);
    if (!f.ok) {
      Outcome out;
      out.message = "cannot read " + path + ": " + f.error;
      return out;
    }
    note = std::move(f.body);
  }
  const auto verified_cp = verifier.verify(note);
  if (!verified_cp) {
    Outcome out;
    out.message = "checkpoint: " + verified_cp.error().message();
    return out;
  }
  const CheckpointHead& head = verified_cp->head;

  // The stored checkpoint is the log's statement as much as the new one:
  // its signature and origin are verified again (a witness quorum it met
  // then is not asked of it twice).
  std::optional<CheckpointHead> stored;
  if (state && state->note()) {
    const auto s = verifier.verify_log_signature(*state->note());
    if (!s) throw UsageError("--state: the stored checkpoint does not verify: " + s.error().message());
    stored = s->head;
  }

  Fields summary;
  summary.text("origin", head.origin).number("size", head.size).bytes("root", head.root);
  if (stored) summary.number("previous_size", stored->size);

  auto fork = [&](std::uint64_t older, const std::vector<Hash32>& proof, std::optional<Hash32> computed) {
    Outcome out;
    out.status = kForked;
    out.message = "the log forked: the checkpoint of size " + std::to_string(head.size) +
                  " is not consistent with the stored checkpoint of size " + std::to_string(stored->size);
    Fields evidence;
    evidence.text("stored_checkpoint", *state->note()).text("checkpoint", note).number("older_size", older);
    if (computed) evidence.bytes("older_root_from_tiles", ByteView(*computed));
    evidence.json("consistency", hex_list(proof));
    out.fields.record("fork", evidence);
    return out;
  };

  if (stored && stored->size == head.size) {
    if (stored->root != head.root) return fork(head.size, {}, std::nullopt);
    summary.flag("unchanged", true);
  }

  CheckResult result;
  bool stale = false;
  if (!stored || stored->size != head.size) {
    // A checkpoint older than the stored one is checked from the stored
    // tree's tiles, which must still be served: both roots from one tree.
    const bool older = stored && head.size < stored->size;
    const std::uint64_t tree_size = older ? stored->size : head.size;
    const Hash32 tree_root = hash32(older ? stored->root : head.root);
    const std::uint64_t from = !stored ? 0 : older ? head.size : stored->size;
    ProgressBar bar;
    check.progress = bar.callback();
    TreeCheck tree(*fetcher, tree_size, tree_root, from, check);
    result = tree.check();
    if (result.failures.empty() && stored) {
      const auto proof = tree.consistency();
      const auto computed = tree.older_root();
      const Hash32 other_root = hash32(older ? head.root : stored->root);
      bool consistent = proof && computed && *computed == other_root;
      if (consistent) {
        std::vector<ByteView> views(proof->begin(), proof->end());
        consistent = verify_consistency(from, tree_size, views, ByteView(other_root), ByteView(tree_root)).has_value();
      }
      if (!consistent) return fork(from, proof.value_or(std::vector<Hash32>{}), computed);
      stale = older;
    }
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  summary.number("tiles", result.tiles)
      .number("entries", result.entries)
      .number("bytes", result.bytes)
      .json("seconds", std::round(seconds * 1000) / 1000);
  if (stale) summary.flag("stale", true);
  summary.json("log_signers", signers_json(verified_cp->log_signers))
      .json("cosigners", signers_json(verified_cp->cosigners));

  if (!result.failures.empty()) {
    Outcome out;
    out.message = std::to_string(result.failures.size()) + " failure" + (result.failures.size() == 1 ? "" : "s") +
                  ": nothing of the checkpoint of size " + std::to_string(head.size) + " was accepted";
    out.fields.record("summary", summary).records("failures", failure_records(result.failures));
    return out;
  }
  if (state && (!stored || head.size > stored->size)) state->replace(note);
  return verified(Fields().record("summary", summary));
}

// The rejected outcome prints only its message as text: the failures and
// the fork's evidence go before it, one line each.
Outcome tlog_command(const Options& o) {
  Outcome out = run_tlog(o);
  if (!out.verified && !o.json()) {
    const auto& j = out.fields.json();
    std::string text;
    if (j.contains("failures"))
      for (const auto& f : j["failures"]) {
        text += "failure: " + f["tile"].get<std::string>();
        if (f.contains("entry")) text += " (entry " + std::to_string(f["entry"].get<std::uint64_t>()) + ")";
        text += ": " + f["reason"].get<std::string>() + "\n";
      }
    if (j.contains("fork")) {
      const auto& e = j["fork"];
      text += "fork: stored checkpoint:\n" + e["stored_checkpoint"].get<std::string>();
      text += "fork: checkpoint:\n" + e["checkpoint"].get<std::string>();
      if (e.contains("older_root_from_tiles"))
        text += "fork: root of the first " + std::to_string(e["older_size"].get<std::uint64_t>()) +
                " entries from the tiles: " + e["older_root_from_tiles"].get<std::string>() + "\n";
      for (const auto& h : e["consistency"]) text += "fork: consistency hash: " + h.get<std::string>() + "\n";
    }
    std::cout << text;
  }
  return out;
}

}  // namespace

void register_tlog(Registry& r) {
  r.add("tlog",
        "Verifies a tiled log (C2SP tlog-tiles, static-ct-api or Go sumdb tile paths) read from a mirror "
        "directory or over http(s): its checkpoint (of --origin, signed by the log's --keys or the log line "
        "of a witness --policy, and cosigned by the policy's quorum; or --checkpoint instead of the log's "
        "own), then every hash tile against the checkpoint's root, and with --entries every entry bundle or "
        "data tile against its hash tile. Prints a summary (size, root, tiles and entries verified, bytes "
        "read, seconds) and one record per failure naming the tile or entry and the reason; anything that "
        "fails rejects the whole checkpoint. Over http: many requests in flight, retries with back-off "
        "(honouring 429 and Retry-After), a low-speed limit and --timeout per request, gzip accepted with "
        "the decoded size capped, no redirect to another host or scheme. From a directory only regular "
        "files inside it are read. With --state FILE it is a monitor: the last verified checkpoint is kept "
        "in FILE (written atomically, mode 0600, under a lock beside it), the next run reads only the tiles "
        "added since and proves the new checkpoint consistent with the kept one from the tiles; an older "
        "checkpoint consistent with it is stale (verified, the state kept); one inconsistent with it is a "
        "fork, printed with both notes and the consistency hashes from the tiles. Exit status: 0 verified, "
        "1 rejected, 2 bad usage, 3 the log forked. A progress bar is drawn on standard error when it is a "
        "terminal.",
        "quenfold-verify tlog --log examples/tlog/log --origin example.org/tlog/demo "
        "--keys @examples/tlog/log.vkey --entries",
        tlog_command)
      .required("log", "URL|DIR", "The log's prefix: an http:// or https:// URL, or a mirror directory")
      .required("origin", "ORIGIN", "The origin line the checkpoint must carry")
      .optional("keys", "KEY[,KEY...]|@FILE",
                "The log's verifier keys, which sign for --origin whatever their names (cosignature/v1 "
                "witness keys may be listed too): @FILE with one per line, or comma-separated")
      .optional("policy", "@FILE",
                "A witness policy in the C2SP tlog-policy format: its quorum must cosign the checkpoint, "
                "and without --keys its log line named --origin is the log's key")
      .optional("checkpoint", "TEXT|@FILE", "The checkpoint to verify instead of the one the log serves")
      .flag("entries", "Also verify every entry bundle (tlog-tiles) or data tile (static-ct) against its hash tile")
      .optional("format", "FORMAT",
                "tlog-tiles (default: /checkpoint, tile/<L>/<N>, tile/entries/<N>), static-ct (/checkpoint, "
                "tile/<L>/<N>, tile/data/<N>, gzip) or sumdb (/latest, tile/8/<L>/<N>; no --entries)")
      .optional("state", "FILE", "Monitor: the last verified checkpoint, read at the start and replaced at the end")
      .optional("threads", "N", "Worker threads (default: one per core; 16 requests in flight over http)")
      .optional("max-size", "BYTES", "The most a data tile or entry bundle may hold (default: 64 MiB)")
      .optional("timeout", "SECONDS", "The deadline of one request, retries included (default: 60)");
}

}  // namespace quenfold::cli
