// The monitor's reader of one session line: a strict JSON object (RFC 8259)
// read in one pass, without building a document, into what the engine
// needs. Keys are unique within each object, nesting is bounded by
// kMaxDepth, "index" is an unsigned 64-bit integer and hex strings are
// decoded by the library's one hex codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor.h"
#include "quenfold/types.h"

namespace quenfold::cli::monitor {

// Hex strings decoded into one buffer, so that a proof of twenty nodes
// costs two allocations rather than twenty-one.
struct HexList {
  Bytes data;
  std::vector<std::size_t> ends;  // entry k is data[ends[k - 1], ends[k])
  std::size_t size() const noexcept { return ends.size(); }
  std::vector<ByteView> views() const;
  std::vector<Bytes> copies() const;
};

// What one line says.
struct Item {
  ItemType type = ItemType::Unknown;
  std::string note;
  bool has_consistency = false;  // present and not null
  HexList consistency;
  std::uint64_t index = 0;
  Bytes leaf_hash;
  HexList proof;
};

// Reads one line into `item`; the error message when it is not a valid
// item (item.type is set as soon as the line's type is known).
std::optional<std::string> read_item(std::string_view line, Item& item);

}  // namespace quenfold::cli::monitor
