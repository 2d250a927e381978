// The monitor's engine: a session verified window by window. Within a
// window the expensive work (reading JSON, checking signatures, hashing
// audit paths) runs on every thread, and the decisions that depend on the
// order of the lines (which checkpoint is the reference, which checkpoint an
// inclusion proof rests on, whether the log forked) are taken on the calling
// thread between the two passes, which costs a few hashes per checkpoint.
#include "monitor.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "monitor_line.h"
#include "monitor_pool.h"
#include "quenfold/merkle.h"

namespace quenfold::cli::monitor {
namespace {

// Items handed to a thread at a time: large enough that the shared counter
// is not contended, small enough that the threads finish together.
constexpr std::size_t kChunk = 16;

// One line's item, its result and what the passes hand each other.
struct Slot {
  ItemResult result;
  Item item;
  // A checkpoint that failed verify() but carries the log's signature:
  // whether it forked is still to be decided.
  std::optional<VerifiedCheckpoint> log_signed;
  // An inclusion proof's checkpoint: its line (0: none before it) and head
  // (null: that checkpoint was rejected).
  std::size_t anchor_line = 0;
  const CheckpointHead* anchor = nullptr;
};

// The largest accepted checkpoint.
struct Reference {
  std::size_t line = 0;
  CheckpointHead head;
  std::string note;
};

class Engine {
 public:
  Engine(const CheckpointVerifier& verifier, unsigned threads, std::size_t window_lines)
      : verifier_(verifier), pool_(threads), window_lines_(window_lines) {}

  Summary run(Source& source, const Each& each, const Progress& progress, const WindowDone& window_done) {
    using Clock = std::chrono::steady_clock;
    Summary summary;
    std::vector<Line> lines;
    Clock::time_point last_tick = Clock::now();
    for (;;) {
      const std::uint64_t before = source.bytes_read();
      if (!source.next(lines, window_lines_, kWindowBytes)) break;
      const std::uint64_t after = source.bytes_read();
      const std::size_t n = lines.size();
      if (slots_.size() < n) slots_.resize(n);
      const auto tick = [&](std::size_t done) {
        if (!progress || Clock::now() - last_tick < std::chrono::milliseconds(100)) return;
        last_tick = Clock::now();
        progress(before + (after - before) * done / (2 * n), source.total_bytes());
      };
      window(lines, tick);
      for (std::size_t i = 0; i < n; ++i) {
        const ItemResult& r = slots_[i].result;
        ++summary.items;
        if (!r.error) ++summary.verified;
        if (r.type == ItemType::Checkpoint) ++summary.checkpoints;
        if (r.type == ItemType::Inclusion) ++summary.inclusions;
        if (r.stale) ++summary.stale;
        if (r.fork) {
          if (summary.forks++ == 0) summary.first_fork_line = r.line;
        }
        if (each) each(r);
      }
      if (window_done) window_done();
    }
    if (progress) progress(source.bytes_read(), source.total_bytes());
    return summary;
  }

 private:
  void window(const std::vector<Line>& lines, const std::function<void(std::size_t)>& tick) {
    // The latest checkpoint line, carried in from the previous window until
    // this one has its own.
    std::size_t latest_line = carried_line_;
    const CheckpointHead* latest = carried_ ? &*carried_ : nullptr;
    run_two_passes(
        pool_, lines.size(), kChunk,
        [&](std::size_t begin, std::size_t end) {
          for (std::size_t i = begin; i < end; ++i) read(lines[i], slots_[i]);
        },
        [&] {
          for (std::size_t i = 0; i < lines.size(); ++i) {
            Slot& s = slots_[i];
            if (s.result.type == ItemType::Checkpoint) {
              latest_line = s.result.line;
              latest = accept(s);
            } else if (s.result.type == ItemType::Inclusion) {
              s.anchor_line = latest_line;
              s.anchor = latest;
            }
          }
        },
        [&](std::size_t begin, std::size_t end) {
          for (std::size_t i = begin; i < end; ++i) prove(slots_[i]);
        },
        tick);
    if (latest != (carried_ ? &*carried_ : nullptr)) {
      carried_ = latest ? std::optional<CheckpointHead>(*latest) : std::nullopt;
    }
    carried_line_ = latest_line;
  }

