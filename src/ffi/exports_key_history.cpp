// Exports of the key-history entry functions and the commitment check.
#include "ffi/frame.h"
#include "quenfold/commitment.h"
#include "quenfold/key_history.h"

using namespace quenfold::ffi;

namespace {
// The six entry arguments, in declaration order.
#define QUENFOLD_ENTRY_ARGS                                                            \
  seq, ts_ms, arg<BytesArg>("enc_x25519", enc_x25519), arg<BytesArg>("enc_pq", enc_pq), \
      arg<BytesArg>("signing_pub", signing_pub),                                       \
      arg<OptionalBytesArg>("prev_entry_hash", prev_entry_hash)
}  // namespace

extern "C" {

RustBuffer uniffi_quenfold_log_fn_func_key_history_v1_canonical_bytes(
    uint64_t seq, uint64_t ts_ms, RustBuffer enc_x25519, RustBuffer enc_pq, RustBuffer signing_pub,
    RustBuffer prev_entry_hash, RustCallStatus* status) {
  return call(status, quenfold::key_history_v1_canonical_bytes, QUENFOLD_ENTRY_ARGS);
}

RustBuffer uniffi_quenfold_log_fn_func_key_history_v1_entry_hash(
    uint64_t seq, uint64_t ts_ms, RustBuffer enc_x25519, RustBuffer enc_pq, RustBuffer signing_pub,
    RustBuffer prev_entry_hash, RustCallStatus* status) {
  return call(status, quenfold::key_history_v1_entry_hash, QUENFOLD_ENTRY_ARGS);
}

RustBuffer uniffi_quenfold_log_fn_func_key_history_entry_hash_with_context(
    RustBuffer context, uint64_t seq, uint64_t ts_ms, RustBuffer enc_x25519, RustBuffer enc_pq,
    RustBuffer signing_pub, RustBuffer prev_entry_hash, RustCallStatus* status) {
  return call(status, quenfold::key_history_entry_hash_with_context,
              arg<StringArg>("context", context), QUENFOLD_ENTRY_ARGS);
}

RustBuffer uniffi_quenfold_log_fn_func_key_history_v1_rfc6962_leaf_hash(
    uint64_t seq, uint64_t ts_ms, RustBuffer enc_x25519, RustBuffer enc_pq, RustBuffer signing_pub,
    RustBuffer prev_entry_hash, RustCallStatus* status) {
  return call(status, quenfold::key_history_v1_rfc6962_leaf_hash, QUENFOLD_ENTRY_ARGS);
}

void uniffi_quenfold_log_fn_func_verify_commitment(RustBuffer context, RustBuffer commitment,
                                                   RustBuffer value, RustBuffer opening,
                                                   RustCallStatus* status) {
  return call(status, quenfold::verify_commitment, arg<StringArg>("context", context),
              arg<BytesArg>("commitment", commitment), arg<BytesArg>("value", value),
              arg<BytesArg>("opening", opening));
}

}  // extern "C"
