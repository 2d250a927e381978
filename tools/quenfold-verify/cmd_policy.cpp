// policy, posture: signed namespace policies and the checks of an observed
// artefact against the posture a policy declares.
#include "cli.h"
#include "quenfold/policy.h"

namespace quenfold::cli {
namespace {

Fields posture_fields(const PolicyPosture& p) {
  return Fields()
      .text("namespace", p.namespace_)
      .number("policy_schema_version", p.policy_schema_version)
      .text("security_level", name_of(p.security_level))
      .text("checkpoint_suite", name_of(p.checkpoint_suite))
      .text("commitment_hash", name_of(p.commitment_hash))
      .text("vrf_mode", name_of(p.vrf_mode))
      .text("directory_mode", name_of(p.directory_mode))
      .text("keytrans_suite", name_of(p.keytrans_suite))
      .number("effective_from", p.effective_from)
      .number("created_at", p.created_at)
      .bytes("policy_hash", p.policy_hash)
      .bytes("rfc6962_leaf_hash", p.rfc6962_leaf_hash);
}

Outcome policy(const Options& o) {
  const auto r = signed_policy_verify(o.hex("envelope"));
  if (!r) return rejected(r.error());
  return verified(posture_fields(*r));
}

// Tokens are base64, which has no white space: a trailing newline from a
// file is not part of the token.
std::string token(const Options& o, const std::string& name) {
  std::string t = o.text(name);
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ' || t.back() == '\t')) t.pop_back();
  return t;
}

// Decimal, or hexadecimal with a 0x prefix, at most `max`.
std::uint64_t code(const Options& o, const std::string& name, std::uint64_t max) {
  const std::string& v = o.raw(name);
  const bool hex = v.size() > 2 && (v.starts_with("0x") || v.starts_with("0X"));
  const std::string digits = hex ? v.substr(2) : v;
  const std::string allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() || digits.size() > 8 || digits.find_first_not_of(allowed) != std::string::npos)
    throw UsageError("--" + name + " must be a decimal or 0x-prefixed hexadecimal number");
  const std::uint64_t out = std::stoull(digits, nullptr, hex ? 16 : 10);
  if (out > max) throw UsageError("--" + name + " is out of range (at most " + std::to_string(max) + ")");
  return out;
}

const std::vector<std::string> kObservations = {"signing-key", "signature", "vrf-suite-id", "commitment-hash",
                                                "directory-backend"};

Outcome posture(const Options& o) {
  std::string which;
  for (const auto& name : kObservations) {
    if (!o.has(name)) continue;
    if (!which.empty()) throw UsageError("give exactly one observed value (--" + which + " and --" + name + ")");
    which = name;
  }
  if (which.empty())
    throw UsageError("missing the observed value (one of --signing-key, --signature, --vrf-suite-id, "
                     "--commitment-hash, --directory-backend)");
  const Bytes envelope = o.hex("envelope");

  std::expected<void, Error> r;
  if (which == "signing-key") {
    r = policy_enforce_checkpoint_signing_key(envelope, token(o, which));
  } else if (which == "signature") {
    r = policy_enforce_checkpoint_signature(envelope, token(o, which));
  } else if (which == "vrf-suite-id") {
    r = policy_enforce_vrf_suite_id(envelope, static_cast<std::uint8_t>(code(o, which, 0xff)));
  } else if (which == "commitment-hash") {
    const std::string& h = o.raw(which);
    if (h != "Sha3_256" && h != "Sha3_512") throw UsageError("--commitment-hash must be Sha3_256 or Sha3_512");
    r = policy_enforce_commitment_hash(envelope, h == "Sha3_256" ? CommitmentHash::Sha3_256 : CommitmentHash::Sha3_512);
  } else {
    r = policy_enforce_directory_backend(envelope, static_cast<std::uint16_t>(code(o, which, 0xffff)));
  }
  if (!r) return rejected(r.error());
  // The envelope verified inside the check; show the declared values that
  // the observation was compared with.
  const auto p = signed_policy_verify(envelope);
  if (!p) return rejected(p.error());
  Fields f;
  f.text("namespace", p->namespace_);
  if (which == "signing-key" || which == "signature") {
    f.text("checkpoint_suite", name_of(p->checkpoint_suite)).text("security_level", name_of(p->security_level));
  } else if (which == "vrf-suite-id") {
    f.text("vrf_mode", name_of(p->vrf_mode));
  } else if (which == "commitment-hash") {
    f.text("commitment_hash", name_of(p->commitment_hash));
  } else {
    f.text("directory_mode", name_of(p->directory_mode));
  }
  return verified(std::move(f));
}

}  // namespace

void register_policy(Registry& r) {
  r.add("policy", "Verifies a signed namespace policy envelope and prints the posture it declares.",
        "quenfold-verify policy --envelope @examples/policy/example.org.policy", policy)
      .required("envelope", "HEX|@FILE", "The signed policy envelope, hex");
  r.add("posture",
        "Verifies the policy envelope, then that one observed value matches its declared posture: a "
        "checkpoint signing key or signature token, the directory VRF suite id, the commitment hash, or the "
        "16-bit directory backend id (0x0001 prefix tree, 0xf004 combined tree).",
        "quenfold-verify posture --envelope @examples/policy/example.org.policy --commitment-hash Sha3_256",
        posture)
      .required("envelope", "HEX|@FILE", "The signed policy envelope, hex")
      .optional("signing-key", "TOKEN|@FILE", "Observed checkpoint signing-key token")
      .optional("signature", "TOKEN|@FILE", "Observed checkpoint signature token")
      .optional("vrf-suite-id", "N", "Observed directory VRF suite id (8 bits)")
      .optional("commitment-hash", "Sha3_256|Sha3_512", "Observed commitment hash")
      .optional("directory-backend", "N", "Observed directory backend id (16 bits)");
}

}  // namespace quenfold::cli
