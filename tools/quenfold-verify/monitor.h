// The monitor: a stream of JSON lines (checkpoints, and inclusion proofs
// under the latest checkpoint) verified on several threads, one result per
// item in input order.
//
// Input, one JSON object per line (blank lines are skipped):
//   {"type":"checkpoint","note":"<signed note>","consistency":["<hex>",...]}
//       a checkpoint of the monitored log; every checkpoint after the first
//       carries the consistency proof from the previous checkpoint line
//   {"type":"inclusion","index":N,"leaf_hash":"<hex>","proof":["<hex>",...]}
//       an inclusion proof under the latest checkpoint line before it
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quenfold/checkpoint_verifier.h"

namespace quenfold::cli::monitor {

enum class ItemType : std::uint8_t { Checkpoint, Inclusion, Unknown };
const char* name_of(ItemType t) noexcept;  // "checkpoint", "inclusion", "unknown"

struct ItemResult {
  std::size_t line = 0;  // from 1
  ItemType type = ItemType::Unknown;
  std::optional<std::string> error;              // nullopt: verified
  std::optional<VerifiedCheckpoint> checkpoint;  // a checkpoint that verified
  std::uint64_t index = 0;                       // an inclusion proof's leaf index
};

struct Summary {
  std::size_t items = 0;
  std::size_t verified = 0;
  std::size_t checkpoints = 0;
  std::size_t inclusions = 0;
  std::size_t rejected() const noexcept { return items - verified; }
};

// The results of a run in input order. They are kept in blocks that the
// worker threads allocate and fill, each for the items it verifies, so that
// no single thread has to create (and have the system map) the memory for
// all of them before the work can start.
class Results {
 public:
  static constexpr std::size_t kBlock = 16;

  std::size_t size() const noexcept { return size_; }
  const ItemResult& operator[](std::size_t i) const noexcept { return blocks_[i / kBlock][i % kBlock]; }

  class const_iterator {
   public:
    using value_type = ItemResult;
    using difference_type = std::ptrdiff_t;
    const_iterator() = default;
    const ItemResult& operator*() const noexcept { return (*owner_)[i_]; }
    const ItemResult* operator->() const noexcept { return &(*owner_)[i_]; }
    const_iterator& operator++() noexcept {
      ++i_;
      return *this;
    }
    const_iterator operator++(int) noexcept {
      const_iterator old = *this;
      ++i_;
      return old;
    }
    bool operator==(const const_iterator& o) const noexcept { return i_ == o.i_; }

   private:
    friend class Results;
    const_iterator(const Results* owner, std::size_t i) : owner_(owner), i_(i) {}
    const Results* owner_ = nullptr;
    std::size_t i_ = 0;
  };
  const_iterator begin() const noexcept { return {this, 0}; }
  const_iterator end() const noexcept { return {this, size_}; }

 private:
  friend Results run(std::string_view, const CheckpointVerifier&, unsigned,
                     const std::function<void(std::size_t, std::size_t)>&);
  std::vector<std::unique_ptr<ItemResult[]>> blocks_;
  std::size_t size_ = 0;
};

// Verifies every non-blank line of a session (lines end at line feeds) on
// `threads` threads (at least 1). The results follow the input order;
// `progress`, when given, is called from the calling thread with the number
// of items done, about ten times a second, while the workers run.
Results run(std::string_view session, const CheckpointVerifier& verifier, unsigned threads,
            const std::function<void(std::size_t done, std::size_t total)>& progress = {});

Summary summarize(const Results& results);

// One result as a JSON object on one line, and the summary likewise.
std::string to_json_line(const ItemResult& r);
std::string summary_json_line(const Summary& s);
// "line N: <type>: rejected: <message>" for the text output.
std::string to_text_line(const ItemResult& r);
std::string summary_text(const Summary& s);

}  // namespace quenfold::cli::monitor
