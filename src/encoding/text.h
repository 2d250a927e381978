// Small text helpers shared by every message that echoes input or prints a
// number in a fixed-width form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenfold::encoding {

// The quoted form of a text: enclosed in double quotes; '"' and '\' are
// preceded by a backslash; tab, CR, LF and NUL are \t \r \n \0; any other
// control or non-printable character is \u{hex}. Bytes that are not UTF-8
// (string arguments are not validated at the boundary) are shown as \x{hh}.
std::string quoted(std::string_view text);

// The longest quoted content (the characters between the quotes) that a
// message echoes.
inline constexpr std::size_t kEchoLimit = 256;

// The quoted form as a message echoes input. A text whose quoted content is
// at most kEchoLimit characters gives exactly quoted(text). A longer one
// gives the quoted form of its longest prefix whose content fits (an escape
// is never split), followed by `... (N more bytes)`, N the input bytes left
// out: an echo costs the same few hundred bytes whatever the input's size.
std::string echoed(std::string_view text);

// `value` as exactly `width` lower-case hex digits, zero-padded (the low
// 4*width bits of value).
std::string hex_fixed(std::uint64_t value, int width);

// Lower-case hex of arbitrary bytes, two digits per byte.
std::string hex_bytes(std::span<const std::uint8_t> bytes);

// The inverse of hex_bytes: two hex digits (either case, see hex_value in
// base64.h) per byte. nullopt for an odd number of characters or one that is
// not a hex digit; white space is not skipped.
std::optional<std::vector<std::uint8_t>> hex_to_bytes(std::string_view digits);
// The same decoder, appending to `out` (so that many hex strings can share
// one buffer). False, with `out` as it was, where hex_to_bytes fails.
bool hex_append(std::string_view digits, std::vector<std::uint8_t>& out);

// The Unicode White_Space property.
bool is_unicode_white_space(char32_t c) noexcept;

// UTF-8 validation with the standard Rust-style error description:
// "invalid utf-8 sequence of N bytes from index I" or
// "incomplete utf-8 byte sequence from index I". nullopt when valid.
std::optional<std::string> utf8_error(std::span<const std::uint8_t> bytes);

// Decodes one UTF-8 scalar at `pos` of a text known to be valid or not;
// returns nullopt (and leaves pos) on an invalid sequence.
std::optional<char32_t> decode_utf8_at(std::string_view text, std::size_t& pos) noexcept;

}  // namespace quenfold::encoding
