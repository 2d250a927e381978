// The catalogue exports that describe the interface rather than verify:
// the per-operation checksums, the contract version, and the metadata byte
// arrays a bindings generator reads out of the library file.
//
// Generated bindings check these at load time. The checksum constants are
// the values the published bindings were generated with; a generator that
// reads metadata.inc derives each one from the function's metadata item
// (FNV-1a 64 over the item, folded to 16 bits), and tools/metadata-gen tunes
// the documentation texts so that both agree.
#include <cstdint>

#include "quenfold_log.h"

extern "C" {

#define QUENFOLD_CHECKSUM(operation, value) \
  uint16_t uniffi_quenfold_log_checksum_func_##operation(void) { return value; }

QUENFOLD_CHECKSUM(verify_inclusion, 0x5d09)
QUENFOLD_CHECKSUM(verify_consistency, 0x11ad)
QUENFOLD_CHECKSUM(key_history_v1_canonical_bytes, 0x18ea)
QUENFOLD_CHECKSUM(key_history_v1_entry_hash, 0x63e0)
QUENFOLD_CHECKSUM(key_history_entry_hash_with_context, 0x9ec4)
QUENFOLD_CHECKSUM(key_history_v1_rfc6962_leaf_hash, 0x6fff)
QUENFOLD_CHECKSUM(verify_signed_note, 0x9603)
QUENFOLD_CHECKSUM(checkpoint_verify, 0xdc15)
QUENFOLD_CHECKSUM(checkpoint_parse, 0xfcbf)
QUENFOLD_CHECKSUM(checkpoint_verify_inclusion, 0x5787)
QUENFOLD_CHECKSUM(checkpoint_verify_consistency, 0x13c9)
QUENFOLD_CHECKSUM(coniks_verify_lookup, 0xf72b)
QUENFOLD_CHECKSUM(coniks_verify_absence, 0x534e)
QUENFOLD_CHECKSUM(verify_commitment, 0xfa0a)
QUENFOLD_CHECKSUM(signed_policy_verify, 0x18a0)
QUENFOLD_CHECKSUM(policy_enforce_checkpoint_signing_key, 0x719e)
QUENFOLD_CHECKSUM(policy_enforce_checkpoint_signature, 0x9ad7)
QUENFOLD_CHECKSUM(policy_enforce_vrf_suite_id, 0x9546)
QUENFOLD_CHECKSUM(policy_enforce_commitment_hash, 0x412c)
QUENFOLD_CHECKSUM(policy_enforce_directory_backend, 0xfdfb)
QUENFOLD_CHECKSUM(keytrans_verify_search, 0xcfa5)
QUENFOLD_CHECKSUM(keytrans_verify_fixed_version, 0x8a54)
QUENFOLD_CHECKSUM(keytrans_verify_monitor, 0x37de)
QUENFOLD_CHECKSUM(keytrans_verify_search_suite, 0xe8ec)
QUENFOLD_CHECKSUM(keytrans_verify_fixed_version_suite, 0x1e22)
QUENFOLD_CHECKSUM(keytrans_verify_monitor_suite, 0xf697)

#undef QUENFOLD_CHECKSUM

// The version of the call contract (frame, status codes, buffer layout) the
// exports follow.
uint32_t ffi_quenfold_log_uniffi_contract_version(void) { return 30; }

// The 37 metadata arrays. The header's `extern` declarations give them
// external linkage and default visibility; const puts them in read-only data,
// and each symbol's size in the dynamic symbol table is the item's length.
#include "ffi/metadata.inc"

}  // extern "C"
