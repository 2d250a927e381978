// The monitor: a stream of JSON lines (checkpoints of one log, and inclusion
// proofs under them) verified on several threads, one result per item in
// input order, with the log's forks reported apart.
//
// Input, one JSON object per line (blank lines are skipped; a line holds at
// most kMaxLineBytes bytes, and a longer one is rejected without being read
// into memory):
//   {"type":"checkpoint","note":"<signed note>","consistency":["<hex>",...]}
//       a checkpoint of the monitored log
//   {"type":"inclusion","index":N,"leaf_hash":"<hex>","proof":["<hex>",...]}
//       an inclusion proof under the latest checkpoint line before it
// Keys appear once per object; objects and arrays nest at most kMaxDepth
// deep; hex is two digits (either case) per byte.
//
// The reference. A checkpoint is accepted when CheckpointVerifier::verify
// passes (signature, origin, witness quorum) and it is consistent with the
// reference: the largest checkpoint accepted so far. The first checkpoint
// accepted becomes the reference without a proof (any proof it carries
// relates it to nothing verified and is not read). After that, a
// checkpoint's "consistency" proof relates it to the reference (RFC 6962
// section 2.1.2):
//   - larger than the reference: the proof from the reference to it; it
//     becomes the reference;
//   - smaller: the proof from it to the reference; it is "stale" (caches
//     and witnesses lag), verified but not the reference;
//   - the same size: no proof (absent, null or []), and the roots are equal.
// When every checkpoint grows, this is the proof from the previous
// checkpoint line. A size that differs from the reference's with no proof is
// rejected, and proves nothing either way.
//
// A fork. A checkpoint that carries the log's own signature
// (CheckpointVerifier::verify_log_signature, whether or not its witnesses
// met the quorum) and is not consistent with the reference (the same size
// with another root, or a consistency proof that fails) shows that the log
// signed two views of its history that cannot both be true. It is rejected,
// the reference stays, and the item's result carries a Fork record.
//
// Inclusion proofs are checked under the latest checkpoint line before them,
// which must have been accepted (stale ones included).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "quenfold/checkpoint_verifier.h"
#include "quenfold/types.h"

namespace quenfold::cli::monitor {

// A checkpoint note has at most 100 signature lines of a few kilobytes each
// (C2SP signed-note), and an inclusion proof at most 64 hashes: a megabyte
// is far above any honest line.
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;
// Containers nested in one line, the object itself counted.
inline constexpr std::size_t kMaxDepth = 64;
// A window: enough lines that the threads' two passes dwarf the hand-over
// between them, few enough bytes that memory stays small whatever the
// session's size.
inline constexpr std::size_t kWindowLines = 4096;
inline constexpr std::size_t kWindowBytes = std::size_t{4} << 20;

enum class ItemType : std::uint8_t { Checkpoint, Inclusion, Unknown };
const char* name_of(ItemType t) noexcept;  // "checkpoint", "inclusion", "unknown"

// Two checkpoints that both carry the log's signature and are not
// consistent with each other.
struct Fork {
  std::size_t line = 0;            // the checkpoint that forked
  std::size_t reference_line = 0;  // the reference it contradicts
  CheckpointHead head;             // of the checkpoint that forked
  CheckpointHead reference;        // of the reference
  std::string note;
  std::string reference_note;
  std::vector<Bytes> consistency;  // the proof it carried
  std::string error;               // why they are not consistent: "the same size with another root",
                                   // or "the consistency proof fails: <reason>"
};

struct ItemResult {
  std::size_t line = 0;  // from 1
  ItemType type = ItemType::Unknown;
  std::optional<std::string> error;              // nullopt: verified
  std::optional<VerifiedCheckpoint> checkpoint;  // an accepted checkpoint
  std::uint64_t index = 0;                       // an inclusion proof's leaf index
  bool stale = false;                            // an accepted checkpoint behind the reference
  std::size_t reference_line = 0;                // for a stale checkpoint
  std::optional<Fork> fork;
};

struct Summary {
  std::size_t items = 0;
  std::size_t verified = 0;
  std::size_t checkpoints = 0;
  std::size_t inclusions = 0;
  std::size_t stale = 0;
  std::size_t forks = 0;
  std::size_t first_fork_line = 0;  // 0: none
  std::size_t rejected() const noexcept { return items - verified; }
};

// A failure to read the session itself (not a rejected line).
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One non-blank line of a session, as a view that stays valid until the
// source is asked for the next window.
struct Line {
  std::string_view text;
  std::size_t number = 0;  // from 1
  bool too_long = false;   // longer than kMaxLineBytes: `text` is empty
};

// Where a session's lines come from: a text in memory (read in place), or a
// stream read in blocks into one reused buffer. Either way lines are handed
// out a window at a time, and a line longer than kMaxLineBytes is skipped
// to its end without being kept, so memory is bounded by the window.
class Source {
 public:
  explicit Source(std::string_view text);
  // `stream` stays the caller's; `name` names it in read errors.
  Source(std::FILE* stream, std::string name);

