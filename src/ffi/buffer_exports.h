// The bodies of the four buffer-management exports, shared by every library
// that follows this calling convention: each library exports them under its
// own names (src/ffi/exports_buffers.cpp, src/ffi/extension/exports.cpp).
#pragma once

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "ffi/buffer.h"

namespace quenfold::ffi::buffers {

inline constexpr RustBuffer kEmpty{0, 0, nullptr};

template <class F>
auto guarded(RustCallStatus* status, F&& body) noexcept -> decltype(body()) {
  using R = decltype(body());
  try {
    return body();
  } catch (const InternalFailure& f) {
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, f.message());
  } catch (const std::bad_alloc&) {
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, "out of memory");
  } catch (...) {
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, "Unknown panic!");
  }
  if constexpr (std::is_void_v<R>) {
    return;
  } else {
    return kEmpty;
  }
}

inline RustBuffer alloc(uint64_t size, RustCallStatus* status) noexcept {
  return guarded(status, [&] {
    if (size > kMaxCapacity) throw InternalFailure("capacity overflow");
    if (size == 0) return kEmpty;
    auto* p = static_cast<uint8_t*>(std::calloc(1, static_cast<std::size_t>(size)));
    if (p == nullptr) throw std::bad_alloc();
    return RustBuffer{size, size, p};
  });
}

inline RustBuffer from_bytes(ForeignBytes bytes, RustCallStatus* status) noexcept {
  return guarded(status, [&] {
    if (bytes.data == nullptr) {
      if (bytes.len != 0) throw InternalFailure("null ForeignBytes had non-zero length");
      return kEmpty;
    }
    if (bytes.len < 0) throw InternalFailure("bytes length negative or overflowed");
    return buffer_from(std::span<const uint8_t>(bytes.data, static_cast<std::size_t>(bytes.len)));
  });
}

inline void free(RustBuffer buf, RustCallStatus* status) noexcept {
  // The buffer is the library's from now on, whatever its fields say: the
  // allocation is released even when an invariant is reported broken.
  OwnedBuffer owned(buf);
  guarded(status, [&] {
    if (auto broken = invariant_violation(buf)) throw InternalFailure(std::string(*broken));
  });
}

inline RustBuffer reserve(RustBuffer buf, uint64_t additional, RustCallStatus* status) noexcept {
  OwnedBuffer owned(buf);
  return guarded(status, [&]() -> RustBuffer {
    if (auto broken = invariant_violation(buf)) throw InternalFailure(std::string(*broken));
    if (additional > kMaxCapacity - buf.len) throw InternalFailure("capacity overflow");
    const uint64_t required = buf.len + additional;
    if (buf.capacity >= required) {
      return owned.take();  // it already has room: hand it back unchanged
    }
    uint64_t grown = buf.capacity > kMaxCapacity / 2 ? kMaxCapacity : buf.capacity * 2;
    if (grown < required) grown = required;
    auto* p = static_cast<uint8_t*>(std::malloc(static_cast<std::size_t>(grown)));
    if (p == nullptr) throw std::bad_alloc();
    if (buf.len != 0) std::memcpy(p, buf.data, static_cast<std::size_t>(buf.len));
    std::memset(p + buf.len, 0, static_cast<std::size_t>(grown - buf.len));
    return RustBuffer{grown, buf.len, p};
  });
}

}  // namespace quenfold::ffi::buffers

// The four exported buffer functions of a library whose names start with
// `prefix` (ffi_quenfold_log_, ffi_quenfold_log_ext_): each library has its
// own names, so that the two never share a symbol, and the same bodies.
#define QUENFOLD_BUFFER_EXPORTS(prefix)                                                                      \
  RustBuffer prefix##rustbuffer_alloc(uint64_t size, RustCallStatus* status) {                               \
    return quenfold::ffi::buffers::alloc(size, status);                                                      \
  }                                                                                                          \
  RustBuffer prefix##rustbuffer_from_bytes(ForeignBytes bytes, RustCallStatus* status) {                     \
    return quenfold::ffi::buffers::from_bytes(bytes, status);                                                \
  }                                                                                                          \
  void prefix##rustbuffer_free(RustBuffer buf, RustCallStatus* status) {                                     \
    quenfold::ffi::buffers::free(buf, status);                                                               \
  }                                                                                                          \
  RustBuffer prefix##rustbuffer_reserve(RustBuffer buf, uint64_t additional, RustCallStatus* status) {       \
    return quenfold::ffi::buffers::reserve(buf, additional, status);                                         \
  }
