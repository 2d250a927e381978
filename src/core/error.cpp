#include "quenfold/error.h"

#include "encoding/text.h"

namespace quenfold {

Error Error::leaf_index_out_of_range(std::uint64_t index, std::uint64_t size) {
  return {ErrorKind::LeafIndexOutOfRange, index, size};
}
Error Error::wrong_proof_size(std::uint64_t got, std::uint64_t want) {
  return {ErrorKind::WrongProofSize, got, want};
}
Error Error::invalid_hash_length(std::uint64_t got, std::uint64_t want) {
  return {ErrorKind::InvalidHashLength, got, want};
}
Error Error::root_mismatch() { return {ErrorKind::RootMismatch}; }
Error Error::empty_tree_consistency() { return {ErrorKind::EmptyTreeConsistency}; }
Error Error::tree_size_regression(std::uint64_t size1, std::uint64_t size2) {
  return {ErrorKind::TreeSizeRegression, size1, size2};
}
Error Error::equal_sizes_non_empty_proof() { return {ErrorKind::EqualSizesNonEmptyProof}; }
Error Error::malformed_canonical_leaf(std::string detail) {
  return {ErrorKind::MalformedCanonicalLeaf, 0, 0, std::move(detail)};
}
Error Error::malformed_checkpoint(std::string detail) {
  return {ErrorKind::MalformedCheckpoint, 0, 0, std::move(detail)};
}
Error Error::malformed_signed_note(std::string detail) {
  return {ErrorKind::MalformedSignedNote, 0, 0, std::move(detail)};
}
Error Error::invalid_signature(std::string key_name, std::uint32_t key_id) {
  return {ErrorKind::InvalidSignature, key_id, 0, std::move(key_name)};
}
Error Error::no_trusted_signature() { return {ErrorKind::NoTrustedSignature}; }
Error Error::malformed_namespace(std::string detail) {
  return {ErrorKind::MalformedNamespace, 0, 0, std::move(detail)};
}
Error Error::vrf(std::string detail) { return {ErrorKind::Vrf, 0, 0, std::move(detail)}; }
Error Error::vrf_proof_invalid() { return {ErrorKind::VrfProofInvalid}; }
Error Error::commitment_mismatch() { return {ErrorKind::CommitmentMismatch}; }
Error Error::malformed_coniks_proof(std::string detail) {
  return {ErrorKind::MalformedConiksProof, 0, 0, std::move(detail)};
}
Error Error::coniks_root_mismatch() { return {ErrorKind::ConiksRootMismatch}; }
Error Error::malformed_policy(std::string detail) {
  return {ErrorKind::MalformedPolicy, 0, 0, std::move(detail)};
}
Error Error::posture_mismatch(std::string declared, std::string observed) {
  return {ErrorKind::PostureMismatch, 0, 0, std::move(declared), std::move(observed)};
}
Error Error::malformed_keytrans(std::string detail) {
  return {ErrorKind::MalformedKeytrans, 0, 0, std::move(detail)};
}
Error Error::keytrans_root_mismatch() { return {ErrorKind::KeytransRootMismatch}; }
Error Error::wrong_fixed_length(std::string name, std::uint64_t want) {
  return {ErrorKind::WrongFixedLength, want, 0, std::move(name)};
}
Error Error::malformed_verifier_key(std::uint64_t position, std::string name, std::string reason) {
  return {ErrorKind::MalformedVerifierKey, position, 0, std::move(name), std::move(reason)};
}
Error Error::origin_mismatch(std::string got, std::string want) {
  return {ErrorKind::OriginMismatch, 0, 0, std::move(got), std::move(want)};
}
Error Error::malformed_witness_policy(std::uint64_t line, std::string detail) {
  return {ErrorKind::MalformedWitnessPolicy, line, 0, std::move(detail)};
}
Error Error::witness_quorum_not_met(std::string detail) {
  return {ErrorKind::WitnessQuorumNotMet, 0, 0, std::move(detail)};
}
Error Error::broken_chain(std::uint64_t link, const Error& cause) {
  return {ErrorKind::BrokenChain, link, 0, cause.message()};
}
Error Error::log_signatures_not_met(std::uint64_t got, std::uint64_t want) {
  return {ErrorKind::LogSignaturesNotMet, got, want};
}
Error Error::malformed_tlog_proof(std::string detail) {
  return {ErrorKind::MalformedTlogProof, 0, 0, std::move(detail)};
}
Error Error::malformed_tile_path(std::string path, std::string detail) {
  return {ErrorKind::MalformedTilePath, 0, 0, std::move(path), std::move(detail)};
}
Error Error::malformed_tile(std::string path, std::string detail) {
  return {ErrorKind::MalformedTile, 0, 0, std::move(path), std::move(detail)};
}
Error Error::tile_hash_mismatch(std::string path, std::string detail) {
  return {ErrorKind::TileHashMismatch, 0, 0, std::move(path), std::move(detail)};
}
Error Error::tile_missing(std::string path) { return {ErrorKind::TileMissing, 0, 0, std::move(path)}; }
Error Error::tree_too_large(std::uint64_t size, std::uint64_t cap) { return {ErrorKind::TreeTooLarge, size, cap}; }
Error Error::invalid_subtree(std::uint64_t start, std::uint64_t end) {
  return {ErrorKind::InvalidSubtree, start, end};
}

namespace {

class StringSink final : public MessageSink {
 public:
  void append(std::string_view piece) override { out.append(piece); }
  std::string out;
};

}  // namespace

std::string Error::message() const {
  StringSink sink;
  write_message(sink);
  return std::move(sink.out);
}

void Error::write_message(MessageSink& sink) const {
  using std::to_string;
  // Each case hands over its literal parts and fields in order.
  auto put = [&sink](const auto&... pieces) { (sink.append(std::string_view(pieces)), ...); };
  switch (kind_) {
    case ErrorKind::LeafIndexOutOfRange:
      return put("leaf index ", to_string(a_), " is beyond tree size ", to_string(b_));
    case ErrorKind::WrongProofSize:
      return put("wrong proof size: got ", to_string(a_), ", want ", to_string(b_));
    case ErrorKind::InvalidHashLength:
      return put("invalid hash length: got ", to_string(a_), " bytes, want ", to_string(b_));
    case ErrorKind::RootMismatch:
      return put("root mismatch: recomputed root does not match the expected root");
    case ErrorKind::EmptyTreeConsistency:
      return put("consistency proof from an empty tree is meaningless");
    case ErrorKind::TreeSizeRegression:
      return put("tree size regression: size2 (", to_string(b_), ") < size1 (", to_string(a_), ")");
    case ErrorKind::EqualSizesNonEmptyProof:
      return put("consistency proof between equal sizes must be empty");
    case ErrorKind::MalformedCanonicalLeaf:
      return put("malformed canonical leaf: ", text_);
    case ErrorKind::MalformedCheckpoint:
      return put("malformed checkpoint: ", text_);
    case ErrorKind::MalformedSignedNote:
      return put("malformed signed note: ", text_);
    case ErrorKind::InvalidSignature:
      return put("invalid signature for known key ", encoding::echoed(text_), " (key id ",
                 encoding::hex_fixed(a_, 8), ")");
    case ErrorKind::NoTrustedSignature:
      return put("note has no verifiable signature from a trusted key");
    case ErrorKind::MalformedNamespace:
      return put("malformed namespace: ", text_);
    case ErrorKind::Vrf:
      return put("vrf error: ", text_);
    case ErrorKind::VrfProofInvalid:
      return put("vrf proof did not verify against the namespace public key");
    case ErrorKind::CommitmentMismatch:
      return put("commitment did not open to the claimed value");
    case ErrorKind::MalformedConiksProof:
      return put("malformed coniks proof: ", text_);
    case ErrorKind::ConiksRootMismatch:
      return put("coniks proof root mismatch: recomputed directory root does not match the expected root");
    case ErrorKind::MalformedPolicy:
      return put("malformed namespace policy: ", text_);
    case ErrorKind::PostureMismatch:
      return put("posture mismatch: declared ", text_, ", observed ", text2_);
    case ErrorKind::MalformedKeytrans:
      return put("malformed keytrans structure: ", text_);
    case ErrorKind::KeytransRootMismatch:
      return put("keytrans proof root mismatch: recomputed root does not match the expected root");
    case ErrorKind::WrongFixedLength:
      return put(text_, " must be exactly ", to_string(a_), " bytes");
    case ErrorKind::MalformedVerifierKey:
      return put("verifier key ", to_string(a_), " ", encoding::echoed(text_), ": ", text2_);
    case ErrorKind::OriginMismatch:
      return put("checkpoint origin mismatch: got ", encoding::echoed(text_), ", want ", encoding::echoed(text2_));
    case ErrorKind::MalformedWitnessPolicy:
      // Line 0: the policy as a whole (or one built without a text).
      if (a_ == 0) return put("malformed witness policy: ", text_);
      return put("malformed witness policy: line ", to_string(a_), ": ", text_);
    case ErrorKind::WitnessQuorumNotMet:
      return put("witness quorum not met: ", text_);
    case ErrorKind::BrokenChain:
      return put("checkpoint chain broken between checkpoints ", to_string(a_), " and ", to_string(a_ + 1), ": ",
                 text_);
    case ErrorKind::LogSignaturesNotMet:
      return put("log signatures not met: ", to_string(a_), " of the ", to_string(b_), " required log keys signed");
    case ErrorKind::MalformedTlogProof:
      return put("malformed tlog proof: ", text_);
    case ErrorKind::MalformedTilePath:
      return put("malformed tile path ", encoding::echoed(text_), ": ", text2_);
    case ErrorKind::MalformedTile:
      return put("malformed tile ", text_, ": ", text2_);
    case ErrorKind::TileHashMismatch:
      return put("tile ", text_, " does not authenticate: ", text2_);
    case ErrorKind::TileMissing:
      return put("tile ", text_, " is missing");
    case ErrorKind::TreeTooLarge:
      return put("tree size ", to_string(a_), " exceeds the audit limit ", to_string(b_));
    case ErrorKind::InvalidSubtree:
      return put("[", to_string(a_), ", ", to_string(b_), ") is not a subtree of the tree");
  }
  put("unknown error");
}

void Error::write_fields(FieldSink& sink) const {
  switch (kind_) {
    case ErrorKind::LeafIndexOutOfRange:
    case ErrorKind::WrongProofSize:
    case ErrorKind::InvalidHashLength:
    case ErrorKind::TreeSizeRegression:
      sink.u64(a_);
      sink.u64(b_);
      return;
    case ErrorKind::RootMismatch:
    case ErrorKind::EmptyTreeConsistency:
    case ErrorKind::EqualSizesNonEmptyProof:
    case ErrorKind::NoTrustedSignature:
    case ErrorKind::VrfProofInvalid:
    case ErrorKind::CommitmentMismatch:
    case ErrorKind::ConiksRootMismatch:
    case ErrorKind::KeytransRootMismatch:
      return;
    case ErrorKind::MalformedCanonicalLeaf:
    case ErrorKind::MalformedCheckpoint:
    case ErrorKind::MalformedSignedNote:
    case ErrorKind::MalformedNamespace:
    case ErrorKind::Vrf:
    case ErrorKind::MalformedConiksProof:
    case ErrorKind::MalformedPolicy:
    case ErrorKind::MalformedKeytrans:
    case ErrorKind::WitnessQuorumNotMet:
    case ErrorKind::MalformedTlogProof:
      sink.text(text_);
      return;
    case ErrorKind::InvalidSignature:
      sink.text(text_);
      sink.u32(static_cast<std::uint32_t>(a_));
      return;
    case ErrorKind::PostureMismatch:
    case ErrorKind::OriginMismatch:
      sink.text(text_);
      sink.text(text2_);
      return;
    case ErrorKind::WrongFixedLength:
      sink.text(text_);
      sink.u64(a_);
      return;
    case ErrorKind::MalformedVerifierKey:
      sink.u64(a_);
      sink.text(text_);
      sink.text(text2_);
      return;
    case ErrorKind::MalformedWitnessPolicy:
    case ErrorKind::BrokenChain:
      sink.u64(a_);
      sink.text(text_);
      return;
    case ErrorKind::LogSignaturesNotMet:
    case ErrorKind::TreeTooLarge:
    case ErrorKind::InvalidSubtree:
      sink.u64(a_);
      sink.u64(b_);
      return;
    case ErrorKind::MalformedTilePath:
    case ErrorKind::MalformedTile:
    case ErrorKind::TileHashMismatch:
      sink.text(text_);
      sink.text(text2_);
      return;
    case ErrorKind::TileMissing:
      sink.text(text_);
      return;
  }
}

}  // namespace quenfold
