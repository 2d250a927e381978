// The exported verifier operations: each lifts its buffer arguments in
// declaration order, runs the verifier of the same name in namespace
// quenfold, and lowers its result or error (ffi/frame.h). The list itself,
// with each operation's published checksum, is written by
// tools/metadata-gen from the catalogue.
#include <cstdint>

#include "ffi/frame.h"
#include "quenfold/quenfold.h"

using namespace quenfold::ffi;

#define QUENFOLD_EXPORT(result, operation, parameters, ...)       \
  result uniffi_quenfold_log_fn_func_##operation parameters {     \
    return call(status, quenfold::operation, __VA_ARGS__);        \
  }
#define QUENFOLD_CHECKSUM(operation, value) \
  uint16_t uniffi_quenfold_log_checksum_func_##operation(void) { return value; }

extern "C" {
#include "ffi/exports.inc"
}  // extern "C"

#undef QUENFOLD_EXPORT
#undef QUENFOLD_CHECKSUM
