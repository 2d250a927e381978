// The four buffer-management exports (their bodies: ffi/buffer_exports.h).
#include "ffi/buffer_exports.h"

extern "C" {
QUENFOLD_BUFFER_EXPORTS(ffi_quenfold_log_)
}  // extern "C"
