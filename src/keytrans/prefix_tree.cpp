#include "keytrans/prefix_tree.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "base/try.h"
#include "crypto/hash.h"
#include "keytrans/tls.h"

namespace quenfold::keytrans {
namespace {

constexpr std::uint8_t kLeafPrefix = 0x01;
constexpr std::uint8_t kParentPrefix = 0x02;

std::unexpected<Error> malformed(std::string text) {
  return std::unexpected(Error::malformed_keytrans(std::move(text)));
}

// The copath of a search ending at depth d has d elements, except that a
// search ending on a parent also carries the sibling of the empty child
// (d + 1), and the empty tree (d = 0) carries none.
std::expected<void, Error> check_copath_length(const PrefixSearchResult& r, std::size_t n) {
  std::size_t expected = n;
  if (r.type == PrefixSearchResultType::NonInclusionParent && n > 0) expected = n - 1;
  if (expected != r.depth)
    return malformed("prefix proof depth " + std::to_string(r.depth) + " inconsistent with copath length " +
                     std::to_string(n));
  return {};
}

std::expected<bool, Error> root_matches(const Node& key, const Node& start, std::span<const Node> elements,
                                        const Node& prefix_root, bool answer) {
  if (climb(key, start, elements) != prefix_root) return std::unexpected(Error::keytrans_root_mismatch());
  return answer;
}

}  // namespace

Node leaf_value(const Node& search_key, ByteView commitment) {
  const std::uint8_t prefix = kLeafPrefix;
  return crypto::sha256({ByteView(&prefix, 1), search_key, commitment});
}

Node parent_value(const Node& left, const Node& right) {
  std::array<std::uint8_t, 1 + 2 * kNodeLen> buf{};
  buf[0] = kParentPrefix;
  std::memcpy(buf.data() + 1, left.data(), kNodeLen);
  std::memcpy(buf.data() + 1 + kNodeLen, right.data(), kNodeLen);
  return crypto::sha256({buf});
}

Node climb(const Node& search_key, const Node& start, std::span<const Node> elements) {
  Node current = start;
  for (std::size_t j = elements.size(); j-- > 0;) {
    current = key_bit(search_key, static_cast<unsigned>(j)) ? parent_value(elements[j], current)
                                                            : parent_value(current, elements[j]);
  }
  return current;
}

std::expected<bool, Error> verify_rung(const KeytransParams& params, const Node& prefix_root,
                                       ByteView label, const LadderStep& step) {
  QUENFOLD_TRY(const Bytes alpha, encode_vrf_input(label, step.version));
  auto verdict = params.vrf->verify(*params.vrf_key, alpha, step.vrf_proof);
  if (!verdict) return std::unexpected(Error::vrf(verdict.error().message()));
  if (!verdict->valid) return std::unexpected(Error::vrf_proof_invalid());
  Node key{};
  std::copy_n(verdict->output.begin(), kSearchKeyLen, key.begin());

  const PrefixSearchResult& result = step.prefix_proof.result;
  const std::span<const Node> elements = step.prefix_proof.elements;
  switch (result.type) {
    case PrefixSearchResultType::Inclusion: {
      if (!step.commitment) return malformed("inclusion ladder rung is missing its commitment");
      QUENFOLD_CHECK(check_copath_length(result, elements.size()));
      return root_matches(key, leaf_value(key, *step.commitment), elements, prefix_root, true);
    }
    case PrefixSearchResultType::NonInclusionLeaf: {
      QUENFOLD_CHECK(check_copath_length(result, elements.size()));
      if (!result.leaf) return malformed("nonInclusionLeaf proof is missing its leaf");
      const PrefixLeaf& leaf = *result.leaf;
      if (leaf.vrf_output == key) return malformed("forged absence: terminal leaf matches the search key");
      for (unsigned j = 0; j < result.depth; ++j) {
        if (key_bit(leaf.vrf_output, j) != key_bit(key, j))
          return malformed("cross-key absence: terminal leaf does not share the search-key prefix");
      }
      return root_matches(key, leaf_value(leaf.vrf_output, leaf.commitment), elements, prefix_root, false);
    }
    case PrefixSearchResultType::NonInclusionParent: {
      QUENFOLD_CHECK(check_copath_length(result, elements.size()));
      return root_matches(key, Node{}, elements, prefix_root, false);
    }
  }
  return malformed("unknown PrefixSearchResultType " + std::to_string(static_cast<int>(result.type)));
}

}  // namespace quenfold::keytrans
