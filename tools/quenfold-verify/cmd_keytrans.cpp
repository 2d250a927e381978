// keytrans-search, keytrans-fixed-version, keytrans-monitor: KEYTRANS
// combined-tree proofs under a suite given by --suite (default: the
// experimental suite, through the operations without a suite).
#include <iostream>
#include <optional>

#include "cli.h"
#include "quenfold/keytrans.h"

namespace quenfold::cli {
namespace {

const std::vector<std::string> kKnown = {"suite", "context", "vrf-public", "root", "label", "label-hex", "proof"};

// A suite as a hexadecimal or decimal identifier, or by name. Unknown
// numbers are passed on so that the library reports them.
std::optional<std::uint16_t> suite_of(const Args& a) {
  if (!a.has("suite")) return std::nullopt;
  const std::string s = a.raw("suite");
  struct Name {
    const char* name;
    std::uint16_t id;
  };
  static constexpr Name kNames[] = {
      {"Kt128Sha256P256", 0x0001},    {"KT_128_SHA256_P256", 0x0001},    {"p256", 0x0001},
      {"Kt128Sha256Ed25519", 0x0002}, {"KT_128_SHA256_Ed25519", 0x0002}, {"ed25519", 0x0002},
      {"QuenfoldHybridExp", 0xF000},  {"experimental", 0xF000},
  };
  for (const auto& n : kNames)
    if (s == n.name) return n.id;
  const bool hex = s.size() > 2 && (s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0);
  const std::string digits = hex ? s.substr(2) : s;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of(allowed) != std::string::npos)
    throw UsageError("--suite must be 0x0001, 0x0002, 0xf000 or a suite name");
  const unsigned long v = std::stoul(digits, nullptr, hex ? 16 : 10);
  if (v > 0xffff) throw UsageError("--suite must fit in 16 bits");
  return static_cast<std::uint16_t>(v);
}

Bytes label_of(const Args& a) {
  if (a.has("label-hex")) return a.hex("label-hex");
  const std::string t = a.text("label");
  return Bytes(t.begin(), t.end());
}

struct Inputs {
  std::optional<std::uint16_t> suite;
  std::string context;
  Bytes vrf_public, root, label, proof;
};

Inputs inputs(const Args& a) {
  a.finish(kKnown);
  Inputs in;
  in.suite = suite_of(a);
  in.context = a.has("context") ? a.text("context") : std::string();
  in.vrf_public = a.hex("vrf-public");
  in.root = a.hex("root");
  in.label = label_of(a);
  in.proof = a.hex("proof");
  return in;
}

int print(const std::expected<SearchResult, Error>& r) {
  if (!r) return reject(r.error());
  std::cout << "verified\n";
  if (!r->present) {
    std::cout << "present: false\n";
    return kVerified;
  }
  std::cout << "present: true\nvalue: " << to_hex(*r->value) << "\n";
  bool printable = true;
  for (auto c : *r->value) printable = printable && c >= 0x20 && c < 0x7f;
  if (printable) std::cout << "value text: " << std::string(r->value->begin(), r->value->end()) << "\n";
  return kVerified;
}

int search(const Args& a) {
  const Inputs in = inputs(a);
  return print(in.suite ? keytrans_verify_search_suite(*in.suite, in.context, in.vrf_public, in.root, in.label, in.proof)
                        : keytrans_verify_search(in.context, in.vrf_public, in.root, in.label, in.proof));
}

int fixed_version(const Args& a) {
  const Inputs in = inputs(a);
  return print(in.suite ? keytrans_verify_fixed_version_suite(*in.suite, in.context, in.vrf_public, in.root, in.label,
                                                              in.proof)
                        : keytrans_verify_fixed_version(in.context, in.vrf_public, in.root, in.label, in.proof));
}

int monitor(const Args& a) {
  const Inputs in = inputs(a);
  return report(in.suite ? keytrans_verify_monitor_suite(*in.suite, in.context, in.vrf_public, in.root, in.label, in.proof)
                         : keytrans_verify_monitor(in.context, in.vrf_public, in.root, in.label, in.proof));
}

constexpr const char* kKeytransUsage =
    "[--suite 0x0001|0x0002|0xf000|NAME] [--context TEXT] --vrf-public HEX --root HEX (--label TEXT | --label-hex HEX) "
    "--proof HEX";

}  // namespace

std::vector<Command> keytrans_commands() {
  return {
      {"keytrans-search", kKeytransUsage, search, {},
       "Verifies a KEYTRANS greatest-version search proof for the label under the 32-byte combined\n"
       "--root; prints whether the label is present and its value. The proof must be about the\n"
       "newest log entry (a search about an older one could hide later versions). --suite\n"
       "defaults to the experimental suite 0xf000.",
       "quenfold-verify keytrans-search --suite 0x0001 --context @examples/keytrans/p256/context.txt "
       "--vrf-public @examples/keytrans/p256/vrf-public.hex --root @examples/keytrans/p256/root.hex "
       "--label alice@example.org --proof @examples/keytrans/p256/search-alice.proof"},
      {"keytrans-fixed-version", kKeytransUsage, fixed_version, {},
       "Verifies a KEYTRANS fixed-version search proof for the label under the combined --root;\n"
       "prints whether that version is present and its value.",
       "quenfold-verify keytrans-fixed-version --suite 0x0001 --context @examples/keytrans/p256/context.txt "
       "--vrf-public @examples/keytrans/p256/vrf-public.hex --root @examples/keytrans/p256/root.hex "
       "--label alice@example.org --proof @examples/keytrans/p256/fixed-version-alice-2.proof"},
      {"keytrans-monitor", kKeytransUsage, monitor, {},
       "Verifies a KEYTRANS monitoring proof: every step of the label's monitoring ladder is an\n"
       "inclusion under the combined --root.",
       "quenfold-verify keytrans-monitor --suite 0x0001 --context @examples/keytrans/p256/context.txt "
       "--vrf-public @examples/keytrans/p256/vrf-public.hex --root @examples/keytrans/p256/root.hex "
       "--label alice@example.org --proof @examples/keytrans/p256/monitor-alice-4.proof"},
  };
}

}  // namespace quenfold::cli