  // Pass 1: the line's JSON, and a checkpoint's signatures.
  void read(const Line& line, Slot& s) const {
    s = Slot{};
    ItemResult& r = s.result;
    r.line = line.number;
    if (line.too_long) {
      r.error = "line longer than " + std::to_string(kMaxLineBytes) + " bytes";
      return;
    }
    r.error = read_item(line.text, s.item);
    r.type = s.item.type;
    if (r.error) return;
    if (r.type == ItemType::Inclusion) r.index = s.item.index;
    if (r.type != ItemType::Checkpoint) return;
    auto c = verifier_.verify(s.item.note);
    if (c) {
      r.checkpoint = std::move(*c);
      return;
    }
    r.error = c.error().message();
    // Rejected, but perhaps still the log's word: then it may be a fork.
    if (auto l = verifier_.verify_log_signature(s.item.note)) s.log_signed = std::move(*l);
  }

  // Between the passes, in line order: whether a checkpoint is accepted,
  // stale or a fork. Returns its head when it is accepted.
  const CheckpointHead* accept(Slot& s) {
    ItemResult& r = s.result;
    if (r.error && !s.log_signed) return nullptr;  // malformed, or not the log's
    const CheckpointHead& head = r.checkpoint ? r.checkpoint->head : s.log_signed->head;
    if (!reference_) {
      if (r.error) return nullptr;
      reference_ = Reference{r.line, head, s.item.note};
      return &r.checkpoint->head;
    }
    const Reference& ref = *reference_;
    const std::string at = "the checkpoint on line " + std::to_string(ref.line);
    const std::vector<ByteView> proof = s.item.has_consistency ? s.item.consistency.views() : std::vector<ByteView>{};
    std::optional<std::string> fork, unproven;
    if (head.size == ref.head.size) {
      if (head.root != ref.head.root) {
        fork = "the same size with another root";
      } else if (!proof.empty()) {
        unproven = "a consistency proof, but " + at + " has the same size";
      }
    } else if (std::min(head.size, ref.head.size) == 0) {
      // Every tree extends the empty tree, and no proof says so.
      if (!proof.empty()) unproven = "a consistency proof with an empty tree (" + at + " or this one)";
    } else if (proof.empty()) {
      unproven = std::string("missing consistency proof ") + (head.size > ref.head.size ? "from " : "to ") + at;
    } else {
      const bool grows = head.size > ref.head.size;
      const CheckpointHead& older = grows ? ref.head : head;
      const CheckpointHead& newer = grows ? head : ref.head;
      const auto c = verify_consistency(older.size, newer.size, proof, older.root, newer.root);
      if (!c) fork = "the consistency proof fails: " + c.error().message();
    }
    if (fork) {
      r.error = "fork: not consistent with " + at + ": " + *fork;
      r.fork = Fork{r.line, ref.line, head, ref.head, s.item.note, ref.note, s.item.consistency.copies(), *fork};
      r.checkpoint.reset();
      return nullptr;
    }
    if (r.error) return nullptr;  // consistent, but its witnesses fell short
    if (unproven) {
      r.error = *unproven;
      r.checkpoint.reset();
      return nullptr;
    }
    if (head.size > ref.head.size) {
      reference_ = Reference{r.line, head, s.item.note};
    } else if (head.size < ref.head.size) {
      r.stale = true;
      r.reference_line = ref.line;
    }
    return &r.checkpoint->head;
  }

  // Pass 2: an inclusion proof under its checkpoint. The item's decoded
  // data is released here, by the thread that allocated it.
  void prove(Slot& s) const {
    ItemResult& r = s.result;
    if (r.type == ItemType::Inclusion && !r.error) {
      if (s.anchor_line == 0) {
        r.error = "no checkpoint before this inclusion proof";
      } else if (s.anchor == nullptr) {
        r.error = "its checkpoint (line " + std::to_string(s.anchor_line) + ") was rejected";
      } else {
        const auto proof = s.item.proof.views();
        const auto v = verify_inclusion(r.index, s.anchor->size, s.item.leaf_hash, proof, s.anchor->root);
        if (!v) r.error = v.error().message();
      }
    }
    s.item = Item{};
    s.log_signed.reset();
  }

  const CheckpointVerifier& verifier_;
  Pool pool_;
  std::size_t window_lines_;
  std::vector<Slot> slots_;  // reused from window to window
  std::optional<Reference> reference_;
  std::size_t carried_line_ = 0;
  std::optional<CheckpointHead> carried_;
};

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

Summary run(Source& session, const CheckpointVerifier& verifier, unsigned threads, const Each& each,
            const Progress& progress, const WindowDone& window_done, std::size_t window_lines) {
  Engine engine(verifier, std::max(1u, threads), std::max<std::size_t>(1, window_lines));
  return engine.run(session, each, progress, window_done);
}

}  // namespace quenfold::cli::monitor
