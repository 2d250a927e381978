// The extension's argument kinds and result forms beyond the core's: a
// checkpoint head and lists of inclusion proofs or audit paths as
// arguments; signers, opened notes, verified checkpoints and structured
// errors as results. Same wire forms as the core's values (big-endian, i32
// counts, an enum as its i32 variant index from 1, an optional as a tag
// byte, a record as its fields in order).
//
// Include this before ffi/frame.h: the frame's templates call ffi::lift and
// ffi::lower by qualified name, which sees the overloads declared before it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ffi/lift.h"
#include "ffi/lower.h"
#include "quenfold/add_checkpoint.h"
#include "quenfold/checkpoint_verifier.h"
#include "quenfold/error.h"
#include "quenfold/tlog_proof.h"
#include "quenfold/verifier.h"
#include "quenfold/witness.h"

namespace quenfold::ffi {

// Inclusion proofs whose audit paths borrow from the argument buffer;
// proofs[i].proof views paths[i] (moving this value keeps them valid).
struct LiftedInclusionProofs {
  std::vector<std::vector<ByteView>> paths;
  std::vector<InclusionProof> proofs;
};
// A list of audit paths, and a span over each.
struct LiftedPaths {
  std::vector<std::vector<ByteView>> paths;
  std::vector<std::span<const ByteView>> spans;
};

// A witness's stored state as it arrives: the root is checked for its
// length by the call, which reports a wrong one as a rejection.
struct LiftedWitnessState {
  std::uint64_t size = 0;
  ByteView root;
};

struct CheckpointHeadArg { using type = CheckpointHead; };                 // record CheckpointHead
struct InclusionProofListArg { using type = LiftedInclusionProofs; };     // list<record InclusionProof>
struct BytesListListArg { using type = LiftedPaths; };                    // list<list<bytes>>
struct OptionalWitnessStateArg { using type = std::optional<LiftedWitnessState>; };  // optional<record WitnessState>

std::expected<CheckpointHead, LiftError> lift(CheckpointHeadArg, std::span<const std::uint8_t> buf);
std::expected<LiftedInclusionProofs, LiftError> lift(InclusionProofListArg, std::span<const std::uint8_t> buf);
std::expected<LiftedPaths, LiftError> lift(BytesListListArg, std::span<const std::uint8_t> buf);
std::expected<std::optional<LiftedWitnessState>, LiftError> lift(OptionalWitnessStateArg,
                                                                 std::span<const std::uint8_t> buf);

// A string result: its raw UTF-8, as string arguments travel.
RustBuffer lower(const std::string& text);
RustBuffer lower(const std::vector<Signer>& signers);
RustBuffer lower(const OpenedNote& note);
RustBuffer lower(const WitnessedNote& note);
RustBuffer lower(const VerifiedCheckpoint& checkpoint);
RustBuffer lower(const std::pair<VerifiedCheckpoint, VerifiedCheckpoint>& pair);
RustBuffer lower(const std::vector<VerifiedCheckpoint>& chain);
RustBuffer lower(const TlogProof& proof);
RustBuffer lower(const VerifiedTlogProof& proof);
RustBuffer lower(const AddCheckpointResult& result);
// One outcome per proof: nothing where it held, the structured error otherwise.
RustBuffer lower(const std::vector<std::optional<Error>>& outcomes);

// An error as the extension's VerifyError value: the i32 variant (the
// ErrorKind's position, from 1), the kind's fields (Error::write_fields),
// then the message.
void write(ValueWriter& w, const Error& e);
RustBuffer lower_structured_error(const Error& e);

}  // namespace quenfold::ffi
