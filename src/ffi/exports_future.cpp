// The 48 future-scaffolding exports: poll, complete, cancel and free for each
// of the twelve result kinds. Poll, cancel and free behave alike for every
// kind; complete shares one implementation per stored width (u8/i8,
// u16/i16, u32/i32, u64/i64) plus one each for f32, f64, rust_buffer, void.
#include <bit>

#include "ffi/future.h"

namespace future = quenfold::ffi::future;

namespace {

// The kind's value, or its failure value (0, 0.0, the all-zero buffer) when
// complete wrote the status.
template <class T, class Stored>
T complete_as(uint64_t handle, RustCallStatus* status) noexcept {
  auto v = future::complete<Stored>(handle, status);
  if (!v) return T{};
  return std::bit_cast<T>(*v);
}

}  // namespace

extern "C" {

#define QUENFOLD_FUTURE_EXPORTS(K, T, Stored)                                                        \
  void ffi_quenfold_log_rust_future_poll_##K(uint64_t handle, QuenfoldFutureContinuation callback, \
                                             uint64_t data) {                                      \
    future::poll(handle, callback, data);                                                          \
  }                                                                                                \
  T ffi_quenfold_log_rust_future_complete_##K(uint64_t handle, RustCallStatus* status) {           \
    return complete_as<T, Stored>(handle, status);                                                 \
  }                                                                                                \
  void ffi_quenfold_log_rust_future_cancel_##K(uint64_t handle) { future::cancel(handle); }        \
  void ffi_quenfold_log_rust_future_free_##K(uint64_t handle) { future::free(handle); }

QUENFOLD_FUTURE_EXPORTS(u8, uint8_t, uint8_t)
QUENFOLD_FUTURE_EXPORTS(i8, int8_t, uint8_t)
QUENFOLD_FUTURE_EXPORTS(u16, uint16_t, uint16_t)
QUENFOLD_FUTURE_EXPORTS(i16, int16_t, uint16_t)
QUENFOLD_FUTURE_EXPORTS(u32, uint32_t, uint32_t)
QUENFOLD_FUTURE_EXPORTS(i32, int32_t, uint32_t)
QUENFOLD_FUTURE_EXPORTS(u64, uint64_t, uint64_t)
QUENFOLD_FUTURE_EXPORTS(i64, int64_t, uint64_t)
QUENFOLD_FUTURE_EXPORTS(f32, float, float)
QUENFOLD_FUTURE_EXPORTS(f64, double, double)
QUENFOLD_FUTURE_EXPORTS(rust_buffer, RustBuffer, RustBuffer)

#undef QUENFOLD_FUTURE_EXPORTS

void ffi_quenfold_log_rust_future_poll_void(uint64_t handle, QuenfoldFutureContinuation callback,
                                            uint64_t data) {
  future::poll(handle, callback, data);
}
void ffi_quenfold_log_rust_future_complete_void(uint64_t handle, RustCallStatus* status) {
  future::complete<std::monostate>(handle, status);
}
void ffi_quenfold_log_rust_future_cancel_void(uint64_t handle) { future::cancel(handle); }
void ffi_quenfold_log_rust_future_free_void(uint64_t handle) { future::free(handle); }

}  // extern "C"
