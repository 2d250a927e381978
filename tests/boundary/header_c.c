/* Compiled as C11: the public header must stay usable from C, metadata
 * declarations and future scaffolding included. The functions hand the
 * C view of a few declarations to the C++ tests. */
#include "quenfold_log.h"

const uint8_t* quenfold_c_namespace_meta(void) { return UNIFFI_META_NAMESPACE_QUENFOLD_LOG; }
const uint8_t* quenfold_c_verify_inclusion_meta(void) { return UNIFFI_META_QUENFOLD_LOG_FUNC_VERIFY_INCLUSION; }
uint16_t quenfold_c_verify_inclusion_checksum(void) { return uniffi_quenfold_log_checksum_func_verify_inclusion(); }
uint32_t quenfold_c_contract_version(void) { return ffi_quenfold_log_uniffi_contract_version(); }
void quenfold_c_free_null_future(void) { ffi_quenfold_log_rust_future_free_void(0); }
