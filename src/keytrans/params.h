// The suite of one KEYTRANS call and what it fixes: the VRF that turns a
// (label, version) into a search key, the commitment scheme and the widths
// of commitments (Nc) and openings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>

#include "crypto/vrf.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::keytrans {

// Wire identifiers of the suites on the `_suite` exports.
inline constexpr std::uint16_t kSuiteIdP256 = 0x0001;        // KT_128_SHA256_P256
inline constexpr std::uint16_t kSuiteIdEd25519 = 0x0002;     // KT_128_SHA256_Ed25519
inline constexpr std::uint16_t kSuiteIdExperimental = 0xF000;  // QuenfoldHybridExp

struct KeytransParams {
  Bytes context;     // UTF-8 bytes of the caller's context; used by QuenfoldHybridExp only
  const crypto::Vrf* vrf = nullptr;
  // The caller's VRF public key, decoded once per call: every ladder rung
  // verifies under it.
  std::shared_ptr<const crypto::VrfPublicKey> vrf_key;
  KeytransSuite suite = KeytransSuite::QuenfoldHybridExp;
};

std::optional<KeytransSuite> suite_from_id(std::uint16_t suite_id) noexcept;
std::uint16_t suite_id_of(KeytransSuite suite) noexcept;
const crypto::Vrf& suite_vrf(KeytransSuite suite) noexcept;
std::size_t suite_commitment_len(KeytransSuite suite) noexcept;  // Nc: 32 or 64
std::size_t suite_opening_len(KeytransSuite suite) noexcept;     // 16 or 32

KeytransParams make_params(KeytransSuite suite, ByteView context, ByteView vrf_public);
// Fails with "unknown keytrans suite id 0x...." for an unknown identifier.
std::expected<KeytransParams, Error> keytrans_params(std::uint16_t suite_id, ByteView context,
                                                     ByteView vrf_public);

}  // namespace quenfold::keytrans
