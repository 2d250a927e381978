// Exports of the CONIKS presence and absence verifiers.
#include "ffi/frame.h"
#include "quenfold/coniks.h"

using namespace quenfold::ffi;

extern "C" {

RustBuffer uniffi_quenfold_log_fn_func_coniks_verify_lookup(RustBuffer namespace_, RustBuffer vrf_public,
                                                            RustBuffer root, RustBuffer identity,
                                                            RustBuffer proof, RustCallStatus* status) {
  return call(status, quenfold::coniks_verify_lookup, arg<StringArg>("namespace", namespace_),
              arg<BytesArg>("vrf_public", vrf_public), arg<BytesArg>("root", root),
              arg<BytesArg>("identity", identity), arg<BytesArg>("proof", proof));
}

void uniffi_quenfold_log_fn_func_coniks_verify_absence(RustBuffer namespace_, RustBuffer vrf_public,
                                                       RustBuffer root, RustBuffer identity, RustBuffer proof,
                                                       RustCallStatus* status) {
  return call(status, quenfold::coniks_verify_absence, arg<StringArg>("namespace", namespace_),
              arg<BytesArg>("vrf_public", vrf_public), arg<BytesArg>("root", root),
              arg<BytesArg>("identity", identity), arg<BytesArg>("proof", proof));
}

}  // extern "C"
