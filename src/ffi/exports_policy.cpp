// Exports of the signed namespace policy and the five posture checks.
#include "ffi/frame.h"
#include "quenfold/policy.h"

using namespace quenfold::ffi;

extern "C" {

RustBuffer uniffi_quenfold_log_fn_func_signed_policy_verify(RustBuffer envelope, RustCallStatus* status) {
  return call(status, quenfold::signed_policy_verify, arg<BytesArg>("envelope", envelope));
}

void uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signing_key(RustBuffer envelope, RustBuffer public_key,
                                                                      RustCallStatus* status) {
  return call(status, quenfold::policy_enforce_checkpoint_signing_key, arg<BytesArg>("envelope", envelope),
              arg<StringArg>("public_key", public_key));
}

void uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signature(RustBuffer envelope, RustBuffer signature,
                                                                    RustCallStatus* status) {
  return call(status, quenfold::policy_enforce_checkpoint_signature, arg<BytesArg>("envelope", envelope),
              arg<StringArg>("signature", signature));
}

void uniffi_quenfold_log_fn_func_policy_enforce_vrf_suite_id(RustBuffer envelope, uint8_t observed_suite_id,
                                                            RustCallStatus* status) {
  return call(status, quenfold::policy_enforce_vrf_suite_id, arg<BytesArg>("envelope", envelope), observed_suite_id);
}

void uniffi_quenfold_log_fn_func_policy_enforce_commitment_hash(RustBuffer envelope, RustBuffer observed,
                                                               RustCallStatus* status) {
  return call(status, quenfold::policy_enforce_commitment_hash, arg<BytesArg>("envelope", envelope),
              arg<CommitmentHashArg>("observed", observed));
}

void uniffi_quenfold_log_fn_func_policy_enforce_directory_backend(RustBuffer envelope, uint16_t observed_backend_id,
                                                                 RustCallStatus* status) {
  return call(status, quenfold::policy_enforce_directory_backend, arg<BytesArg>("envelope", envelope),
              observed_backend_id);
}

}  // extern "C"
