// Exports of the KEYTRANS verifiers: the three operations under the
// experimental suite, and the same three under a caller-chosen suite id.
#include "ffi/frame.h"
#include "quenfold/keytrans.h"

using namespace quenfold::ffi;

extern "C" {

RustBuffer uniffi_quenfold_log_fn_func_keytrans_verify_search(RustBuffer context, RustBuffer vrf_public,
                                                              RustBuffer root, RustBuffer label,
                                                              RustBuffer proof, RustCallStatus* status) {
  return call(status, quenfold::keytrans_verify_search, arg<StringArg>("context", context),
              arg<BytesArg>("vrf_public", vrf_public), arg<BytesArg>("root", root),
              arg<BytesArg>("label", label), arg<BytesArg>("proof", proof));
}

RustBuffer uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version(RustBuffer context, RustBuffer vrf_public,
                                                                     RustBuffer root, RustBuffer label,
                                                                     RustBuffer proof, RustCallStatus* status) {
  return call(status, quenfold::keytrans_verify_fixed_version, arg<StringArg>("context", context),
              arg<BytesArg>("vrf_public", vrf_public), arg<BytesArg>("root", root),
              arg<BytesArg>("label", label), arg<BytesArg>("proof", proof));
}

void uniffi_quenfold_log_fn_func_keytrans_verify_monitor(RustBuffer context, RustBuffer vrf_public,
                                                         RustBuffer root, RustBuffer label, RustBuffer proof,
                                                         RustCallStatus* status) {
  return call(status, quenfold::keytrans_verify_monitor, arg<StringArg>("context", context),
              arg<BytesArg>("vrf_public", vrf_public), arg<BytesArg>("root", root),
              arg<BytesArg>("label", label), arg<BytesArg>("proof", proof));
}

RustBuffer uniffi_quenfold_log_fn_func_keytrans_verify_search_suite(uint16_t suite_id, RustBuffer context,
                                                                    RustBuffer vrf_public, RustBuffer root,
                                                                    RustBuffer label, RustBuffer proof,
                                                                    RustCallStatus* status) {
  return call(status, quenfold::keytrans_verify_search_suite, suite_id, arg<StringArg>("context", context),
              arg<BytesArg>("vrf_public", vrf_public), arg<BytesArg>("root", root),
              arg<BytesArg>("label", label), arg<BytesArg>("proof", proof));
}

RustBuffer uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version_suite(uint16_t suite_id, RustBuffer context,
                                                                           RustBuffer vrf_public, RustBuffer root,
                                                                           RustBuffer label, RustBuffer proof,
                                                                           RustCallStatus* status) {
  return call(status, quenfold::keytrans_verify_fixed_version_suite, suite_id,
              arg<StringArg>("context", context), arg<BytesArg>("vrf_public", vrf_public),
              arg<BytesArg>("root", root), arg<BytesArg>("label", label), arg<BytesArg>("proof", proof));
}

void uniffi_quenfold_log_fn_func_keytrans_verify_monitor_suite(uint16_t suite_id, RustBuffer context,
                                                               RustBuffer vrf_public, RustBuffer root,
                                                               RustBuffer label, RustBuffer proof,
                                                               RustCallStatus* status) {
  return call(status, quenfold::keytrans_verify_monitor_suite, suite_id, arg<StringArg>("context", context),
              arg<BytesArg>("vrf_public", vrf_public), arg<BytesArg>("root", root),
              arg<BytesArg>("label", label), arg<BytesArg>("proof", proof));
}

}  // extern "C"
