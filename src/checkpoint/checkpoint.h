// Checkpoint bodies (origin, tree size, base64 root hash, extension lines)
// and checkpoint notes.
#pragma once

#include <expected>
#include <span>
#include <string_view>

#include "note/verifier_key.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::checkpoint {

// The body parser; every failure is a MalformedCheckpoint error.
std::expected<CheckpointHead, Error> parse_checkpoint_body(std::string_view text);

// Parses and verifies the note, then parses its body: a note without a
// trusted signature reports that even when its body is malformed.
std::expected<CheckpointHead, Error> verify_checkpoint_note(std::string_view note_text,
                                                            std::span<const note::VerifierKey> keys);

}  // namespace quenfold::checkpoint
