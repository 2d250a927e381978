// C2SP tlog-proof (c2sp.org/tlog-proof@v1): an offline proof that an entry
// is in a log, made of the entry's index, its inclusion proof and the
// (cosigned) checkpoint the proof leads to.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quenfold/checkpoint_verifier.h"
#include "quenfold/error.h"
#include "quenfold/merkle.h"
#include "quenfold/types.h"

namespace quenfold {

inline constexpr std::string_view kTlogProofHeader = "c2sp.org/tlog-proof@v1";
// An inclusion proof in a tree of at most 2^64 - 1 leaves has at most 64
// hashes; a text with more is rejected while it is read.
inline constexpr std::size_t kTlogProofMaxHashes = 64;

// A tlog proof as written, nothing verified: the decoded `extra` data when
// its line is present (unauthenticated), the entry's index, the audit path
// from the leaf's sibling upwards, and the checkpoint note verbatim.
struct TlogProof {
  std::optional<Bytes> extra;
  std::uint64_t index = 0;
  std::vector<Hash32> proof;
  std::string checkpoint;
  friend bool operator==(const TlogProof&, const TlogProof&) = default;
};

// Reads the text, failing with MalformedTlogProof at the first line that is
// not what its place requires: the header line, an optional `extra <base64>`
// line, `index <decimal>`, up to 64 base64 SHA-256 hashes, an empty line,
// then a checkpoint (which is not parsed here). Every line before the
// checkpoint ends in U+000A; a carriage return is not stripped.
std::expected<TlogProof, Error> parse_tlog_proof(std::string_view text);

// A verified tlog proof: the entry's index, the extra data as it was given
// (still unauthenticated), and the checkpoint with its signers.
struct VerifiedTlogProof {
  std::uint64_t index = 0;
  std::optional<Bytes> extra;
  VerifiedCheckpoint checkpoint;
};

// Verifies a tlog proof for the leaf whose RFC 6962 hash is `leaf_hash`, in
// the order C2SP tlog-proof gives: the text, the leaf hash (32 bytes:
// InvalidHashLength), the checkpoint's origin and log signature and its
// cosignatures exactly as verifier.verify() checks them, then the inclusion
// of the leaf at `index` under the checkpoint's root.
std::expected<VerifiedTlogProof, Error> verify_tlog_proof(std::string_view text, const CheckpointVerifier& verifier,
                                                          ByteView leaf_hash);
// The same for an entry given in full: its leaf hash is SHA-256(0x00 ||
// entry).
std::expected<VerifiedTlogProof, Error> verify_tlog_proof_entry(std::string_view text,
                                                                const CheckpointVerifier& verifier, ByteView entry);

}  // namespace quenfold
