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
  // composite), witness keys cosignature/v1 keys. Failures are
  // MalformedWitnessPolicy errors naming the line.
  static std::expected<WitnessPolicy, Error> parse(std::string_view text);

  // "One of these log keys and at least k of these n witnesses": every key
  // of `witnesses` must be a cosignature/v1 key and k at most n; k = 0
  // requires no cosignature.
  static std::expected<WitnessPolicy, Error> threshold(const VerifierList& logs, const VerifierList& witnesses,
                                                       std::size_t k);

  // Opens a checkpoint note. When the policy lists logs, the note must be
  // signed by one of them under the signed-note rules (a listed log key
  // whose line does not verify rejects the note); a policy without logs
  // leaves the log's signature to the caller. Cosignature lines count when
  // they verify and are dropped when they do not; then the quorum must hold
  // (WitnessQuorumNotMet otherwise).
  std::expected<WitnessedNote, Error> open(std::string_view note_text) const;

  const VerifierList& logs() const noexcept;
  const VerifierList& witnesses() const noexcept;

  struct Impl;  // opaque: defined by the library

 private:
  explicit WitnessPolicy(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<const Impl> impl_;
};

}  // namespace quenfold
