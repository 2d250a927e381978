// CONIKS directory proofs: presence or absence of an identity under a
// 64-byte directory root, its tree position fixed by an ECVRF over
// Edwards25519 (RFC 9381) keyed with the directory's key.
#pragma once

#include <expected>
#include <string_view>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {

// Verifies the presence proof `proof` (canonical LookupProof bytes, tag 0x01)
// for `identity` under the 64-byte `root` of the directory `namespace_name`
// whose VRF public key is `vrf_public`; returns the proven value.
std::expected<Bytes, Error> coniks_verify_lookup(std::string_view namespace_name, ByteView vrf_public,
                                                 ByteView root, ByteView identity, ByteView proof);

// Succeeds exactly when the absence proof `proof` (tag 0x00) shows that
// `identity` holds no leaf under the 64-byte `root`.
std::expected<void, Error> coniks_verify_absence(std::string_view namespace_name, ByteView vrf_public,
                                                 ByteView root, ByteView identity, ByteView proof);

}  // namespace quenfold
