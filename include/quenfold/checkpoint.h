// C2SP checkpoints: a log's signed origin, tree size and RFC 6962 root hash,
// alone or as the anchor of an inclusion or consistency proof.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {

// Parses a checkpoint body taken as already trusted (no signature check).
std::expected<CheckpointHead, Error> checkpoint_parse(std::string_view body_text);

// The head of a checkpoint note signed by at least one of the trusted keys;
// the body is parsed only after a signature verified.
std::expected<CheckpointHead, Error> checkpoint_verify(std::string_view note_text,
                                                       std::span<const std::string_view> vkeys);

// As checkpoint_verify, then the RFC 6962 inclusion of `leaf_hash` at
// `leaf_index` under the checkpoint's size and root.
std::expected<void, Error> checkpoint_verify_inclusion(std::string_view note_text,
                                                       std::span<const std::string_view> vkeys,
                                                       std::uint64_t leaf_index, ByteView leaf_hash,
                                                       std::span<const ByteView> proof);

// Verifies both checkpoint notes (older first) under the same keys, then the
// RFC 6962 consistency proof from the older tree to the newer one. Origins
// are not compared.
std::expected<void, Error> checkpoint_verify_consistency(std::string_view older_note, std::string_view newer_note,
                                                         std::span<const std::string_view> vkeys,
                                                         std::span<const ByteView> proof);

}  // namespace quenfold
