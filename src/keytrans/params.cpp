#include "keytrans/params.h"

#include "encoding/text.h"

namespace quenfold::keytrans {

std::optional<KeytransSuite> suite_from_id(std::uint16_t suite_id) noexcept {
  switch (suite_id) {
    case kSuiteIdP256: return KeytransSuite::Kt128Sha256P256;
    case kSuiteIdEd25519: return KeytransSuite::Kt128Sha256Ed25519;
    case kSuiteIdExperimental: return KeytransSuite::QuenfoldHybridExp;
    default: return std::nullopt;
  }
}

std::uint16_t suite_id_of(KeytransSuite suite) noexcept {
  switch (suite) {
    case KeytransSuite::Kt128Sha256P256: return kSuiteIdP256;
    case KeytransSuite::Kt128Sha256Ed25519: return kSuiteIdEd25519;
    case KeytransSuite::QuenfoldHybridExp: return kSuiteIdExperimental;
  }
  return kSuiteIdExperimental;
}

const crypto::Vrf& suite_vrf(KeytransSuite suite) noexcept {
  return suite == KeytransSuite::Kt128Sha256P256 ? crypto::ecvrf_p256() : crypto::ecvrf_edwards25519();
}

std::size_t suite_commitment_len(KeytransSuite suite) noexcept {
  return suite == KeytransSuite::QuenfoldHybridExp ? 64 : 32;
}

std::size_t suite_opening_len(KeytransSuite suite) noexcept {
  return suite == KeytransSuite::QuenfoldHybridExp ? 32 : 16;
}

KeytransParams make_params(KeytransSuite suite, ByteView context, ByteView vrf_public) {
  const crypto::Vrf& vrf = suite_vrf(suite);
  return KeytransParams{Bytes(context.begin(), context.end()), &vrf, vrf.decode_public_key(vrf_public), suite};
}

std::expected<KeytransParams, Error> keytrans_params(std::uint16_t suite_id, ByteView context,
                                                     ByteView vrf_public) {
  const auto suite = suite_from_id(suite_id);
  if (!suite)
    return std::unexpected(
        Error::malformed_keytrans("unknown keytrans suite id 0x" + encoding::hex_fixed(suite_id, 4)));
  return make_params(*suite, context, vrf_public);
}

}  // namespace quenfold::keytrans
