// key-history, commitment.
#include <sstream>

#include "cli.h"
#include "encoding/context.h"
#include "quenfold/commitment.h"
#include "quenfold/key_history.h"

namespace quenfold::cli {
namespace {

// An entry given either by flags or as a file of "name value" lines
// (--entry @path) with the same names as the flags.
struct EntryArgs {
  std::uint64_t seq = 0, ts_ms = 0;
  Bytes enc_x25519, enc_pq, signing_pub;
  std::optional<Bytes> prev;
};

EntryArgs read_entry(const Args& a) {
  EntryArgs e;
  std::map<std::string, std::string> fields;
  if (a.has("entry")) {
    std::istringstream in(a.text("entry"));
    std::string key, value;
    while (in >> key) {
      std::getline(in, value);
      const auto start = value.find_first_not_of(" \t");
      fields[key] = start == std::string::npos ? "" : value.substr(start);
    }
  }
  auto field = [&](const std::string& name) -> std::optional<std::string> {
    if (a.has(name)) return a.text(name);
    if (auto it = fields.find(name); it != fields.end()) return it->second;
    return std::nullopt;
  };
  auto number = [&](const std::string& name) -> std::uint64_t {
    auto v = field(name);
    if (!v || v->empty() || v->find_first_not_of("0123456789") != std::string::npos || v->size() > 20)
      throw UsageError("--" + name + " must be an unsigned decimal number");
    return std::stoull(*v);
  };
  auto bytes = [&](const std::string& name) { return parse_hex(field(name).value_or("")); };
  e.seq = number("seq");
  e.ts_ms = number("ts-ms");
  e.enc_x25519 = bytes("enc-x25519");
  e.enc_pq = bytes("enc-pq");
  e.signing_pub = bytes("signing-pub");
  if (auto p = field("prev-entry-hash")) e.prev = parse_hex(*p);
  return e;
}

int key_history(const Args& a) {
  a.finish({"entry", "seq", "ts-ms", "enc-x25519", "enc-pq", "signing-pub", "prev-entry-hash", "context"});
  const EntryArgs e = read_entry(a);
  std::optional<ByteView> prev;
  if (e.prev) prev = ByteView(*e.prev);
  auto bytes = key_history_v1_canonical_bytes(e.seq, e.ts_ms, e.enc_x25519, e.enc_pq, e.signing_pub, prev);
  if (!bytes) return reject(bytes.error());
  auto hash = a.has("context")
                  ? key_history_entry_hash_with_context(a.text("context"), e.seq, e.ts_ms, e.enc_x25519, e.enc_pq,
                                                        e.signing_pub, prev)
                  : key_history_v1_entry_hash(e.seq, e.ts_ms, e.enc_x25519, e.enc_pq, e.signing_pub, prev);
  if (!hash) return reject(hash.error());
  auto leaf = key_history_v1_rfc6962_leaf_hash(e.seq, e.ts_ms, e.enc_x25519, e.enc_pq, e.signing_pub, prev);
  if (!leaf) return reject(leaf.error());
  return verified({{"canonical bytes", to_hex(*bytes)}, {"entry hash", to_hex(*hash)}, {"leaf hash", to_hex(*leaf)}});
}

int commitment(const Args& a) {
  a.finish({"context", "commitment", "value", "value-text", "opening"});
  Bytes value;
  if (a.has("value-text")) {
    const std::string text = a.text("value-text");
    value.assign(text.begin(), text.end());
  } else if (a.has("value")) {
    value = a.hex("value");
  }
  return report(verify_commitment(a.text("context"), a.hex("commitment"), value, a.hex("opening")));
}

}  // namespace

std::vector<Command> key_history_commands() {
  return {
      {"key-history",
       "(--entry @FILE | --seq N --ts-ms N --enc-x25519 HEX --enc-pq HEX --signing-pub HEX "
       "[--prev-entry-hash HEX]) [--context LABEL]",
       key_history, {},
       "Computes a key-history v1 entry's canonical leaf bytes, its 64-byte entry hash (under\n"
       "--context when given, else \"brackle/key-history/v1\") and its RFC 6962 leaf hash.\n"
       "--entry reads \"name value\" lines with the option names (seq, ts-ms, ...);\n"
       "a missing or empty prev-entry-hash marks the genesis entry.",
       "quenfold-verify key-history --entry @examples/key_history/entry1.txt"},
      {"commitment", "--context TEXT --commitment HEX (--value HEX | --value-text TEXT) --opening HEX", commitment, {},
       "Verifies that the 64-byte --commitment opens, with the 32-byte --opening, to the value\n"
       "(hex with --value, UTF-8 text with --value-text) under the context label --context.",
       "quenfold-verify commitment --context example.org/profile/v1 --commitment @examples/key_history/commitment.hex "
       "--value-text @examples/key_history/value.txt --opening @examples/key_history/opening.hex"},
  };
}

}  // namespace quenfold::cli
