// examples/key_history: a chain of three linked key-history entries (and a
// commitment opening). The log examples include the entries' leaf hashes.
#include "examples.h"
#include "commitment/commitment.h"
#include "encoding/context.h"
#include "quenfold/key_history.h"

namespace quenfold::examples {

std::vector<KeyHistoryExample> key_history_chain() {
  std::vector<KeyHistoryExample> chain;
  std::optional<Bytes> prev;
  for (std::uint64_t seq = 0; seq < 3; ++seq) {
    KeyHistoryExample e;
    e.seq = seq;
    e.ts_ms = 1'765'000'000'000 + seq * 86'400'000;
    e.enc_x25519 = Bytes(32, static_cast<std::uint8_t>(0x10 + seq));
    e.enc_pq = Bytes(48, static_cast<std::uint8_t>(0x20 + seq));
    e.signing_pub = Bytes(32, static_cast<std::uint8_t>(0x30 + seq));
    e.prev = prev;
    std::optional<ByteView> pv;
    if (prev) pv = ByteView(*prev);
    e.entry_hash = *key_history_v1_entry_hash(e.seq, e.ts_ms, e.enc_x25519, e.enc_pq, e.signing_pub, pv);
    e.leaf_hash = *key_history_v1_rfc6962_leaf_hash(e.seq, e.ts_ms, e.enc_x25519, e.enc_pq, e.signing_pub, pv);
    prev = e.entry_hash;
    chain.push_back(e);
  }
  return chain;
}

void make_key_history(const std::filesystem::path& dir) {
  for (const auto& e : key_history_chain()) {
    std::string text = "seq " + std::to_string(e.seq) + "\nts-ms " + std::to_string(e.ts_ms) +
                       "\nenc-x25519 " + hex(e.enc_x25519) + "\nenc-pq " + hex(e.enc_pq) +
                       "\nsigning-pub " + hex(e.signing_pub) + "\n";
    if (e.prev) text += "prev-entry-hash " + hex(*e.prev) + "\n";
    write_file(dir / ("entry" + std::to_string(e.seq) + ".txt"), text);
    write_file(dir / ("entry" + std::to_string(e.seq) + ".leaf-hash"), hex(e.leaf_hash) + "\n");
  }
  const Bytes opening(32, 0x42);
  const std::string value = "alice@example.org: key v3";
  const auto c = commit(encoding::bytes_of("example.org/profile/v1"), encoding::bytes_of(value), opening);
  write_file(dir / "commitment.hex", hex(Bytes(c.begin(), c.end())) + "\n");
  write_file(dir / "opening.hex", hex(opening) + "\n");
  write_file(dir / "value.txt", value);
}

}  // namespace quenfold::examples
