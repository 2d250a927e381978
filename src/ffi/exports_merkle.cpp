// Exports of the RFC 6962 proof verifiers.
#include "ffi/frame.h"
#include "quenfold/merkle.h"

using namespace quenfold::ffi;

extern "C" {

void uniffi_quenfold_log_fn_func_verify_inclusion(uint64_t index, uint64_t size, RustBuffer leaf_hash,
                                                  RustBuffer proof, RustBuffer root,
                                                  RustCallStatus* status) {
  return call(status, quenfold::verify_inclusion, index, size, arg<BytesArg>("leaf_hash", leaf_hash),
              arg<BytesListArg>("proof", proof), arg<BytesArg>("root", root));
}

void uniffi_quenfold_log_fn_func_verify_consistency(uint64_t size1, uint64_t size2, RustBuffer proof,
                                                    RustBuffer root1, RustBuffer root2,
                                                    RustCallStatus* status) {
  return call(status, quenfold::verify_consistency, size1, size2, arg<BytesListArg>("proof", proof),
              arg<BytesArg>("root1", root1), arg<BytesArg>("root2", root2));
}

}  // extern "C"
