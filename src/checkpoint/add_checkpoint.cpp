#include "quenfold/add_checkpoint.h"

#include <algorithm>
#include <vector>

#include "encoding/base64.h"
#include "encoding/lines.h"
#include "encoding/text.h"
#include "note/signed_note.h"

namespace quenfold {
namespace {

using Status = AddCheckpointStatus;

struct Request {
  std::uint64_t old_size = 0;
  std::vector<Hash32> proof;
  std::string_view checkpoint;
};

// The request's syntax; the error is the reason of a 400.
std::expected<Request, std::string> parse_request(std::string_view body) {
  encoding::LineCursor lines(body);
  if (lines.at_end()) return std::unexpected("missing old size line");
  const auto old_line = lines.next();
  if (!old_line) return std::unexpected("old size line does not end in a newline");
  if (!old_line->starts_with("old "))
    return std::unexpected("want \"old <decimal>\", got " + encoding::echoed(*old_line));
  const std::string_view digits = old_line->substr(4);
  const auto old_size = encoding::parse_decimal_u64(digits);
  if (!old_size.value) {
    switch (old_size.error) {
      case encoding::DecimalError::LeadingZero:
        return std::unexpected("old size has a leading zero: " + encoding::echoed(digits));
      case encoding::DecimalError::Overflow:
        return std::unexpected("old size overflow: " + encoding::echoed(digits));
      case encoding::DecimalError::NotDecimal:
        break;
    }
    return std::unexpected("old size is not decimal: " + encoding::echoed(digits));
  }
  Request r;
  r.old_size = *old_size.value;
  for (;;) {
    if (lines.at_end()) return std::unexpected("missing empty line before the checkpoint");
    const auto line = lines.next();
    if (!line) return std::unexpected("line " + std::to_string(lines.taken() + 1) + " does not end in a newline");
    if (line->empty()) break;
    if (r.proof.size() == kAddCheckpointMaxProofLines)
      return std::unexpected("more than " + std::to_string(kAddCheckpointMaxProofLines) + " consistency proof lines");
    const std::size_t n = r.proof.size() + 1;
    auto hash = encoding::base64_decode(*line);
    if (!hash) return std::unexpected("proof line " + std::to_string(n) + " is not valid base64: " + encoding::echoed(*line));
    if (hash->size() != 32)
      return std::unexpected("proof line " + std::to_string(n) + " is " + std::to_string(hash->size()) +
                             " bytes, want 32");
    Hash32& h = r.proof.emplace_back();
    std::copy(hash->begin(), hash->end(), h.begin());
  }
  if (lines.at_end()) return std::unexpected("missing checkpoint");
  r.checkpoint = lines.rest();
  return r;
}

// The status a failed log-signature check answers with.
Status signature_status(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::NoTrustedSignature:
    case ErrorKind::InvalidSignature:
    case ErrorKind::LogSignaturesNotMet:
      return Status::Forbidden;
    case ErrorKind::OriginMismatch:
      return Status::NotFound;
    default:
      return Status::BadRequest;
  }
}

}  // namespace

std::string AddCheckpointResult::conflict_body() const {
  if (status != Status::Conflict) return {};
  return std::to_string(stored_size()) + "\n";
}

std::string AddCheckpointResult::cosignature_v1_message(std::uint64_t timestamp) const {
  if (status != Status::Ok || timestamp == 0 || timestamp > note::kMaxCosignatureTimestamp) return {};
  return note::cosignature_v1_message(timestamp, checkpoint_body);
}

AddCheckpointResult check_add_checkpoint(const std::optional<WitnessState>& stored, const CheckpointVerifier& log,
                                         std::string_view request) {
  AddCheckpointResult out;
  out.previous = stored;
  auto fail = [&out](Status status, std::string reason) {
    out.status = status;
    out.reason = std::move(reason);
    return std::move(out);
  };

  auto req = parse_request(request);
  if (!req) return fail(Status::BadRequest, "malformed request: " + req.error());

  // The origin is the note's first line; a log the witness does not know
  // is told apart from a known log's checkpoint without its signature.
  const std::string_view note = req->checkpoint;
  const std::string_view origin = note.substr(0, note.find('\n'));
  if (origin != log.origin()) return fail(Status::NotFound, "unknown origin " + encoding::echoed(origin));

  auto checkpoint = log.verify_log_signature(note);
  if (!checkpoint) return fail(signature_status(checkpoint.error().kind()), checkpoint.error().message());
  const CheckpointHead& head = checkpoint->head;

  if (req->old_size > head.size)
    return fail(Status::BadRequest, "old size " + std::to_string(req->old_size) + " is above the checkpoint size " +
                                        std::to_string(head.size));
  const std::uint64_t stored_size = stored ? stored->size : 0;
  if (req->old_size != stored_size)
    return fail(Status::Conflict, "old size " + std::to_string(req->old_size) + " is not the stored size " +
                                      std::to_string(stored_size));

  if (head.size == 0) {
    const Hash32 empty = rfc6962_empty_root();
    if (!std::equal(head.root.begin(), head.root.end(), empty.begin(), empty.end()))
      return fail(Status::UnprocessableEntity, "a checkpoint of size 0 must have the empty tree's root");
  }
  if (req->old_size == 0) {
    if (!req->proof.empty())
      return fail(Status::UnprocessableEntity, "a consistency proof from size 0 must be empty");
  } else {
    const std::vector<ByteView> proof(req->proof.begin(), req->proof.end());
    const auto consistent = verify_consistency(stored->size, head.size, proof, stored->root, head.root);
    if (!consistent) return fail(Status::UnprocessableEntity, consistent.error().message());
  }

  WitnessState next;
  next.size = head.size;
  std::copy(head.root.begin(), head.root.end(), next.root.begin());
  out.status = Status::Ok;
  out.reason = "cosign " + encoding::echoed(head.origin) + " at size " + std::to_string(head.size);
  out.next = next;
  out.checkpoint_body = std::string(note.substr(0, note.find("\n\n") + 1));
  out.checkpoint = std::move(*checkpoint);
  return out;
}

}  // namespace quenfold
