// RustBuffer ownership: allocation, release and the invariants checked
// whenever a buffer comes back to the library.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "quenfold_log.h"

namespace quenfold::ffi {

// An internal failure (status code 2) carrying its exact message text.
class InternalFailure : public std::exception {
 public:
  explicit InternalFailure(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

inline constexpr std::uint64_t kMaxCapacity = (std::uint64_t{1} << 63) - 1;

// The text of the first broken invariant of a buffer handed back to the
// library, or nullopt when it is sound.
std::optional<std::string_view> invariant_violation(const RustBuffer& b) noexcept;

// Releases the allocation behind a buffer the library took over. Safe on
// every buffer the library handed out, whatever its len/capacity say.
void release(RustBuffer b) noexcept;

// A new buffer holding a copy of `bytes` (throws std::bad_alloc).
RustBuffer buffer_from(std::span<const std::uint8_t> bytes);
inline RustBuffer buffer_from(std::string_view text) {
  return buffer_from(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

inline std::span<const std::uint8_t> contents(const RustBuffer& b) noexcept {
  if (b.data == nullptr) return {};
  return {b.data, static_cast<std::size_t>(b.len)};
}

// Writes a failure into the caller's status (if any): code and error_buf.
void set_failure(RustCallStatus* status, std::int8_t code, std::string_view message) noexcept;

// A buffer argument the library owns for the duration of one call.
class OwnedBuffer {
 public:
  explicit OwnedBuffer(RustBuffer b) noexcept : b_(b) {}
  ~OwnedBuffer() { release(b_); }
  OwnedBuffer(const OwnedBuffer&) = delete;
  OwnedBuffer& operator=(const OwnedBuffer&) = delete;
  OwnedBuffer(OwnedBuffer&& o) noexcept : b_(o.b_) { o.b_ = RustBuffer{0, 0, nullptr}; }
  const RustBuffer& get() const noexcept { return b_; }
  // Gives up ownership (the buffer goes back to the caller).
  RustBuffer take() noexcept {
    RustBuffer b = b_;
    b_ = RustBuffer{0, 0, nullptr};
    return b;
  }

 private:
  RustBuffer b_;
};

}  // namespace quenfold::ffi
