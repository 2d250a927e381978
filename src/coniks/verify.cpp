// coniks_verify_lookup and coniks_verify_absence. The whole proof is parsed
// before the VRF is checked, and the VRF before any tree hashing, so that
// the first failure reported is the same whatever else is wrong.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "commitment/commitment.h"
#include "base/try.h"
#include "coniks/lookup_proof.h"
#include "encoding/context.h"
#include "quenfold/coniks.h"

namespace quenfold {
namespace {

constexpr std::size_t kRootLen = 64;

// The checks shared by both forms before the proof is looked at.
std::expected<std::string, Error> check_arguments(std::string_view namespace_name, ByteView root) {
  QUENFOLD_TRY(std::string ns, encoding::validate_namespace(namespace_name));
  // The VRF input describes the namespace with a 32-bit length.
  if (ns.size() > std::numeric_limits<std::uint32_t>::max())
    return std::unexpected(Error::malformed_namespace("namespace of " + std::to_string(ns.size()) +
                                                      " bytes does not fit a 32-bit length"));
  if (root.size() != kRootLen) return std::unexpected(Error::wrong_fixed_length("coniks root", kRootLen));
  return ns;
}

bool equal(const coniks::Node& computed, ByteView root) {
  return std::equal(computed.begin(), computed.end(), root.begin(), root.end());
}

}  // namespace

std::expected<Bytes, Error> coniks_verify_lookup(std::string_view namespace_name, ByteView vrf_public,
                                                 ByteView root, ByteView identity, ByteView proof) {
  QUENFOLD_TRY(const std::string ns, check_arguments(namespace_name, root));
  QUENFOLD_TRY(const coniks::LookupProof parsed, coniks::LookupProof::parse_presence(proof));
  QUENFOLD_TRY(const coniks::Index index, coniks::coniks_vrf_index(ns, identity, vrf_public, parsed.vrf_proof));
  const auto commitment = commit(encoding::bytes_of(coniks::commitment_label(ns)), parsed.value, parsed.opening);
  const coniks::ConiksHasher hasher(ns);
  const coniks::Node leaf = hasher.leaf_hash(index, commitment);
  if (!equal(hasher.root_from_path(index, leaf, parsed.path), root))
    return std::unexpected(Error::coniks_root_mismatch());
  return Bytes(parsed.value.begin(), parsed.value.end());
}

std::expected<void, Error> coniks_verify_absence(std::string_view namespace_name, ByteView vrf_public,
                                                 ByteView root, ByteView identity, ByteView proof) {
  QUENFOLD_TRY(const std::string ns, check_arguments(namespace_name, root));
  QUENFOLD_TRY(const coniks::LookupProof parsed, coniks::LookupProof::parse_absence(proof));
  QUENFOLD_TRY(const coniks::Index index, coniks::coniks_vrf_index(ns, identity, vrf_public, parsed.vrf_proof));
  const coniks::ConiksHasher hasher(ns);
  if (!equal(hasher.root_from_path(index, hasher.empty_leaf(), parsed.path), root))
    return std::unexpected(Error::coniks_root_mismatch());
  return {};
}

}  // namespace quenfold
