// The checks a witness makes on a C2SP tlog-witness add-checkpoint request,
// as a pure function: what the witness stored for the log goes in, the HTTP
// status, its reason and the state to store next come out. No key material
// and no signing: on success the caller signs the returned checkpoint body
// (cosignature_v1_message gives the cosignature/v1 message for a time).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quenfold/checkpoint_verifier.h"
#include "quenfold/merkle.h"
#include "quenfold/types.h"

namespace quenfold {

// The latest checkpoint a witness cosigned for one origin.
struct WitnessState {
  std::uint64_t size = 0;
  Hash32 root{};
  friend bool operator==(const WitnessState&, const WitnessState&) = default;
};

// At most this many consistency proof lines in a request.
inline constexpr std::size_t kAddCheckpointMaxProofLines = 63;

enum class AddCheckpointStatus : std::uint16_t {
  Ok = 200,                   // cosign the checkpoint and store `next`
  BadRequest = 400,           // the body is not a request, or old size > checkpoint size
  Forbidden = 403,            // no trusted log signature, or a trusted key's line fails
  NotFound = 404,             // the checkpoint's origin is not the log's
  Conflict = 409,             // old size is not the stored size (stored_size())
  UnprocessableEntity = 422,  // the checkpoint is not consistent with the stored one
};

struct AddCheckpointResult {
  AddCheckpointStatus status = AddCheckpointStatus::BadRequest;
  // One line saying why (for 200, what was accepted).
  std::string reason;
  // The state this result was computed from, as given: the caller stores
  // `next` only if this is still what is stored (compare-and-swap), so that
  // two racing requests cannot roll the log back.
  std::optional<WitnessState> previous;
  // 200 only: the state to store.
  std::optional<WitnessState> next;
  // 200 only: the verified checkpoint and its note body, which the
  // witness's cosignature covers.
  std::optional<VerifiedCheckpoint> checkpoint;
  std::string checkpoint_body;

  int http_status() const noexcept { return static_cast<int>(status); }
  // 409: the size the response body states (stored size, or 0 when
  // nothing is stored).
  std::uint64_t stored_size() const noexcept { return previous ? previous->size : 0; }
  // The response body of a 409 ("<size>\n", text/x.tlog.size); empty for
  // any other status.
  std::string conflict_body() const;
  // 200 only: "cosignature/v1\ntime <timestamp>\n" followed by the body,
  // the message a cosignature/v1 key signs. Empty for a time a
  // cosignature/v1 line cannot carry (0, or above 2^63 - 1 seconds).
  std::string cosignature_v1_message(std::uint64_t timestamp) const;
};

// Checks `request` (old size line, at most 63 base64 proof lines, an empty
// line, the checkpoint note) for the log `log`: its origin and the keys
// whose signature counts (verify_log_signature; cosignatures and lines of
// unknown keys are ignored). `stored` is what the witness holds for that
// origin, nullopt when it never cosigned one. The checks, in order: the
// request's syntax (400), the origin (404), the log signature (403; a
// checkpoint body that does not parse is 400), old size above the
// checkpoint's (400), old size not the stored size (409), a size-zero
// checkpoint without the empty tree's root (422), a proof given from size
// zero, a proof that does not verify, or equal sizes with another root
// (422).
AddCheckpointResult check_add_checkpoint(const std::optional<WitnessState>& stored, const CheckpointVerifier& log,
                                         std::string_view request);

}  // namespace quenfold
