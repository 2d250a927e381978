/*
 * quenfold_log: the flat C ABI.
 *
 * Every verifier takes its arguments (scalars by value, everything else as a
 * RustBuffer holding raw UTF-8 for a string or one serialized value) and a
 * pointer to a caller-owned RustCallStatus, which the caller zeroes before
 * each call. On success the status is left untouched. On failure `code` is
 * 1 (the input was rejected; error_buf holds a serialized VerifyError: i32
 * variant 1, i32 length, UTF-8 message, big-endian) or 2 (internal failure;
 * error_buf holds the raw UTF-8 message), and the function returns nothing,
 * 0 or an all-zero RustBuffer.
 *
 * Every RustBuffer passed in belongs to the library from then on; every
 * RustBuffer returned (or stored in error_buf) belongs to the caller, who
 * releases it with ffi_quenfold_log_rustbuffer_free.
 */
#ifndef QUENFOLD_LOG_H
#define QUENFOLD_LOG_H

#include <stdint.h>

/* QUENFOLD_LOG_VERSION_MAJOR, _MINOR, _PATCH, _STRING and _NUMBER: the
 * version of these headers (compile-time constants; the library exports
 * nothing for them). */
#include "quenfold_log_version.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QUENFOLD_LOG_BUILDING)
#define QUENFOLD_LOG_API __attribute__((visibility("default")))
#else
#define QUENFOLD_LOG_API
#endif

typedef struct RustBuffer {
  uint64_t capacity;
  uint64_t len;
  uint8_t* data;
} RustBuffer;

typedef struct ForeignBytes {
  int32_t len;
  const uint8_t* data;
} ForeignBytes;

typedef struct RustCallStatus {
  int8_t code;
  RustBuffer error_buf;
} RustCallStatus;

enum {
  QUENFOLD_CALL_SUCCESS = 0,
  QUENFOLD_CALL_ERROR = 1,
  QUENFOLD_CALL_UNEXPECTED_ERROR = 2,
  QUENFOLD_CALL_CANCELLED = 3
};

