#include "monitor.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "encoding/base64.h"
#include "encoding/text.h"
#include "quenfold/merkle.h"

namespace quenfold::cli::monitor {
namespace {

using nlohmann::json;
// Results keep their fields in the order written.
using out_json = nlohmann::ordered_json;

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// Items handed to a worker at a time: large enough that the shared counter
// is not contended, small enough that the threads finish together.
constexpr std::size_t kChunk = Results::kBlock;

// Hex strings decoded into one buffer, so that a proof of twenty nodes
// costs two allocations rather than twenty-one: thousands of items stay
// alive between the two passes, and their allocations are most of the
// engine's memory traffic.
struct HexList {
  Bytes data;
  std::vector<std::size_t> ends;  // entry k is data[ends[k - 1], ends[k])
  std::vector<ByteView> views() const {
    std::vector<ByteView> out;
    out.reserve(ends.size());
    std::size_t begin = 0;
    for (const std::size_t end : ends) {
      out.emplace_back(data.data() + begin, end - begin);
      begin = end;
    }
    return out;
  }
};

struct Work {
  std::string note;
  bool has_consistency = false;
  HexList consistency;
  Bytes leaf_hash;
  HexList proof;
};

// Appends the bytes of a hex string; false if it is not one.
bool append_hex(const json& j, Bytes& out) {
  if (!j.is_string()) return false;
  const auto& s = j.get_ref<const std::string&>();
  if (s.size() % 2 != 0) return false;
  const std::size_t at = out.size();
  out.resize(at + s.size() / 2);
  for (std::size_t i = 0; i < s.size() / 2; ++i) {
    const int hi = encoding::hex_value(s[2 * i]), lo = encoding::hex_value(s[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[at + i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return true;
}

std::optional<Bytes> hex_of(const json& j) {
  Bytes out;
  if (!append_hex(j, out)) return std::nullopt;
  return out;
}

std::optional<HexList> hex_list_of(const json& j) {
  if (!j.is_array()) return std::nullopt;
  HexList out;
  out.ends.reserve(j.size());
  std::size_t total = 0;
  for (const auto& e : j) total += e.is_string() ? e.get_ref<const std::string&>().size() / 2 : 0;
  out.data.reserve(total);
  for (const auto& e : j) {
    if (!append_hex(e, out.data)) return std::nullopt;
    out.ends.push_back(out.data.size());
  }
  return out;
}

// Reads one line into its work item; the error text on failure.
std::optional<std::string> read_item(std::string_view line, ItemResult& r, Work& w) {
  const json j = json::parse(line.begin(), line.end(), nullptr, false);
  if (j.is_discarded() || !j.is_object()) return "not a JSON object";
  const auto type = j.find("type");
  if (type == j.end() || !type->is_string()) return "missing \"type\"";
  if (*type == "checkpoint") {
    r.type = ItemType::Checkpoint;
    const auto note = j.find("note");
    if (note == j.end() || !note->is_string()) return "missing \"note\" text";
    w.note = note->get<std::string>();
    if (const auto c = j.find("consistency"); c != j.end()) {
      auto proof = hex_list_of(*c);
      if (!proof) return "\"consistency\" is not a list of hex strings";
      w.has_consistency = true;
      w.consistency = std::move(*proof);
    }
    return std::nullopt;
  }
  if (*type == "inclusion") {
    r.type = ItemType::Inclusion;
    const auto index = j.find("index");
    if (index == j.end() || !index->is_number_unsigned()) return "missing \"index\" (an unsigned integer)";
    r.index = index->get<std::uint64_t>();
    const auto leaf = j.find("leaf_hash");
    auto leaf_hash = leaf == j.end() ? std::nullopt : hex_of(*leaf);
    if (!leaf_hash) return "missing \"leaf_hash\" (hex)";
    w.leaf_hash = std::move(*leaf_hash);
    const auto proof = j.find("proof");
    auto path = proof == j.end() ? std::nullopt : hex_list_of(*proof);
    if (!path) return "missing \"proof\" (a list of hex strings)";
    w.proof = std::move(*path);
    return std::nullopt;
  }
  return "unknown type " + encoding::echoed(type->get<std::string>());
}

// Runs read(begin, end) and then prove(begin, end) over chunks of [0, n) on
// `threads` threads, with every read done before any prove starts and
// between() run on one thread after the last read. The same threads run
// both passes, and each proves the chunks it read: their items are still in
// its cache, and what it allocated for them goes back to its own allocator
// arena rather than to another thread's. Reads are handed out as threads
// ask for them, so an expensive item (a checkpoint's signatures) does not
// hold up the others. The calling thread reports progress meanwhile. An
// exception thrown by read or prove is rethrown here once every thread has
// stopped.
template <class Read, class Between, class Prove>
void run_two_passes(std::size_t n, unsigned threads, const Read& read, const Between& between, const Prove& prove,
                    const std::function<void(std::size_t)>& tick) {
  const unsigned count = std::max(1u, threads);
  std::atomic<std::size_t> next{0}, done{0};
  std::vector<std::vector<std::size_t>> taken(count);  // the chunks each thread read
  std::exception_ptr failure;
  std::mutex lock;
  std::condition_variable finished;
  unsigned running = count;
  const auto guarded = [&](const auto& pass, std::size_t begin) {
    const std::size_t end = std::min(n, begin + kChunk);
    try {
      pass(begin, end);
    } catch (...) {
      const std::scoped_lock hold(lock);
      if (!failure) failure = std::current_exception();
    }
    done.fetch_add(end - begin, std::memory_order_relaxed);
  };
  std::barrier sync(static_cast<std::ptrdiff_t>(count), [&]() noexcept { between(); });
  const auto worker = [&](unsigned t) {
    for (std::size_t begin; (begin = next.fetch_add(kChunk, std::memory_order_relaxed)) < n;) {
      taken[t].push_back(begin);
      guarded(read, begin);
    }
    sync.arrive_and_wait();
    for (const std::size_t begin : taken[t]) guarded(prove, begin);
    const std::scoped_lock hold(lock);
    if (--running == 0) finished.notify_one();
  };
  std::vector<std::thread> pool;
  pool.reserve(count);
  for (unsigned t = 0; t < count; ++t) pool.emplace_back(worker, t);
  if (tick) {
    std::unique_lock hold(lock);
    while (running != 0) {
      finished.wait_for(hold, std::chrono::milliseconds(100));
      hold.unlock();
      tick(done.load(std::memory_order_relaxed));
      hold.lock();
    }
  }
  for (auto& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
}

out_json signers_json(const std::vector<Signer>& signers) {
  out_json out = out_json::array();
  for (const auto& s : signers) {
    out_json o = {{"name", s.name}, {"key_id", encoding::hex_fixed(s.key_id, 8)}};
    if (s.timestamp_seconds) o["timestamp"] = *s.timestamp_seconds;
    out.push_back(std::move(o));
  }
  return out;
}

}  // namespace

const char* name_of(ItemType t) noexcept {
  switch (t) {
    case ItemType::Checkpoint:
      return "checkpoint";
    case ItemType::Inclusion:
      return "inclusion";
    case ItemType::Unknown:
      break;
  }
  return "unknown";
}

Results run(std::string_view session, const CheckpointVerifier& verifier, unsigned threads,
            const std::function<void(std::size_t, std::size_t)>& progress) {
  // The non-blank lines, as views into the session, with their numbers.
  struct Line {
    std::string_view text;
    std::size_t number;
  };
  std::vector<Line> source;
  std::size_t number = 0;
  for (std::size_t start = 0; start < session.size();) {
    std::size_t end = session.find('\n', start);
    if (end == std::string_view::npos) end = session.size();
    const std::string_view line = session.substr(start, end - start);
    ++number;
    if (line.find_first_not_of(" \t\r") != std::string_view::npos) source.push_back({line, number});
    start = end + 1;
  }
  const std::size_t n = source.size();
  // The results, and what each item needs between the passes, a block per
  // chunk of each, allocated by the thread that reads and proves the chunk.
  Results out;
  out.size_ = n;
  out.blocks_.resize((n + kChunk - 1) / kChunk);
  const auto result = [&](std::size_t i) -> ItemResult& { return out.blocks_[i / kChunk][i % kChunk]; };
  std::vector<std::unique_ptr<Work[]>> work(out.blocks_.size());
  // Which checkpoint each item rests on, kept apart from the results so
  // that finding them touches a few kilobytes, not every result.
  std::vector<ItemType> types(n, ItemType::Unknown);
  std::vector<std::size_t> anchors(n, kNone);
  const std::function<void(std::size_t)> tick =
      progress ? std::function<void(std::size_t)>([&](std::size_t done) { progress(done, 2 * n); })
               : std::function<void(std::size_t)>();

  // 1. Read every item; verify every checkpoint's signatures and origin.
  const auto read = [&](std::size_t i, Work& w) {
    ItemResult& r = result(i);
    r.line = source[i].number;
    r.error = read_item(source[i].text, r, w);
    types[i] = r.type;
    if (r.error || r.type != ItemType::Checkpoint) return;
    auto c = verifier.verify(w.note);
    if (c) {
      r.checkpoint = std::move(*c);
    } else {
      r.error = c.error().message();
    }
  };
  // 3. The proofs. Only item i's own error is written, and no item reads
  // another's error, so a checkpoint whose link fails keeps its verified
  // head until the end for the inclusion proofs that rest on its
  // signatures, which did verify.
  const auto prove = [&](std::size_t i, const Work& w) {
    ItemResult& r = result(i);
    const std::size_t anchor = anchors[i];
    if (r.error) return;
    const auto line_of = [&](std::size_t k) { return std::to_string(result(k).line); };
    if (r.type == ItemType::Checkpoint) {
      if (anchor == kNone) {
        if (w.has_consistency) r.error = "consistency proof but no earlier checkpoint";
        return;
      }
      const ItemResult& prev = result(anchor);
      if (!w.has_consistency) {
        r.error = "missing consistency proof from the checkpoint on line " + line_of(anchor);
      } else if (!prev.checkpoint) {
        r.error = "the previous checkpoint (line " + line_of(anchor) + ") did not verify";
      } else {
        const auto& a = prev.checkpoint->head;
        const auto& b = r.checkpoint->head;
        const auto proof = w.consistency.views();
        const auto c = verify_consistency(a.size, b.size, proof, a.root, b.root);
        if (!c) r.error = "consistency with line " + line_of(anchor) + ": " + c.error().message();
      }
      return;
    }
    if (anchor == kNone) {
      r.error = "no checkpoint before this inclusion proof";
    } else if (!result(anchor).checkpoint) {
      r.error = "its checkpoint (line " + line_of(anchor) + ") did not verify";
    } else {
      const auto& h = result(anchor).checkpoint->head;
      const auto proof = w.proof.views();
      const auto v = verify_inclusion(r.index, h.size, w.leaf_hash, proof, h.root);
      if (!v) r.error = v.error().message();
    }
  };

  run_two_passes(
      n, threads,
      [&](std::size_t begin, std::size_t end) {
        out.blocks_[begin / kChunk] = std::make_unique<ItemResult[]>(end - begin);
        auto& block = work[begin / kChunk];
        block = std::make_unique<Work[]>(end - begin);
        for (std::size_t i = begin; i < end; ++i) read(i, block[i - begin]);
      },
      // 2. Anchor each item to the checkpoint line before it: the previous
      // checkpoint for a checkpoint, the latest one for an inclusion proof.
      [&]() noexcept {
        std::size_t latest = kNone;
        for (std::size_t i = 0; i < n; ++i) {
          if (types[i] == ItemType::Unknown) continue;
          anchors[i] = latest;
          if (types[i] == ItemType::Checkpoint) latest = i;
        }
      },
      [&](std::size_t begin, std::size_t end) {
        auto& block = work[begin / kChunk];
        if (!block) return;  // its read failed: the run ends in that exception
        for (std::size_t i = begin; i < end; ++i) prove(i, block[i - begin]);
        block.reset();
      },
      tick);
  if (progress) progress(2 * n, 2 * n);

  // A checkpoint that is rejected reports no head.
  for (std::size_t i = 0; i < n; ++i) {
    if (types[i] == ItemType::Checkpoint && result(i).error) result(i).checkpoint.reset();
  }
  return out;
}

Summary summarize(const Results& results) {
  Summary s;
  s.items = results.size();
  for (const auto& r : results) {
    if (!r.error) ++s.verified;
    if (r.type == ItemType::Checkpoint) ++s.checkpoints;
    if (r.type == ItemType::Inclusion) ++s.inclusions;
  }
  return s;
}

std::string to_json_line(const ItemResult& r) {
  out_json o = {{"line", r.line}, {"type", name_of(r.type)}, {"verified", !r.error}};
  if (r.error) {
    o["error"] = *r.error;
  } else if (r.checkpoint) {
    const auto& h = r.checkpoint->head;
    o["origin"] = h.origin;
    o["size"] = h.size;
    o["root"] = encoding::base64_encode(h.root);
    o["log_signers"] = signers_json(r.checkpoint->log_signers);
    o["cosigners"] = signers_json(r.checkpoint->cosigners);
  } else if (r.type == ItemType::Inclusion) {
    o["index"] = r.index;
  }
  return o.dump(-1, ' ', false, out_json::error_handler_t::replace);
}

std::string summary_json_line(const Summary& s) {
  const out_json o = {{"summary",
                   {{"items", s.items},
                    {"verified", s.verified},
                    {"rejected", s.rejected()},
                    {"checkpoints", s.checkpoints},
                    {"inclusions", s.inclusions}}}};
  return o.dump();
}

std::string to_text_line(const ItemResult& r) {
  return "line " + std::to_string(r.line) + ": " + name_of(r.type) + ": " +
         (r.error ? "rejected: " + *r.error : std::string("verified"));
}

std::string summary_text(const Summary& s) {
  return std::to_string(s.items) + " items (" + std::to_string(s.checkpoints) + " checkpoints, " +
         std::to_string(s.inclusions) + " inclusion proofs): " + std::to_string(s.verified) + " verified, " +
         std::to_string(s.rejected()) + " rejected";
}

}  // namespace quenfold::cli::monitor
