// The extension's exports: every call of tools/metadata-gen/extension.json
// through the one call frame (ffi/frame.h) with the structured error
// lowering, the handles' clone and free, the checksums, the contract
// version and the buffer functions under the extension's own names.
#include <cstdint>

// Before the frame: its templates see the extension's lift and lower
// overloads declared here.
#include "ffi/extension/operations.h"
#include "ffi/extension/tile_operations.h"
#include "ffi/extension/tile_values.h"
#include "ffi/extension/values.h"

#include "ffi/buffer_exports.h"
#include "ffi/frame.h"
#include "quenfold_log_ext.h"

using namespace quenfold;
using namespace quenfold::ffi;

namespace {

// clone and free: status 2 for a refused handle; nothing else can fail
// but the allocation of the clone's box.
template <class T>
std::uint64_t clone_handle(std::uint64_t handle, RustCallStatus* status) noexcept {
  auto value = borrow_handle<T>(handle);
  if (!value) {
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, std::string("invalid ") + HandleType<T>::name + " handle");
    return 0;
  }
  try {
    return make_handle<T>(std::move(value));
  } catch (...) {
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, "out of memory");
    return 0;
  }
}

template <class T>
void release_handle(std::uint64_t handle, RustCallStatus* status) noexcept {
  if (!free_handle<T>(handle))
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, std::string("invalid ") + HandleType<T>::name + " handle");
}

}  // namespace

#define QUENFOLD_EXT_CALL(result, name, parameters, callee, ...) \
  result name parameters { return call<&lower_structured_error>(status, ext::callee, __VA_ARGS__); }
#define QUENFOLD_EXT_OBJECT(type, clone, free)                                                              \
  uint64_t clone(uint64_t handle, RustCallStatus* status) { return clone_handle<type>(handle, status); } \
  void free(uint64_t handle, RustCallStatus* status) { release_handle<type>(handle, status); }
#define QUENFOLD_EXT_CHECKSUM(name, value) \
  uint16_t name(void) { return value; }
// The version of the call contract (frame, status codes, buffer layout):
// the core library's.
#define QUENFOLD_EXT_CONTRACT_VERSION(name, value) \
  uint32_t name(void) { return value; }

extern "C" {
#include "ffi/extension/exports.inc"

QUENFOLD_BUFFER_EXPORTS(ffi_quenfold_log_ext_)

// The metadata arrays (extern declarations in quenfold_log_ext.h give them
// external linkage and default visibility).
#include "ffi/extension/metadata.inc"
}  // extern "C"

#undef QUENFOLD_EXT_CALL
#undef QUENFOLD_EXT_OBJECT
#undef QUENFOLD_EXT_CHECKSUM
#undef QUENFOLD_EXT_CONTRACT_VERSION
