// Witness policies (C2SP tlog-policy): which logs may sign a checkpoint and
// which quorum of witnesses (C2SP tlog-cosignature, cosignature/v1) must have
// cosigned it before a client relies on it.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quenfold/error.h"
#include "quenfold/verifier.h"

namespace quenfold {

namespace checkpoint {
struct Trust;
}

// A note opened under a witness policy: its body, the log keys whose
// signatures verified and the witnesses whose cosignatures verified (each
// witness once, with its timestamp), both in line order.
struct WitnessedNote {
  std::string body;
  std::vector<Signer> log_signers;
  std::vector<Signer> cosigners;
};

class WitnessPolicy {
 public:
  // Reads the C2SP tlog-policy text format:
  //   log <vkey> [<url>]
  //   witness <name> <vkey> [<url>]
  //   group <name> all|any|<k> <name>...
  //   quorum <name>|none
  // Items are separated by spaces and tabs; blank lines and lines starting
  // with '#' are ignored. Log keys are note-signing keys (Ed25519 or
  // composite) whose name is the origin they sign for; witness keys are
  // cosignature/v1 keys. Names are defined once, and a witness or group is
  // a member of at most one group. Failures are MalformedWitnessPolicy
  // errors naming the line. Parsing takes time linear in the text.
  static std::expected<WitnessPolicy, Error> parse(std::string_view text);

  // "One of these log keys and at least k of these n witnesses": every key
  // of `witnesses` must be a cosignature/v1 key and k at most n; k = 0
  // requires no cosignature.
  static std::expected<WitnessPolicy, Error> threshold(const VerifierList& logs, const VerifierList& witnesses,
                                                       std::size_t k);

  // Opens a checkpoint note. Every line from a listed log or witness key is
  // checked, and one that does not verify rejects the note (the signed-note
  // rule for known keys). When the policy lists logs, a log whose key name
  // is the checkpoint's origin must have signed it (NoTrustedSignature
  // otherwise: a log cannot sign for another log's origin); a policy
  // without logs leaves the log's signature to the caller, who must know
  // the log's key from elsewhere (CheckpointVerifier takes it). Then the
  // quorum must hold (WitnessQuorumNotMet otherwise).
  std::expected<WitnessedNote, Error> open(std::string_view note_text) const;

  const VerifierList& logs() const noexcept;
  const VerifierList& witnesses() const noexcept;

  struct Impl;  // opaque: defined by the library

 private:
  friend class CheckpointVerifier;
  // What a note must carry under this policy, for the library's one
  // checkpoint route.
  checkpoint::Trust trust() const;
  explicit WitnessPolicy(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<const Impl> impl_;
};

}  // namespace quenfold
