// The four buffer-management exports (their bodies: ffi/buffer_exports.h).
#include "ffi/buffer_exports.h"

namespace buffers = quenfold::ffi::buffers;

extern "C" {

RustBuffer ffi_quenfold_log_rustbuffer_alloc(uint64_t size, RustCallStatus* status) {
  return buffers::alloc(size, status);
}

RustBuffer ffi_quenfold_log_rustbuffer_from_bytes(ForeignBytes bytes, RustCallStatus* status) {
  return buffers::from_bytes(bytes, status);
}

void ffi_quenfold_log_rustbuffer_free(RustBuffer buf, RustCallStatus* status) { buffers::free(buf, status); }

RustBuffer ffi_quenfold_log_rustbuffer_reserve(RustBuffer buf, uint64_t additional, RustCallStatus* status) {
  return buffers::reserve(buf, additional, status);
}

}  // extern "C"
