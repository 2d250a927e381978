// The one error type of the verifiers. Every verifier returns its result or
// exactly one Error; message() is the text a caller sees, byte for byte the
// message that the C ABI carries in a VerifyError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenfold {

enum class ErrorKind : std::uint8_t {
  LeafIndexOutOfRange,
  WrongProofSize,
  InvalidHashLength,
  RootMismatch,
  EmptyTreeConsistency,
  TreeSizeRegression,
  EqualSizesNonEmptyProof,
  MalformedCanonicalLeaf,
  MalformedCheckpoint,
  MalformedSignedNote,
  InvalidSignature,
  NoTrustedSignature,
  MalformedNamespace,
  Vrf,
  VrfProofInvalid,
  CommitmentMismatch,
  MalformedConiksProof,
  ConiksRootMismatch,
  MalformedPolicy,
  PostureMismatch,
  MalformedKeytrans,
  KeytransRootMismatch,
  // A fixed-length argument of the wrong length, checked by the boundary
  // layer itself: "<name> must be exactly <n> bytes", no kind prefix.
  WrongFixedLength,
  // Kinds of the C++ API only (no exported operation reports them).
  MalformedVerifierKey,
  OriginMismatch,
  MalformedWitnessPolicy,
  WitnessQuorumNotMet,
  BrokenChain,
  LogSignaturesNotMet,
  MalformedTlogProof,
  // Tiled logs (quenfold/tiles.h).
  MalformedTilePath,
  MalformedTile,
  TileHashMismatch,
  TileMissing,
  TreeTooLarge,
  InvalidSubtree,
};

// Receives a message piece by piece, in order.
class MessageSink {
 public:
  virtual void append(std::string_view piece) = 0;

 protected:
  ~MessageSink() = default;
};

// Receives an error's fields, in order: the numbers and texts that its
// message is formatted from.
class FieldSink {
 public:
  virtual void u32(std::uint32_t v) = 0;
  virtual void u64(std::uint64_t v) = 0;
  virtual void text(std::string_view s) = 0;

 protected:
  ~FieldSink() = default;
};

class Error {
 public:
  static Error leaf_index_out_of_range(std::uint64_t index, std::uint64_t size);
  static Error wrong_proof_size(std::uint64_t got, std::uint64_t want);
  static Error invalid_hash_length(std::uint64_t got, std::uint64_t want);
  static Error root_mismatch();
  static Error empty_tree_consistency();
  static Error tree_size_regression(std::uint64_t size1, std::uint64_t size2);
  static Error equal_sizes_non_empty_proof();
  static Error malformed_canonical_leaf(std::string detail);
  static Error malformed_checkpoint(std::string detail);
  static Error malformed_signed_note(std::string detail);
  static Error invalid_signature(std::string key_name, std::uint32_t key_id);
  static Error no_trusted_signature();
  static Error malformed_namespace(std::string detail);
  static Error vrf(std::string detail);
  static Error vrf_proof_invalid();
  static Error commitment_mismatch();
  static Error malformed_coniks_proof(std::string detail);
  static Error coniks_root_mismatch();
  static Error malformed_policy(std::string detail);
  static Error posture_mismatch(std::string declared, std::string observed);
  static Error malformed_keytrans(std::string detail);
  static Error keytrans_root_mismatch();
  static Error wrong_fixed_length(std::string name, std::uint64_t want);
  // Key `position` (from 1) of a list failed to parse; `name` is the text
  // before its first '+', `reason` the parser's own description.
  static Error malformed_verifier_key(std::uint64_t position, std::string name, std::string reason);
  static Error origin_mismatch(std::string got, std::string want);
  static Error malformed_witness_policy(std::uint64_t line, std::string detail);
  static Error witness_quorum_not_met(std::string detail);
  // Link `link` (from 1: between checkpoints link and link + 1) of a
  // checkpoint chain failed with `cause`.
  static Error broken_chain(std::uint64_t link, const Error& cause);
  // Fewer distinct log keys signed than a verifier requires.
  static Error log_signatures_not_met(std::uint64_t got, std::uint64_t want);
  // A C2SP tlog-proof whose text is not one (its checkpoint note excepted).
  static Error malformed_tlog_proof(std::string detail);
  // A tile path that is not the canonical spelling of a tile.
  static Error malformed_tile_path(std::string path, std::string detail);
  // A tile (or entry bundle, data tile) whose bytes or coordinates are not
  // what the tree of the checkpoint implies: its path and what is wrong.
  static Error malformed_tile(std::string path, std::string detail);
  // A tile whose contents do not lead to the checkpoint's root: the tile's
  // path and where the hashes (or an entry) disagree.
  static Error tile_hash_mismatch(std::string path, std::string detail);
  // A tile needed and neither held nor given (or not served by the log above
  // its minimum index).
  static Error tile_missing(std::string path);
  // A tree larger than the caller agreed to audit.
  static Error tree_too_large(std::uint64_t size, std::uint64_t cap);
  // [start, end) is not a subtree of the tree (RFC 6962 nodes only).
  static Error invalid_subtree(std::uint64_t start, std::uint64_t end);

  ErrorKind kind() const noexcept { return kind_; }
  // The detail text of the kinds that carry one (empty otherwise).
  const std::string& detail() const noexcept { return text_; }
  // The display text; the only place where messages are formatted.
  std::string message() const;
  // The same text handed to `sink` in pieces, so that a caller can write it
  // straight into a buffer of its own (message() joins the pieces).
  void write_message(MessageSink& sink) const;
  // The kind's fields handed to `sink` in the order of the factory's
  // parameters (a broken chain's cause as its message; a key name as given,
  // unquoted). Kinds without fields hand over nothing.
  void write_fields(FieldSink& sink) const;

  friend bool operator==(const Error&, const Error&) = default;

 private:
  Error(ErrorKind kind, std::uint64_t a = 0, std::uint64_t b = 0, std::string text = {},
        std::string text2 = {})
      : kind_(kind), a_(a), b_(b), text_(std::move(text)), text2_(std::move(text2)) {}

  ErrorKind kind_;
  std::uint64_t a_;
  std::uint64_t b_;
  std::string text_;
  std::string text2_;
};

}  // namespace quenfold
