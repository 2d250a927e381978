// The wire codec of KEYTRANS proofs, in the TLS presentation language
// (RFC 8446 section 3): big-endian integers, fixed arrays and vectors with 1-,
// 2- or 4-byte length prefixes. The decoders are strict (every container
// consumed exactly, flag bytes 0 or 1) and purely structural; the commitment
// width Nc comes from the suite of the call and is never inferred from the
// data. Failures are MalformedKeytrans errors naming the field and counting
// offsets from the start of the innermost container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>

#include "keytrans/proof.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::keytrans {

std::expected<SearchProof, Error> decode_search_proof(ByteView bytes, std::size_t nc);
std::expected<FixedVersionProof, Error> decode_fixed_version_proof(ByteView bytes, std::size_t nc);
std::expected<MonitorProof, Error> decode_monitor_proof(ByteView bytes, std::size_t nc);

// VrfInput: label as opaque8, version as u32.
std::expected<Bytes, Error> encode_vrf_input(ByteView label, std::uint32_t version);
// CommitmentValue: label as opaque8, version as u32, value as opaque32.
std::expected<Bytes, Error> encode_commitment_value(ByteView label, std::uint32_t version,
                                                    ByteView value);

}  // namespace quenfold::keytrans
