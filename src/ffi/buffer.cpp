#include "ffi/buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace quenfold::ffi {

std::optional<std::string_view> invariant_violation(const RustBuffer& b) noexcept {
  if (b.data != nullptr) {
    if (b.len > b.capacity) return "RustBuffer length exceeds capacity";
    return std::nullopt;
  }
  if (b.capacity != 0) return "null RustBuffer had non-zero capacity";
  if (b.len != 0) return "null RustBuffer had non-zero length";
  return std::nullopt;
}

void release(RustBuffer b) noexcept { std::free(b.data); }

RustBuffer buffer_from(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return RustBuffer{0, 0, nullptr};
  auto* p = static_cast<std::uint8_t*>(std::malloc(bytes.size()));
  if (p == nullptr) throw std::bad_alloc();
  std::memcpy(p, bytes.data(), bytes.size());
  return RustBuffer{bytes.size(), bytes.size(), p};
}

void set_failure(RustCallStatus* status, std::int8_t code, std::string_view message) noexcept {
  if (status == nullptr) return;
  status->code = code;
  try {
    status->error_buf = buffer_from(message);
  } catch (...) {
    // No memory even for the message: the code alone still tells the
    // caller that the call failed.
    status->error_buf = RustBuffer{0, 0, nullptr};
  }
}

}  // namespace quenfold::ffi
