// note, checkpoint, checkpoint-inclusion, checkpoint-consistency: signed
// notes and the checkpoints they carry.
#include "cli.h"
#include "quenfold/checkpoint.h"
#include "quenfold/note.h"

namespace quenfold::cli {
namespace {

// Verifier keys: a file of one key per line (@path) or a comma-separated
// list (keys never contain a comma).
struct Keys {
  std::vector<std::string> texts;
  std::vector<std::string_view> views;
  explicit Keys(const Options& o) : texts(o.lines("keys")), views(texts.begin(), texts.end()) {}
};

std::vector<ByteView> views(const std::vector<Bytes>& v) { return {v.begin(), v.end()}; }

Fields head_fields(const CheckpointHead& h) {
  return Fields().text("origin", h.origin).number("size", h.size).bytes("root", h.root).texts("extensions",
                                                                                            h.extensions);
}

Outcome note(const Options& o) {
  const Keys keys(o);
  const auto r = verify_signed_note(o.text("note"), keys.views);
  if (!r) return rejected(r.error());
  return verified(Fields().number("verified_signatures", *r));
}

Outcome checkpoint(const Options& o) {
  const Keys keys(o);
  const auto r = checkpoint_verify(o.text("note"), keys.views);
  if (!r) return rejected(r.error());
  return verified(head_fields(*r));
}

Outcome checkpoint_inclusion(const Options& o) {
  const Keys keys(o);
  const std::string text = o.text("note");
  const auto proof = o.hex_list("proof");
  const auto r = checkpoint_verify_inclusion(text, keys.views, o.u64("index"), o.hex("leaf-hash"), views(proof));
  if (!r) return rejected(r.error());
  // The head that anchored the proof (verified again, for display).
  const auto head = checkpoint_verify(text, keys.views);
  if (!head) return rejected(head.error());
  return verified(head_fields(*head));
}

Outcome checkpoint_consistency(const Options& o) {
  const Keys keys(o);
  const std::string older = o.text("older");
  const std::string newer = o.text("newer");
  const auto proof = o.hex_list("proof");
  const auto r = checkpoint_verify_consistency(older, newer, keys.views, views(proof));
  if (!r) return rejected(r.error());
  const auto h1 = checkpoint_verify(older, keys.views);
  if (!h1) return rejected(h1.error());
  const auto h2 = checkpoint_verify(newer, keys.views);
  if (!h2) return rejected(h2.error());
  return verified(Fields().record("older", head_fields(*h1)).record("newer", head_fields(*h2)));
}

constexpr const char* kKeysHelp = "Trusted verifier keys: @FILE with one per line, or comma-separated";

}  // namespace

void register_note(Registry& r) {
  r.add("note",
        "Verifies a C2SP signed note against the trusted verifier keys; prints how many trusted signature "
        "lines verified.",
        "quenfold-verify note --note @examples/log/checkpoint-4.note --keys @examples/log/keys.txt", note)
      .required("note", "TEXT|@FILE", "The signed note")
      .required("keys", "KEY[,KEY...]|@FILE", kKeysHelp);
  r.add("checkpoint",
        "Verifies a signed checkpoint note and prints its origin, tree size, root hash and extension lines.",
        "quenfold-verify checkpoint --note @examples/log/checkpoint-7.note --keys @examples/log/ed25519.vkey",
        checkpoint)
      .required("note", "TEXT|@FILE", "The signed checkpoint note")
      .required("keys", "KEY[,KEY...]|@FILE", kKeysHelp);
  r.add("checkpoint-inclusion",
        "Verifies the signed checkpoint, then the RFC 6962 inclusion of --leaf-hash at --index under the "
        "checkpoint's size and root.",
        "quenfold-verify checkpoint-inclusion --note @examples/log/checkpoint-7.note --keys @examples/log/keys.txt "
        "--index 5 --leaf-hash @examples/key_history/entry2.leaf-hash "
        "--proof @examples/log/inclusion-entry2-in-7.proof",
        checkpoint_inclusion)
      .required("note", "TEXT|@FILE", "The signed checkpoint note")
      .required("keys", "KEY[,KEY...]|@FILE", kKeysHelp)
      .required("index", "N", "Leaf index")
      .required("leaf-hash", "HEX", "32-byte leaf hash")
      .optional("proof", "HEX[,HEX...]", "Audit path (empty when absent)");
  r.add("checkpoint-consistency",
        "Verifies both signed checkpoints and the RFC 6962 consistency proof from the older tree to the "
        "newer one.",
        "quenfold-verify checkpoint-consistency --older @examples/log/checkpoint-4.note "
        "--newer @examples/log/checkpoint-7.note --keys @examples/log/keys.txt "
        "--proof @examples/log/consistency-4-to-7.proof",
        checkpoint_consistency)
      .required("older", "TEXT|@FILE", "The older signed checkpoint")
      .required("newer", "TEXT|@FILE", "The newer signed checkpoint")
      .required("keys", "KEY[,KEY...]|@FILE", kKeysHelp)
      .optional("proof", "HEX[,HEX...]", "Consistency proof (empty when absent)");
}

}  // namespace quenfold::cli
