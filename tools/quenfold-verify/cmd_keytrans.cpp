// keytrans-search, keytrans-fixed-version, keytrans-monitor: KEYTRANS
// combined-tree proofs under the suite given by --suite.
#include <optional>

#include "cli.h"
#include "encoding/context.h"
#include "encoding/text.h"
#include "quenfold/keytrans.h"

namespace quenfold::cli {
namespace {

struct SuiteName {
  const char* name;
  std::uint16_t id;
};
// The short names first: they are the ones the help lists.
constexpr SuiteName kSuites[] = {
    {"p256", 0x0001},
    {"ed25519", 0x0002},
    {"experimental", 0xF000},
    {"KT_128_SHA256_P256", 0x0001},
    {"KT_128_SHA256_Ed25519", 0x0002},
    {"Kt128Sha256P256", 0x0001},
    {"Kt128Sha256Ed25519", 0x0002},
    {"QuenfoldHybridExp", 0xF000},
};

// A suite by name, or as a hexadecimal (0x...) or decimal identifier.
// Unknown numbers are passed on so that the library reports them.
std::optional<std::uint16_t> suite_of(const Options& o) {
  if (!o.has("suite")) return std::nullopt;
  const std::string& s = o.raw("suite");
  for (const auto& n : kSuites)
    if (s == n.name) return n.id;
  const bool hex = s.size() > 2 && (s.starts_with("0x") || s.starts_with("0X"));
  const std::string digits = hex ? s.substr(2) : s;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of(allowed) != std::string::npos)
    throw UsageError("--suite must be p256, ed25519, experimental or a 16-bit suite id, not " + s);
  const unsigned long v = std::stoul(digits, nullptr, hex ? 16 : 10);
  if (v > 0xffff) throw UsageError("--suite must fit in 16 bits");
  return static_cast<std::uint16_t>(v);
}

struct Inputs {
  std::optional<std::uint16_t> suite;
  std::string context;
  Bytes vrf_public, root, label, proof;
};

Inputs inputs(const Options& o) {
  if (o.has("label") == o.has("label-hex")) throw UsageError("give exactly one of --label, --label-hex");
  Inputs in;
  in.suite = suite_of(o);
  in.context = o.has("context") ? o.text("context") : std::string();
  in.vrf_public = o.hex("vrf-public");
  in.root = o.hex("root");
  if (o.has("label-hex")) {
    in.label = o.hex("label-hex");
  } else {
    const std::string t = o.text("label");
    in.label.assign(t.begin(), t.end());
  }
  in.proof = o.hex("proof");
  return in;
}

Outcome result(const std::expected<SearchResult, Error>& r) {
  if (!r) return rejected(r.error());
  Fields f;
  f.flag("present", r->present);
  if (!r->value) return verified(std::move(f.none("value")));
  f.bytes("value", *r->value);
  if (!encoding::utf8_error(*r->value)) f.text("value_text", encoding::text_of(*r->value));
  return verified(std::move(f));
}

Outcome search(const Options& o) {
  const Inputs in = inputs(o);
  return result(in.suite ? keytrans_verify_search_suite(*in.suite, in.context, in.vrf_public, in.root, in.label,
                                                        in.proof)
                         : keytrans_verify_search(in.context, in.vrf_public, in.root, in.label, in.proof));
}

Outcome fixed_version(const Options& o) {
  const Inputs in = inputs(o);
  return result(in.suite ? keytrans_verify_fixed_version_suite(*in.suite, in.context, in.vrf_public, in.root,
                                                               in.label, in.proof)
                         : keytrans_verify_fixed_version(in.context, in.vrf_public, in.root, in.label, in.proof));
}

Outcome monitor(const Options& o) {
  const Inputs in = inputs(o);
  return outcome_of(in.suite ? keytrans_verify_monitor_suite(*in.suite, in.context, in.vrf_public, in.root,
                                                             in.label, in.proof)
                             : keytrans_verify_monitor(in.context, in.vrf_public, in.root, in.label, in.proof));
}

void declare(Options& o) {
  o.optional("suite", "NAME|ID",
             "p256 (0x0001, KT_128_SHA256_P256), ed25519 (0x0002, KT_128_SHA256_Ed25519) or experimental "
             "(0xf000, the default)")
      .optional("context", "TEXT", "Directory context (empty when absent)")
      .required("vrf-public", "HEX", "VRF public key of the directory")
      .required("root", "HEX", "32-byte combined-tree root")
      .optional("label", "TEXT", "Label as text")
      .optional("label-hex", "HEX", "Label as hex")
      .required("proof", "HEX", "Proof bytes");
}

constexpr const char* kExample =
    "quenfold-verify keytrans-%s --suite p256 --context @examples/keytrans/p256/context.txt "
    "--vrf-public @examples/keytrans/p256/vrf-public.hex --root @examples/keytrans/p256/root.hex "
    "--label alice@example.org --proof @examples/keytrans/p256/%s.proof";

std::string example(const std::string& command, const std::string& proof) {
  std::string out = kExample;
  out.replace(out.find("%s"), 2, command);
  out.replace(out.find("%s"), 2, proof);
  return out;
}

}  // namespace

void register_keytrans(Registry& r) {
  declare(r.add("keytrans-search",
                "Verifies a KEYTRANS greatest-version search proof for the label under the combined --root; "
                "prints whether the label is present and its value. The proof must be about the newest log "
                "entry (a search about an older one could hide later versions).",
                example("search", "search-alice"), search));
  declare(r.add("keytrans-fixed-version",
                "Verifies a KEYTRANS fixed-version search proof for the label under the combined --root; prints "
                "whether that version is present and its value.",
                example("fixed-version", "fixed-version-alice-2"), fixed_version));
  declare(r.add("keytrans-monitor",
                "Verifies a KEYTRANS monitoring proof: every step of the label's monitoring ladder is an "
                "inclusion under the combined --root.",
                example("monitor", "monitor-alice-4"), monitor));
}

}  // namespace quenfold::cli
