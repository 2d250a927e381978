#include "encoding/text.h"

#include <array>
#include <cstdint>

#include "encoding/base64.h"

namespace quenfold::encoding {
namespace {

// Length of the UTF-8 sequence led by `first`, 0 for a byte that cannot lead.
int utf8_width(std::uint8_t first) noexcept {
  if (first < 0x80) return 1;
  if (first >= 0xC2 && first <= 0xDF) return 2;
  if (first >= 0xE0 && first <= 0xEF) return 3;
  if (first >= 0xF0 && first <= 0xF4) return 4;
  return 0;
}

bool is_continuation(std::uint8_t b) noexcept { return (b & 0xC0) == 0x80; }

bool second_byte_ok(std::uint8_t first, std::uint8_t second) noexcept {
  switch (first) {
    case 0xE0: return second >= 0xA0 && second <= 0xBF;
    case 0xED: return second >= 0x80 && second <= 0x9F;
    case 0xF0: return second >= 0x90 && second <= 0xBF;
    case 0xF4: return second >= 0x80 && second <= 0x8F;
    default: return is_continuation(second);
  }
}

// Outcome of decoding one sequence: its length, or the error length (0 =
// input ended inside the sequence).
struct Step {
  bool ok;
  std::size_t len;
  char32_t cp;
};

Step step_at(std::span<const std::uint8_t> v, std::size_t i) noexcept {
  const std::uint8_t first = v[i];
  const int w = utf8_width(first);
  if (w == 1) return {true, 1, first};
  if (w == 0) return {false, 1, 0};
  const std::size_t n = v.size();
  if (i + 1 >= n) return {false, 0, 0};
  if (!second_byte_ok(first, v[i + 1])) return {false, 1, 0};
  if (w == 2) return {true, 2, static_cast<char32_t>(((first & 0x1Fu) << 6) | (v[i + 1] & 0x3Fu))};
  if (i + 2 >= n) return {false, 0, 0};
  if (!is_continuation(v[i + 2])) return {false, 2, 0};
  if (w == 3) {
    return {true, 3,
            static_cast<char32_t>(((first & 0x0Fu) << 12) | ((v[i + 1] & 0x3Fu) << 6) |
                                  (v[i + 2] & 0x3Fu))};
  }
  if (i + 3 >= n) return {false, 0, 0};
  if (!is_continuation(v[i + 3])) return {false, 3, 0};
  return {true, 4,
          static_cast<char32_t>(((first & 0x07u) << 18) | ((v[i + 1] & 0x3Fu) << 12) |
                                ((v[i + 2] & 0x3Fu) << 6) | (v[i + 3] & 0x3Fu))};
}

std::span<const std::uint8_t> as_bytes(std::string_view s) noexcept {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Characters shown escaped in the quoted form besides the C0/C1 controls:
// separators other than the ASCII space, format characters, combining marks
// that would attach to the preceding character, private-use and
// non-characters.
bool needs_escape(char32_t c) noexcept {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  if (c == 0xA0 || c == 0xAD || c == 0x1680 || (c >= 0x2000 && c <= 0x200F) ||
      (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) || c == 0x3000 ||
      c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) || c == 0x180E || c == 0x061C ||
      (c >= 0x0600 && c <= 0x0605) || c == 0x06DD || c == 0x070F)
    return true;
  if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
      (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
      (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xFE20 && c <= 0xFE2F) ||
      (c >= 0xE0100 && c <= 0xE01EF) || (c >= 0xE0000 && c <= 0xE007F))
    return true;
  if ((c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000) return true;
  if ((c & 0xFFFE) == 0xFFFE || (c >= 0xFDD0 && c <= 0xFDEF)) return true;
  return false;
}

}  // namespace

std::string hex_fixed(std::uint64_t value, int width) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(static_cast<std::size_t>(width), '0');
  for (int i = width - 1; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return out;
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) out += hex_fixed(b, 2);
  return out;
}

bool hex_append(std::string_view digits, std::vector<std::uint8_t>& out) {
  if (digits.size() % 2 != 0) return false;
  const std::size_t at = out.size();
  out.resize(at + digits.size() / 2);
  for (std::size_t i = 0; i < digits.size() / 2; ++i) {
    const int hi = hex_value(digits[2 * i]);
    const int lo = hex_value(digits[2 * i + 1]);
    if (hi < 0 || lo < 0) {
      out.resize(at);
      return false;
    }
    out[at + i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> hex_to_bytes(std::string_view digits) {
  std::vector<std::uint8_t> out;
  if (!hex_append(digits, out)) return std::nullopt;
  return out;
}

std::optional<char32_t> decode_utf8_at(std::string_view text, std::size_t& pos) noexcept {
  const auto v = as_bytes(text);
  if (pos >= v.size()) return std::nullopt;
  const Step s = step_at(v, pos);
  if (!s.ok) return std::nullopt;
  pos += s.len;
  return s.cp;
}

namespace {

// Appends the quoted content of `text` (no enclosing quotes) to `out`, unit
// by unit (one character or one escape), and stops before the first unit
// that would take the content past `limit` characters. Returns the number
// of input bytes echoed.
std::size_t append_quoted_content(std::string& out, std::string_view text, std::size_t limit) {
  const auto v = as_bytes(text);
  std::size_t chars = 0;
  std::size_t i = 0;
  auto emit = [&](std::string_view unit, std::size_t unit_chars) {
    if (chars + unit_chars > limit) return false;
    out.append(unit);
    chars += unit_chars;
    return true;
  };
  while (i < v.size()) {
    const Step s = step_at(v, i);
    if (!s.ok) {
      if (!emit("\\x{" + hex_fixed(v[i], 2) + "}", 6)) break;
      ++i;
      continue;
    }
    const char32_t c = s.cp;
    bool fits = true;
    switch (c) {
      case U'"': fits = emit("\\\"", 2); break;
      case U'\\': fits = emit("\\\\", 2); break;
      case U'\t': fits = emit("\\t", 2); break;
      case U'\r': fits = emit("\\r", 2); break;
      case U'\n': fits = emit("\\n", 2); break;
      case U'\0': fits = emit("\\0", 2); break;
      default:
        if (needs_escape(c)) {
          std::string hex;
          std::uint32_t x = static_cast<std::uint32_t>(c);
          do {
            hex.insert(hex.begin(), "0123456789abcdef"[x & 0xF]);
            x >>= 4;
          } while (x != 0);
          const std::string unit = "\\u{" + hex + "}";
          fits = emit(unit, unit.size());
        } else {
          fits = emit(text.substr(i, s.len), 1);
        }
    }
    if (!fits) break;
    i += s.len;
  }
  return i;
}

}  // namespace

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  append_quoted_content(out, text, SIZE_MAX);
  out.push_back('"');
  return out;
}

std::string echoed(std::string_view text) {
  std::string out;
  out.push_back('"');
  const std::size_t echoed_bytes = append_quoted_content(out, text, kEchoLimit);
  out.push_back('"');
  if (echoed_bytes < text.size()) out += "... (" + std::to_string(text.size() - echoed_bytes) + " more bytes)";
  return out;
}

bool is_unicode_white_space(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::optional<std::string> utf8_error(std::span<const std::uint8_t> bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const Step s = step_at(bytes, i);
    if (s.ok) {
      i += s.len;
      continue;
    }
    if (s.len == 0) return "incomplete utf-8 byte sequence from index " + std::to_string(i);
    return "invalid utf-8 sequence of " + std::to_string(s.len) + " bytes from index " +
           std::to_string(i);
  }
  return std::nullopt;
}

}  // namespace quenfold::encoding
