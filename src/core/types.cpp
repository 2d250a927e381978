#include "quenfold/types.h"

namespace quenfold {

const char* name_of(SecurityLevel v) noexcept { return v == SecurityLevel::Cat3 ? "Cat3" : "Cat5"; }
const char* name_of(CheckpointSuite v) noexcept {
  switch (v) {
    case CheckpointSuite::Hybrid: return "Hybrid";
    case CheckpointSuite::HybridMatched: return "HybridMatched";
    case CheckpointSuite::PureCnsa2: return "PureCnsa2";
  }
  return "?";
}
const char* name_of(CommitmentHash v) noexcept {
  return v == CommitmentHash::Sha3_256 ? "Sha3_256" : "Sha3_512";
}
const char* name_of(VrfMode v) noexcept {
  switch (v) {
    case VrfMode::Classical: return "Classical";
    case VrfMode::HybridOutput: return "HybridOutput";
    case VrfMode::PurePqExperimental: return "PurePqExperimental";
  }
  return "?";
}
const char* name_of(DirectoryMode v) noexcept {
  return v == DirectoryMode::Coniks ? "Coniks" : "Keytrans";
}
const char* name_of(KeytransSuite v) noexcept {
  switch (v) {
    case KeytransSuite::QuenfoldHybridExp: return "QuenfoldHybridExp";
    case KeytransSuite::Kt128Sha256Ed25519: return "Kt128Sha256Ed25519";
    case KeytransSuite::Kt128Sha256P256: return "Kt128Sha256P256";
  }
  return "?";
}

}  // namespace quenfold
