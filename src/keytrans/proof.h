// The KEYTRANS combined-tree proofs as the verifiers see them: the header
// every proof shares, the binary-ladder steps with their prefix-tree proofs,
// and the three proof kinds. tls.h decodes them from their wire form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "quenfold/types.h"

namespace quenfold::keytrans {

inline constexpr std::size_t kNodeLen = 32;
inline constexpr std::size_t kSearchKeyLen = 32;  // SEARCH_KEY_LEN
using Node = std::array<std::uint8_t, kNodeLen>;

enum class PrefixSearchResultType : std::uint8_t {
  Inclusion = 1,
  NonInclusionLeaf = 2,
  NonInclusionParent = 3,
};

struct PrefixLeaf {
  Node vrf_output{};
  Bytes commitment;  // Nc bytes
};

struct PrefixSearchResult {
  PrefixSearchResultType type = PrefixSearchResultType::Inclusion;
  std::optional<PrefixLeaf> leaf;  // present exactly for NonInclusionLeaf
  std::uint8_t depth = 0;
};

struct PrefixProof {
  PrefixSearchResult result;
  std::vector<Node> elements;  // copath, from just below the root downwards
};

struct LadderStep {
  std::uint32_t version = 0;
  Bytes vrf_proof;
  PrefixProof prefix_proof;
  std::optional<Bytes> commitment;  // Nc bytes when has_commitment is 1
};

struct RevealedValue {
  Bytes value;
  Bytes opening;
};

struct ProofHeader {
  std::uint64_t entry_index = 0;
  std::uint64_t tree_size = 0;
  std::uint64_t timestamp = 0;
  Node prefix_root{};
  std::vector<Node> log_inclusion;
};

struct SearchProof {
  ProofHeader header;
  std::optional<std::uint32_t> greatest_version;
  std::vector<LadderStep> ladder;
  std::optional<RevealedValue> value;
};

struct FixedVersionProof {
  ProofHeader header;
  LadderStep step;
  std::optional<RevealedValue> value;
};

struct MonitorProof {
  ProofHeader header;
  std::uint32_t version = 0;
  std::vector<LadderStep> ladder;
};

inline constexpr std::uint8_t kSearchKind = 1;
inline constexpr std::uint8_t kFixedVersionKind = 2;
inline constexpr std::uint8_t kMonitorKind = 3;

}  // namespace quenfold::keytrans
