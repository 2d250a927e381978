// The catalogue exports that describe the interface rather than verify: the
// contract version and the metadata byte arrays a bindings generator reads
// out of the library file (the per-operation checksums sit beside the
// operations, in ffi/exports.cpp).
//
// Generated bindings check these at load time. The checksum constants are
// the values the published bindings were generated with; a generator that
// reads metadata.inc derives each one from the function's metadata item
// (FNV-1a 64 over the item, folded to 16 bits), and tools/metadata-gen tunes
// the documentation texts so that both agree.
#include <cstdint>

#include "quenfold_log.h"

extern "C" {

// The version of the call contract (frame, status codes, buffer layout) the
// exports follow.
uint32_t ffi_quenfold_log_uniffi_contract_version(void) { return 30; }

// The 37 metadata arrays. The header's `extern` declarations give them
// external linkage and default visibility; const puts them in read-only data,
// and each symbol's size in the dynamic symbol table is the item's length.
#include "ffi/metadata.inc"

}  // extern "C"
