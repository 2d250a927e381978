// policy, posture: signed namespace policies and the checks of an observed
// artefact against the posture a policy declares.
#include <iostream>

#include "cli.h"
#include "quenfold/policy.h"

namespace quenfold::cli {
namespace {

void print_posture(const PolicyPosture& p) {
  std::cout << "namespace: " << p.namespace_ << "\n"
            << "policy_schema_version: " << p.policy_schema_version << "\n"
            << "security_level: " << name_of(p.security_level) << "\n"
            << "checkpoint_suite: " << name_of(p.checkpoint_suite) << "\n"
            << "commitment_hash: " << name_of(p.commitment_hash) << "\n"
            << "vrf_mode: " << name_of(p.vrf_mode) << "\n"
            << "directory_mode: " << name_of(p.directory_mode) << "\n"
            << "keytrans_suite: " << name_of(p.keytrans_suite) << "\n"
            << "effective_from: " << p.effective_from << "\n"
            << "created_at: " << p.created_at << "\n"
            << "policy_hash: " << to_hex(p.policy_hash) << "\n"
            << "rfc6962_leaf_hash: " << to_hex(p.rfc6962_leaf_hash) << "\n";
}

int policy(const Args& a) {
  a.finish({"envelope"});
  auto r = signed_policy_verify(a.hex("envelope"));
  if (!r) return reject(r.error());
  std::cout << "verified\n";
  print_posture(*r);
  return kVerified;
}

// Tokens are base64, which has no white space: a trailing newline from a
// file is not part of the token.
std::string token(const Args& a, const std::string& name) {
  std::string t = a.text(name);
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ' || t.back() == '\t')) t.pop_back();
  return t;
}

// Decimal, or hexadecimal with a 0x prefix, at most `max`.
std::uint64_t code(const Args& a, const std::string& name, std::uint64_t max) {
  const std::string& v = a.raw(name);
  std::uint64_t out = 0;
  const bool hex = v.size() > 2 && (v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0);
  const std::string digits = hex ? v.substr(2) : v;
  const std::string allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() || digits.size() > 8 || digits.find_first_not_of(allowed) != std::string::npos)
    throw UsageError("--" + name + " must be a decimal or 0x-prefixed hexadecimal number");
  out = std::stoull(digits, nullptr, hex ? 16 : 10);
  if (out > max) throw UsageError("--" + name + " is out of range (at most " + std::to_string(max) + ")");
  return out;
}

int posture(const Args& a) {
  const std::vector<std::string> observations = {"signing-key", "signature", "vrf-suite-id", "commitment-hash",
                                                 "directory-backend"};
  std::vector<std::string> known = observations;
  known.push_back("envelope");
  a.finish(known);
  std::string which;
  for (const auto& o : observations) {
    if (!a.has(o)) continue;
    if (!which.empty()) throw UsageError("give exactly one observed value (--" + which + " and --" + o + ")");
    which = o;
  }
  if (which.empty()) throw UsageError("missing the observed value (one of --signing-key, --signature, "
                                      "--vrf-suite-id, --commitment-hash, --directory-backend)");
  const Bytes envelope = a.hex("envelope");

  std::expected<void, Error> r;
  if (which == "signing-key") {
    r = policy_enforce_checkpoint_signing_key(envelope, token(a, which));
  } else if (which == "signature") {
    r = policy_enforce_checkpoint_signature(envelope, token(a, which));
  } else if (which == "vrf-suite-id") {
    r = policy_enforce_vrf_suite_id(envelope, static_cast<std::uint8_t>(code(a, which, 0xff)));
  } else if (which == "commitment-hash") {
    const std::string& h = a.raw(which);
    if (h != "Sha3_256" && h != "Sha3_512") throw UsageError("--commitment-hash must be Sha3_256 or Sha3_512");
    r = policy_enforce_commitment_hash(envelope, h == "Sha3_256" ? CommitmentHash::Sha3_256 : CommitmentHash::Sha3_512);
  } else {
    r = policy_enforce_directory_backend(envelope, static_cast<std::uint16_t>(code(a, which, 0xffff)));
  }
  if (!r) return reject(r.error());
  // The envelope verified inside the check; show what it declared.
  auto p = signed_policy_verify(envelope);
  if (!p) return reject(p.error());
  std::cout << "verified\n" << "namespace: " << p->namespace_ << "\n";
  if (which == "signing-key" || which == "signature")
    std::cout << "checkpoint posture: " << name_of(p->checkpoint_suite) << "/" << name_of(p->security_level) << "\n";
  else if (which == "vrf-suite-id")
    std::cout << "vrf_mode: " << name_of(p->vrf_mode) << "\n";
  else if (which == "commitment-hash")
    std::cout << "commitment_hash: " << name_of(p->commitment_hash) << "\n";
  else
    std::cout << "directory_mode: " << name_of(p->directory_mode) << "\n";
  return kVerified;
}

}  // namespace

std::vector<Command> policy_commands() {
  return {
      {"policy", "--envelope HEX|@file", policy, {},
       "Verifies a signed namespace policy envelope (hex) and prints the posture it declares.",
       "quenfold-verify policy --envelope @examples/policy/example.org.policy"},
      {"posture",
       "--envelope HEX|@file (--signing-key TOKEN|@file | --signature TOKEN|@file | --vrf-suite-id N | "
       "--commitment-hash Sha3_256|Sha3_512 | --directory-backend N)",
       posture,
       {},
       "Verifies the policy envelope, then that one observed value matches its declared posture:\n"
       "a checkpoint signing key or signature token, the directory VRF suite id, the commitment\n"
       "hash, or the 16-bit directory backend id (0x0001 prefix tree, 0xf004 combined tree).",
       "quenfold-verify posture --envelope @examples/policy/example.org.policy --commitment-hash Sha3_256"},
  };
}

}  // namespace quenfold::cli
