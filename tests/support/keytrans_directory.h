// A KEYTRANS directory for tests, examples and benchmarks: a prefix tree over
// VRF search keys with leaf commitments, a log tree whose leaves record the
// prefix-tree root over time, and the encoder of the three proof kinds under
// the three suites. Written from the tree definitions (recursive, no index
// arithmetic) so that it does not share its logic with the verifier.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "keytrans/tls.h"
#include "quenfold/types.h"

namespace quenfold::test {

using Bytes = std::vector<std::uint8_t>;
using keytrans::Node;

// The suite identifiers and widths, stated independently of the library.
std::uint16_t kt_suite_id(KeytransSuite suite);
std::size_t kt_commitment_len(KeytransSuite suite);  // Nc
std::size_t kt_opening_len(KeytransSuite suite);
inline constexpr KeytransSuite kAllKtSuites[] = {KeytransSuite::Kt128Sha256P256,
                                                 KeytransSuite::Kt128Sha256Ed25519,
                                                 KeytransSuite::QuenfoldHybridExp};

// SHA-256 node hashing of both trees, from their definitions.
Node kt_prefix_leaf(const Node& key, const Bytes& commitment);
Node kt_prefix_parent(const Node& left, const Node& right);
Node kt_log_leaf(std::uint64_t timestamp, const Node& prefix_root);

// The commitment of a suite: HMAC-SHA-256 under the fixed protocol key, or
// the context-bound SHA3-512 commitment for the experimental suite.
Bytes kt_commitment(KeytransSuite suite, const std::string& context, const Bytes& label,
                    std::uint32_t version, const Bytes& value, const Bytes& opening);

// Greatest-version and monitoring ladders, from their definitions.
std::vector<std::uint64_t> kt_binary_ladder(std::uint64_t target);
std::vector<std::uint64_t> kt_monitoring_ladder(std::uint64_t version);

// A prefix tree: a key alone in its subtree is a leaf at that depth; an
// empty subtree is 32 zero bytes; anything else a parent.
class PrefixTree {
 public:
  void insert(const Node& key, Bytes commitment) { leaves_[key] = std::move(commitment); }
  bool contains(const Node& key) const { return leaves_.count(key) != 0; }
  std::size_t size() const { return leaves_.size(); }
  Node root() const;
  // The search proof for `key`: where the search ends and the copath.
  keytrans::PrefixProof prove(const Node& key) const;

 private:
  using Map = std::map<Node, Bytes>;
  using It = Map::const_iterator;
  Node value(It begin, It end, unsigned depth) const;
  Map leaves_;
};

// A left-balanced log tree of 32-byte leaf values (leaves enter their
// parents directly, marked 0x00; parents are marked 0x01).
class LogTree {
 public:
  void append(const Node& leaf_value) { leaves_.push_back(leaf_value); }
  void set(std::uint64_t index, const Node& leaf_value) { leaves_[index] = leaf_value; }
  std::uint64_t size() const { return leaves_.size(); }
  Node root(std::uint64_t size) const;
  Node root() const { return root(size()); }
  // The values of every full subtree not on the path to `index`, left to right.
  std::vector<Node> proof(std::uint64_t index, std::uint64_t size) const;

 private:
  Node value(std::uint64_t start, std::uint64_t end) const;
  void collect(std::uint64_t index, std::uint64_t start, std::uint64_t end, std::vector<Node>& out) const;
  std::vector<Node> leaves_;
};

// A directory of labels under one suite and one VRF key. Every version of a
// label is a leaf at VRF(label, version); publish() records the prefix-tree
// root as a new log entry.
class KeytransDirectory {
 public:
  KeytransDirectory(KeytransSuite suite, std::uint64_t seed, std::string context = "kt-test/commitment/v1");

  KeytransSuite suite() const { return suite_; }
  const std::string& context() const { return context_; }
  const Bytes& vrf_public() const { return vrf_public_; }
  std::size_t nc() const { return kt_commitment_len(suite_); }

  // Adds the next version of `label` (versions count from 0); returns it.
  std::uint32_t add_version(const Bytes& label, const Bytes& value);
  // Adds `count` leaves under unrelated keys, as other labels would.
  void add_noise(std::size_t count);
  // Records the current prefix root as a new log entry; returns its index.
  std::uint64_t publish(std::uint64_t timestamp);

  const LogTree& log() const { return log_; }
  Node combined_root() const { return log_.root(); }
  const PrefixTree& tree(std::uint64_t entry) const { return snapshots_.at(entry).tree; }
  // Number of versions of `label` at log entry `entry`.
  std::uint32_t versions_at(const Bytes& label, std::uint64_t entry) const;

  Bytes vrf_proof(const Bytes& label, std::uint32_t version) const;
  Node search_key(const Bytes& label, std::uint32_t version) const;
  Bytes opening(const Bytes& label, std::uint32_t version) const;
  Bytes commitment(const Bytes& label, std::uint32_t version, const Bytes& value) const;

  // A rung for (label, version) against the tree of `entry`.
  keytrans::LadderStep step(const Bytes& label, std::uint32_t version, std::uint64_t entry) const;
  keytrans::ProofHeader header(std::uint64_t entry) const;

  // Honest proofs at log entry `entry` (default: the latest). A search must
  // be about the latest entry: one about an older entry is what a server
  // hiding later versions would send, and verifiers refuse it.
  keytrans::SearchProof search(const Bytes& label, std::optional<std::uint64_t> entry = {}) const;
  keytrans::FixedVersionProof fixed_version(const Bytes& label, std::uint32_t version,
                                            std::optional<std::uint64_t> entry = {}) const;
  keytrans::MonitorProof monitor(const Bytes& label, std::uint32_t version,
                                 std::optional<std::uint64_t> entry = {}) const;

 private:
  struct Version {
    Bytes value;
    Bytes opening;
  };
  struct Snapshot {
    std::uint64_t timestamp;
    PrefixTree tree;
    std::map<std::string, std::vector<Version>> labels;  // by label bytes
  };
  std::uint64_t latest(std::optional<std::uint64_t> entry) const;
  std::optional<keytrans::RevealedValue> revealed(const Bytes& label, std::uint32_t version,
                                                  std::uint64_t entry) const;

  KeytransSuite suite_;
  std::string context_;
  Bytes vrf_secret_;
  Bytes vrf_public_;
  std::uint64_t seed_;
  std::uint64_t noise_ = 0;
  PrefixTree tree_;
  std::map<std::string, std::vector<Version>> labels_;
  std::vector<Snapshot> snapshots_;
  LogTree log_;
};

// The wire encoders (TLS presentation language). Commitments are written as
// given, whatever their width, so tests can encode what no suite would read.
Bytes kt_encode(const keytrans::SearchProof& p);
Bytes kt_encode(const keytrans::FixedVersionProof& p);
Bytes kt_encode(const keytrans::MonitorProof& p);
Bytes kt_encode_step(const keytrans::LadderStep& s);
Bytes kt_encode_prefix_proof(const keytrans::PrefixProof& p);

}  // namespace quenfold::test
