// key-history, commitment.
#include <sstream>

#include "cli.h"
#include "quenfold/commitment.h"
#include "quenfold/key_history.h"

namespace quenfold::cli {
namespace {

// An entry given either by options or as a file of "name value" lines
// (--entry @path) with the options' names; an option overrides the file.
struct Entry {
  std::uint64_t seq = 0, ts_ms = 0;
  Bytes enc_x25519, enc_pq, signing_pub;
  std::optional<Bytes> prev;
};

Entry read_entry(const Options& o) {
  std::map<std::string, std::string> lines;
  if (o.has("entry")) {
    std::istringstream in(o.text("entry"));
    std::string key, value;
    while (in >> key) {
      std::getline(in, value);
      const auto start = value.find_first_not_of(" \t");
      lines[key] = start == std::string::npos ? "" : value.substr(start);
    }
  }
  auto field = [&](const std::string& name) -> std::optional<std::string> {
    if (o.has(name)) return o.text(name);
    if (auto it = lines.find(name); it != lines.end()) return it->second;
    return std::nullopt;
  };
  auto number = [&](const std::string& name) -> std::uint64_t {
    const auto v = field(name);
    if (!v || v->empty() || v->size() > 20 || v->find_first_not_of("0123456789") != std::string::npos)
      throw UsageError("--" + name + " must be an unsigned decimal number");
    try {
      return std::stoull(*v);
    } catch (const std::out_of_range&) {
      throw UsageError("--" + name + " is out of range");
    }
  };
  auto bytes = [&](const std::string& name) { return parse_hex(field(name).value_or("")); };
  Entry e;
  e.seq = number("seq");
  e.ts_ms = number("ts-ms");
  e.enc_x25519 = bytes("enc-x25519");
  e.enc_pq = bytes("enc-pq");
  e.signing_pub = bytes("signing-pub");
  if (auto p = field("prev-entry-hash")) e.prev = parse_hex(*p);
  return e;
}

Outcome key_history(const Options& o) {
  const Entry e = read_entry(o);
  std::optional<ByteView> prev;
  if (e.prev) prev = ByteView(*e.prev);
  const auto bytes = key_history_v1_canonical_bytes(e.seq, e.ts_ms, e.enc_x25519, e.enc_pq, e.signing_pub, prev);
  if (!bytes) return rejected(bytes.error());
  const auto hash = o.has("context") ? key_history_entry_hash_with_context(o.text("context"), e.seq, e.ts_ms,
                                                                           e.enc_x25519, e.enc_pq, e.signing_pub, prev)
                                     : key_history_v1_entry_hash(e.seq, e.ts_ms, e.enc_x25519, e.enc_pq, e.signing_pub, prev);
  if (!hash) return rejected(hash.error());
  const auto leaf = key_history_v1_rfc6962_leaf_hash(e.seq, e.ts_ms, e.enc_x25519, e.enc_pq, e.signing_pub, prev);
  if (!leaf) return rejected(leaf.error());
  return verified(Fields().bytes("canonical_bytes", *bytes).bytes("entry_hash", *hash).bytes("leaf_hash", *leaf));
}

Outcome commitment(const Options& o) {
  if (o.has("value") && o.has("value-text")) throw UsageError("give at most one of --value, --value-text");
  Bytes value;
  if (o.has("value-text")) {
    const std::string text = o.text("value-text");
    value.assign(text.begin(), text.end());
  } else if (o.has("value")) {
    value = o.hex("value");
  }
  return outcome_of(verify_commitment(o.text("context"), o.hex("commitment"), value, o.hex("opening")));
}

}  // namespace

void register_key_history(Registry& r) {
  r.add("key-history",
        "Computes a key-history v1 entry's canonical leaf bytes, its 64-byte entry hash (under --context when "
        "given, else \"brackle/key-history/v1\") and its RFC 6962 leaf hash. --entry reads \"name value\" lines "
        "named like the options; a missing or empty prev-entry-hash marks the genesis entry.",
        "quenfold-verify key-history --entry @examples/key_history/entry1.txt", key_history)
      .optional("entry", "@FILE", "The entry as \"name value\" lines (seq, ts-ms, enc-x25519, ...)")
      .optional("seq", "N", "Sequence number")
      .optional("ts-ms", "N", "Timestamp, Unix milliseconds")
      .optional("enc-x25519", "HEX", "X25519 encryption key")
      .optional("enc-pq", "HEX", "Post-quantum encryption key")
      .optional("signing-pub", "HEX", "Signing public key")
      .optional("prev-entry-hash", "HEX", "64-byte hash of the previous entry (none for the first)")
      .optional("context", "LABEL", "Context label of the entry hash");
  r.add("commitment",
        "Verifies that the 64-byte --commitment opens, with the 32-byte --opening, to the value (hex with "
        "--value, UTF-8 text with --value-text) under the context label --context.",
        "quenfold-verify commitment --context example.org/profile/v1 --commitment @examples/key_history/commitment.hex "
        "--value-text @examples/key_history/value.txt --opening @examples/key_history/opening.hex",
        commitment)
      .required("context", "TEXT", "Context label")
      .required("commitment", "HEX", "64-byte commitment")
      .optional("value", "HEX", "Committed value as hex")
      .optional("value-text", "TEXT", "Committed value as text")
      .required("opening", "HEX", "32-byte opening");
}

}  // namespace quenfold::cli