/* ---- buffers ------------------------------------------------------------ */
QUENFOLD_LOG_API RustBuffer ffi_quenfold_log_rustbuffer_alloc(uint64_t size, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer ffi_quenfold_log_rustbuffer_from_bytes(ForeignBytes bytes, RustCallStatus* status);
QUENFOLD_LOG_API void ffi_quenfold_log_rustbuffer_free(RustBuffer buf, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer ffi_quenfold_log_rustbuffer_reserve(RustBuffer buf, uint64_t additional, RustCallStatus* status);

/* ---- verifier operations -------------------------------------------------- */
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_verify_inclusion(uint64_t index, uint64_t size, RustBuffer leaf_hash, RustBuffer proof, RustBuffer root, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_verify_consistency(uint64_t size1, uint64_t size2, RustBuffer proof, RustBuffer root1, RustBuffer root2, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_key_history_v1_canonical_bytes(uint64_t seq, uint64_t ts_ms, RustBuffer enc_x25519, RustBuffer enc_pq, RustBuffer signing_pub, RustBuffer prev_entry_hash, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_key_history_v1_entry_hash(uint64_t seq, uint64_t ts_ms, RustBuffer enc_x25519, RustBuffer enc_pq, RustBuffer signing_pub, RustBuffer prev_entry_hash, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_key_history_entry_hash_with_context(RustBuffer context, uint64_t seq, uint64_t ts_ms, RustBuffer enc_x25519, RustBuffer enc_pq, RustBuffer signing_pub, RustBuffer prev_entry_hash, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_key_history_v1_rfc6962_leaf_hash(uint64_t seq, uint64_t ts_ms, RustBuffer enc_x25519, RustBuffer enc_pq, RustBuffer signing_pub, RustBuffer prev_entry_hash, RustCallStatus* status);
QUENFOLD_LOG_API uint32_t uniffi_quenfold_log_fn_func_verify_signed_note(RustBuffer note_text, RustBuffer vkeys, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_checkpoint_verify(RustBuffer note_text, RustBuffer vkeys, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_checkpoint_parse(RustBuffer body_text, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_checkpoint_verify_inclusion(RustBuffer note_text, RustBuffer vkeys, uint64_t leaf_index, RustBuffer leaf_hash, RustBuffer proof, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_checkpoint_verify_consistency(RustBuffer older_note, RustBuffer newer_note, RustBuffer vkeys, RustBuffer proof, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_coniks_verify_lookup(RustBuffer namespace_, RustBuffer vrf_public, RustBuffer root, RustBuffer identity, RustBuffer proof, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_coniks_verify_absence(RustBuffer namespace_, RustBuffer vrf_public, RustBuffer root, RustBuffer identity, RustBuffer proof, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_verify_commitment(RustBuffer context, RustBuffer commitment, RustBuffer value, RustBuffer opening, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_signed_policy_verify(RustBuffer envelope, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signing_key(RustBuffer envelope, RustBuffer public_key, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signature(RustBuffer envelope, RustBuffer signature, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_policy_enforce_vrf_suite_id(RustBuffer envelope, uint8_t observed_suite_id, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_policy_enforce_commitment_hash(RustBuffer envelope, RustBuffer observed, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_policy_enforce_directory_backend(RustBuffer envelope, uint16_t observed_backend_id, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_keytrans_verify_search(RustBuffer context, RustBuffer vrf_public, RustBuffer root, RustBuffer label, RustBuffer proof, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version(RustBuffer context, RustBuffer vrf_public, RustBuffer root, RustBuffer label, RustBuffer proof, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_keytrans_verify_monitor(RustBuffer context, RustBuffer vrf_public, RustBuffer root, RustBuffer label, RustBuffer proof, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_keytrans_verify_search_suite(uint16_t suite_id, RustBuffer context, RustBuffer vrf_public, RustBuffer root, RustBuffer label, RustBuffer proof, RustCallStatus* status);
QUENFOLD_LOG_API RustBuffer uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version_suite(uint16_t suite_id, RustBuffer context, RustBuffer vrf_public, RustBuffer root, RustBuffer label, RustBuffer proof, RustCallStatus* status);
QUENFOLD_LOG_API void uniffi_quenfold_log_fn_func_keytrans_verify_monitor_suite(uint16_t suite_id, RustBuffer context, RustBuffer vrf_public, RustBuffer root, RustBuffer label, RustBuffer proof, RustCallStatus* status);

/* ---- checksums and contract version --------------------------------------- */
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_verify_inclusion(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_verify_consistency(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_key_history_v1_canonical_bytes(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_key_history_v1_entry_hash(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_key_history_entry_hash_with_context(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_key_history_v1_rfc6962_leaf_hash(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_verify_signed_note(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_checkpoint_verify(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_checkpoint_parse(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_checkpoint_verify_inclusion(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_checkpoint_verify_consistency(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_coniks_verify_lookup(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_coniks_verify_absence(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_verify_commitment(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_signed_policy_verify(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_policy_enforce_checkpoint_signing_key(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_policy_enforce_checkpoint_signature(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_policy_enforce_vrf_suite_id(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_policy_enforce_commitment_hash(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_policy_enforce_directory_backend(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_keytrans_verify_search(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_keytrans_verify_fixed_version(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_keytrans_verify_monitor(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_keytrans_verify_search_suite(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_keytrans_verify_fixed_version_suite(void);
QUENFOLD_LOG_API uint16_t uniffi_quenfold_log_checksum_func_keytrans_verify_monitor_suite(void);
QUENFOLD_LOG_API uint32_t ffi_quenfold_log_uniffi_contract_version(void);

/* ---- future scaffolding (no operation of this library is asynchronous) ---- */
/* A handle is polled until its continuation receives poll_code 0 (ready:
 * call complete; 1 means poll again), completed once (code 3 in the status
 * when there is no outcome: unfinished, cancelled or already taken), then
 * freed once. Continuations may run on any thread, never under a library
 * lock, and may call back into these functions. */
typedef void (*QuenfoldFutureContinuation)(uint64_t data, int8_t poll_code);
#define QUENFOLD_FUTURE_FAMILY(K, T)                                                                         \
  QUENFOLD_LOG_API void ffi_quenfold_log_rust_future_poll_##K(uint64_t handle, QuenfoldFutureContinuation callback, uint64_t data); \
  QUENFOLD_LOG_API T ffi_quenfold_log_rust_future_complete_##K(uint64_t handle, RustCallStatus* status);      \
  QUENFOLD_LOG_API void ffi_quenfold_log_rust_future_cancel_##K(uint64_t handle);                            \
  QUENFOLD_LOG_API void ffi_quenfold_log_rust_future_free_##K(uint64_t handle);
QUENFOLD_FUTURE_FAMILY(u8, uint8_t)
QUENFOLD_FUTURE_FAMILY(i8, int8_t)
QUENFOLD_FUTURE_FAMILY(u16, uint16_t)
QUENFOLD_FUTURE_FAMILY(i16, int16_t)
QUENFOLD_FUTURE_FAMILY(u32, uint32_t)
QUENFOLD_FUTURE_FAMILY(i32, int32_t)
QUENFOLD_FUTURE_FAMILY(u64, uint64_t)
QUENFOLD_FUTURE_FAMILY(i64, int64_t)
QUENFOLD_FUTURE_FAMILY(f32, float)
QUENFOLD_FUTURE_FAMILY(f64, double)
QUENFOLD_FUTURE_FAMILY(rust_buffer, RustBuffer)
QUENFOLD_FUTURE_FAMILY(void, void)
#undef QUENFOLD_FUTURE_FAMILY

/* ---- interface description for bindings generators ----------------------- */
/* Read-only byte arrays; their sizes come from the dynamic symbol table. */
#define QUENFOLD_META(name) QUENFOLD_LOG_API extern const uint8_t name[];
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_VERIFY_INCLUSION)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_VERIFY_CONSISTENCY)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEY_HISTORY_V1_CANONICAL_BYTES)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEY_HISTORY_V1_ENTRY_HASH)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEY_HISTORY_ENTRY_HASH_WITH_CONTEXT)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEY_HISTORY_V1_RFC6962_LEAF_HASH)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_VERIFY_SIGNED_NOTE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_CHECKPOINT_VERIFY)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_CHECKPOINT_PARSE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_CHECKPOINT_VERIFY_INCLUSION)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_CHECKPOINT_VERIFY_CONSISTENCY)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_CONIKS_VERIFY_LOOKUP)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_CONIKS_VERIFY_ABSENCE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_VERIFY_COMMITMENT)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_SIGNED_POLICY_VERIFY)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_POLICY_ENFORCE_CHECKPOINT_SIGNING_KEY)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_POLICY_ENFORCE_CHECKPOINT_SIGNATURE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_POLICY_ENFORCE_VRF_SUITE_ID)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_POLICY_ENFORCE_COMMITMENT_HASH)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_POLICY_ENFORCE_DIRECTORY_BACKEND)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEYTRANS_VERIFY_SEARCH)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEYTRANS_VERIFY_FIXED_VERSION)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEYTRANS_VERIFY_MONITOR)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEYTRANS_VERIFY_SEARCH_SUITE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEYTRANS_VERIFY_FIXED_VERSION_SUITE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_FUNC_KEYTRANS_VERIFY_MONITOR_SUITE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_RECORD_CHECKPOINTHEAD)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_RECORD_SEARCHRESULT)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_RECORD_POLICYPOSTURE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_ENUM_SECURITYLEVEL)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_ENUM_CHECKPOINTSUITE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_ENUM_COMMITMENTHASH)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_ENUM_VRFMODE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_ENUM_DIRECTORYMODE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_ENUM_KEYTRANSSUITE)
QUENFOLD_META(UNIFFI_META_QUENFOLD_LOG_ERROR_VERIFYERROR)
QUENFOLD_META(UNIFFI_META_NAMESPACE_QUENFOLD_LOG)
#undef QUENFOLD_META

#ifdef __cplusplus
}
#endif

#endif /* QUENFOLD_LOG_H */