  // The session's size when it is known (a text, a regular file), else 0.
  std::uint64_t total_bytes() const noexcept { return total_; }
  // Bytes consumed so far.
  std::uint64_t bytes_read() const noexcept { return consumed_; }

  // Replaces `lines` with the next non-blank lines: at most `max_lines`,
  // and no more once `max_bytes` are gathered (always at least one line
  // when any is left). A too-long line ends its window. False at the end of
  // the session. Throws InputError when the stream cannot be read.
  bool next(std::vector<Line>& lines, std::size_t max_lines, std::size_t max_bytes);

 private:
  bool fill();  // reads more of the stream into buffer_; false at its end

  std::string_view text_;
  std::FILE* stream_ = nullptr;
  std::string name_;
  std::string buffer_;     // the stream's bytes not yet handed out
  std::size_t start_ = 0;  // where the next line starts in the text or buffer_
  bool ended_ = false;     // the stream reached its end
  bool skipping_ = false;  // inside a too-long line, discarding to its end
  std::size_t number_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t consumed_ = 0;
};

// Called for each result in input order, from the calling thread.
using Each = std::function<void(const ItemResult&)>;
// Bytes of the session done (an estimate within a window) and its total
// size, 0 when unknown; called from the calling thread about ten times a
// second at most.
using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Called after the last result of each window, from the calling thread:
// where the caller flushes what it printed.
using WindowDone = std::function<void()>;

// Verifies a session window by window on `threads` threads (at least 1; the
// calling thread is one of them, and when the system starts fewer the run
// goes on with those that started): each window's lines are read and its
// checkpoints' signatures checked in parallel, its checkpoints accepted in
// order against the reference, its inclusion proofs checked in parallel,
// and its results handed to `each` (then `window_done` called) before the
// next window is read. Only the
// reference and the latest checkpoint are carried from one window to the
// next. Throws InputError, and std::bad_alloc when memory runs out.
// `window_lines` (at least 1) is for tests that cross many windows.
Summary run(Source& session, const CheckpointVerifier& verifier, unsigned threads, const Each& each = {},
            const Progress& progress = {}, const WindowDone& window_done = {},
            std::size_t window_lines = kWindowLines);

// One result as a JSON object on one line (roots as lower-case hex).
std::string to_json_line(const ItemResult& r);
// A fork as one JSON object: {"type":"fork","line","reference_line","size",
// "root","reference_size","reference_root","reference_note","note",
// "consistency":[hex...],"error"}.
std::string fork_json_line(const Fork& f);
// "line N: <type>: rejected: <message>", or for a stale checkpoint
// "line N: checkpoint: verified: stale ...", for the text output.
std::string to_text_line(const ItemResult& r);
// "line N: fork: ..." for the text output.
std::string fork_text_line(const Fork& f);

}  // namespace quenfold::cli::monitor
