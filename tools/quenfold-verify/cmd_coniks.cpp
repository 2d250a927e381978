// coniks-lookup, coniks-absence: CONIKS directory proofs.
#include <iostream>

#include "cli.h"
#include "encoding/context.h"
#include "encoding/text.h"
#include "quenfold/coniks.h"

namespace quenfold::cli {
namespace {

const std::vector<std::string> kOptions = {"namespace", "vrf-public", "root", "identity", "identity-hex", "proof"};

// The identity as text (taken literally) or as hex; exactly one form.
Bytes identity_of(const Args& a) {
  if (a.has("identity") == a.has("identity-hex")) throw UsageError("give exactly one of --identity, --identity-hex");
  if (a.has("identity-hex")) return a.hex("identity-hex");
  const std::string& text = a.raw("identity");
  return Bytes(text.begin(), text.end());
}

int lookup(const Args& a) {
  a.finish(kOptions);
  const Bytes identity = identity_of(a);
  // The namespace is taken literally: '@' and '-' are legal in it.
  const auto value =
      coniks_verify_lookup(a.raw("namespace"), a.hex("vrf-public"), a.hex("root"), identity, a.hex("proof"));
  if (!value) return reject(value.error());
  std::cout << "verified\n"
            << "value: " << to_hex(*value) << "\n"
            << "value text: " << encoding::quoted(encoding::text_of(*value)) << "\n";
  return kVerified;
}

int absence(const Args& a) {
  a.finish(kOptions);
  const Bytes identity = identity_of(a);
  return report(coniks_verify_absence(a.raw("namespace"), a.hex("vrf-public"), a.hex("root"), identity, a.hex("proof")));
}

}  // namespace

std::vector<Command> coniks_commands() {
  static constexpr const char* kConiksUsage =
      "--namespace NS --vrf-public HEX --root HEX (--identity TEXT | --identity-hex HEX) --proof HEX";
  return {
      {"coniks-lookup", kConiksUsage, lookup, {},
       "Verifies a CONIKS presence proof for the identity under the 64-byte directory --root of\n"
       "namespace --namespace whose ECVRF-Edwards25519 key is --vrf-public; prints the proven value.",
       "quenfold-verify coniks-lookup --namespace example.org --vrf-public @examples/coniks/vrf-public.hex "
       "--root @examples/coniks/root.hex --identity alice@example.org --proof @examples/coniks/alice.lookup.proof"},
      {"coniks-absence", kConiksUsage, absence, {},
       "Verifies a CONIKS absence proof: the identity holds no leaf under the 64-byte directory --root.",
       "quenfold-verify coniks-absence --namespace example.org --vrf-public @examples/coniks/vrf-public.hex "
       "--root @examples/coniks/root.hex --identity mallory@example.org --proof @examples/coniks/mallory.absence.proof"},
  };
}

}  // namespace quenfold::cli
