#include "quenfold/types.h"

namespace quenfold {
namespace {

// Each enum's variant names, as messages print them.
template <class E>
struct Named {
  E value;
  const char* name;
};

// A value outside the enum (a C++ caller's cast) prints as `other`.
template <class E, std::size_t N>
const char* lookup(const Named<E> (&names)[N], E value, const char* other = "?") noexcept {
  for (const Named<E>& n : names)
    if (n.value == value) return n.name;
  return other;
}

constexpr Named<SecurityLevel> kSecurityLevels[] = {{SecurityLevel::Cat3, "Cat3"}, {SecurityLevel::Cat5, "Cat5"}};
constexpr Named<CheckpointSuite> kCheckpointSuites[] = {{CheckpointSuite::Hybrid, "Hybrid"},
                                                        {CheckpointSuite::HybridMatched, "HybridMatched"},
                                                        {CheckpointSuite::PureCnsa2, "PureCnsa2"}};
constexpr Named<CommitmentHash> kCommitmentHashes[] = {{CommitmentHash::Sha3_256, "Sha3_256"},
                                                       {CommitmentHash::Sha3_512, "Sha3_512"}};
constexpr Named<VrfMode> kVrfModes[] = {{VrfMode::Classical, "Classical"},
                                        {VrfMode::HybridOutput, "HybridOutput"},
                                        {VrfMode::PurePqExperimental, "PurePqExperimental"}};
constexpr Named<DirectoryMode> kDirectoryModes[] = {{DirectoryMode::Coniks, "Coniks"},
                                                    {DirectoryMode::Keytrans, "Keytrans"}};
constexpr Named<KeytransSuite> kKeytransSuites[] = {{KeytransSuite::QuenfoldHybridExp, "QuenfoldHybridExp"},
                                                    {KeytransSuite::Kt128Sha256Ed25519, "Kt128Sha256Ed25519"},
                                                    {KeytransSuite::Kt128Sha256P256, "Kt128Sha256P256"}};

}  // namespace

const char* name_of(SecurityLevel v) noexcept { return lookup(kSecurityLevels, v, "Cat5"); }
const char* name_of(CheckpointSuite v) noexcept { return lookup(kCheckpointSuites, v); }
const char* name_of(CommitmentHash v) noexcept { return lookup(kCommitmentHashes, v, "Sha3_512"); }
const char* name_of(VrfMode v) noexcept { return lookup(kVrfModes, v); }
const char* name_of(DirectoryMode v) noexcept { return lookup(kDirectoryModes, v, "Keytrans"); }
const char* name_of(KeytransSuite v) noexcept { return lookup(kKeytransSuites, v); }

}  // namespace quenfold
