// A cursor over newline-terminated lines of a text, for the line-oriented
// request and proof formats (C2SP tlog-proof, tlog-witness add-checkpoint).
// Every line must end in U+000A; a carriage return is part of the line. The
// cursor never reads past its text, and rest() hands back what follows the
// lines taken so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quenfold::encoding {

class LineCursor {
 public:
  explicit LineCursor(std::string_view text) noexcept : text_(text) {}

  bool at_end() const noexcept { return pos_ == text_.size(); }
  // The number of lines taken so far.
  std::size_t taken() const noexcept { return taken_; }

  // The next line without its newline, or nullopt (position unchanged) when
  // no newline follows.
  std::optional<std::string_view> next() noexcept {
    const std::size_t lf = text_.find('\n', pos_);
    if (lf == std::string_view::npos) return std::nullopt;
    const std::string_view line = text_.substr(pos_, lf - pos_);
    pos_ = lf + 1;
    ++taken_;
    return line;
  }
  // The next line as next() would return it, without taking it.
  std::optional<std::string_view> peek() const noexcept {
    const std::size_t lf = text_.find('\n', pos_);
    if (lf == std::string_view::npos) return std::nullopt;
    return text_.substr(pos_, lf - pos_);
  }
  // Everything after the lines taken.
  std::string_view rest() const noexcept { return text_.substr(pos_); }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t taken_ = 0;
};

// An ASCII decimal without leading zeroes ("0" alone is zero) that fits in
// 64 bits. Which of the three ways it failed is told apart for messages.
enum class DecimalError { NotDecimal, LeadingZero, Overflow };
struct DecimalResult {
  std::optional<std::uint64_t> value;
  DecimalError error = DecimalError::NotDecimal;
};
inline DecimalResult parse_decimal_u64(std::string_view s) noexcept {
  if (s.empty()) return {};
  for (const char c : s)
    if (c < '0' || c > '9') return {};
  if (s.size() > 1 && s[0] == '0') return {std::nullopt, DecimalError::LeadingZero};
  std::uint64_t v = 0;
  for (const char c : s) {
    const auto d = static_cast<std::uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return {std::nullopt, DecimalError::Overflow};
    v = v * 10 + d;
  }
  return {v, DecimalError::NotDecimal};
}

}  // namespace quenfold::encoding
