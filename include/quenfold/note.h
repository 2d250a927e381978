// Signed notes (C2SP signed-note) verified against trusted verifier keys.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {

// Parses every verifier key text (stopping at the first failure), then the
// note, and returns the number of signature lines that verified under a
// trusted key (at least 1); a bad signature from a trusted key rejects it.
std::expected<std::uint32_t, Error> verify_signed_note(std::string_view note_text,
                                                       std::span<const std::string_view> vkeys);

}  // namespace quenfold
