// coniks-lookup, coniks-absence: CONIKS directory proofs.
#include "cli.h"
#include "encoding/context.h"
#include "encoding/text.h"
#include "quenfold/coniks.h"

namespace quenfold::cli {
namespace {

// The identity as text (taken literally) or as hex; exactly one form.
Bytes identity_of(const Options& o) {
  if (o.has("identity") == o.has("identity-hex")) throw UsageError("give exactly one of --identity, --identity-hex");
  if (o.has("identity-hex")) return o.hex("identity-hex");
  const std::string& text = o.raw("identity");
  return Bytes(text.begin(), text.end());
}

// The namespace is taken literally: '@' and '-' are legal in it.
Outcome lookup(const Options& o) {
  const Bytes identity = identity_of(o);
  const auto value =
      coniks_verify_lookup(o.raw("namespace"), o.hex("vrf-public"), o.hex("root"), identity, o.hex("proof"));
  if (!value) return rejected(value.error());
  Fields f;
  f.bytes("value", *value);
  if (!encoding::utf8_error(*value)) f.text("value_text", encoding::text_of(*value));
  return verified(std::move(f));
}

Outcome absence(const Options& o) {
  const Bytes identity = identity_of(o);
  return outcome_of(
      coniks_verify_absence(o.raw("namespace"), o.hex("vrf-public"), o.hex("root"), identity, o.hex("proof")));
}

void declare(Options& o) {
  o.required("namespace", "NS", "Directory namespace (taken literally)")
      .required("vrf-public", "HEX", "32-byte ECVRF-Edwards25519 public key of the namespace")
      .required("root", "HEX", "64-byte directory root")
      .optional("identity", "TEXT", "Identity as text (taken literally)")
      .optional("identity-hex", "HEX", "Identity as hex")
      .required("proof", "HEX", "Lookup proof bytes");
}

}  // namespace

void register_coniks(Registry& r) {
  declare(r.add("coniks-lookup",
                "Verifies a CONIKS presence proof for the identity under the 64-byte directory --root of namespace "
                "--namespace whose ECVRF-Edwards25519 key is --vrf-public; prints the proven value.",
                "quenfold-verify coniks-lookup --namespace example.org --vrf-public @examples/coniks/vrf-public.hex "
                "--root @examples/coniks/root.hex --identity alice@example.org "
                "--proof @examples/coniks/alice.lookup.proof",
                lookup));
  declare(r.add("coniks-absence",
                "Verifies a CONIKS absence proof: the identity holds no leaf under the 64-byte directory --root.",
                "quenfold-verify coniks-absence --namespace example.org --vrf-public @examples/coniks/vrf-public.hex "
                "--root @examples/coniks/root.hex --identity mallory@example.org "
                "--proof @examples/coniks/mallory.absence.proof",
                absence));
}

}  // namespace quenfold::cli
