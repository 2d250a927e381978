// note, checkpoint, checkpoint-inclusion, checkpoint-consistency: signed
// notes and the checkpoints they carry.
#include <iostream>

#include "cli.h"
#include "encoding/base64.h"
#include "quenfold/checkpoint.h"
#include "quenfold/note.h"

namespace quenfold::cli {
namespace {

// Verifier keys: a file of one key per line (@path) or a comma-separated
// list (keys never contain a comma).
struct Keys {
  std::vector<std::string> texts;
  std::vector<std::string_view> views;
  explicit Keys(const Args& a) : texts(a.lines("keys")), views(texts.begin(), texts.end()) {}
};

std::vector<ByteView> views(const std::vector<Bytes>& v) { return {v.begin(), v.end()}; }

void print_head(const CheckpointHead& h) {
  std::cout << "origin: " << h.origin << "\n"
            << "size: " << h.size << "\n"
            << "root: " << encoding::base64_encode(h.root) << "\n";
  for (const auto& e : h.extensions) std::cout << "extension: " << e << "\n";
}

int note(const Args& a) {
  a.finish({"note", "keys"});
  const Keys keys(a);
  const auto r = verify_signed_note(a.text("note"), keys.views);
  if (!r) return reject(r.error());
  std::cout << "verified\nverified signatures: " << *r << "\n";
  return kVerified;
}

int checkpoint(const Args& a) {
  a.finish({"note", "keys"});
  const Keys keys(a);
  const auto r = checkpoint_verify(a.text("note"), keys.views);
  if (!r) return reject(r.error());
  std::cout << "verified\n";
  print_head(*r);
  return kVerified;
}

int checkpoint_inclusion(const Args& a) {
  a.finish({"note", "keys", "index", "leaf-hash", "proof"});
  const Keys keys(a);
  const std::string text = a.text("note");
  const auto proof = a.has("proof") ? a.hex_list("proof") : std::vector<Bytes>{};
  const auto r = checkpoint_verify_inclusion(text, keys.views, a.u64("index"), a.hex("leaf-hash"), views(proof));
  if (!r) return reject(r.error());
  // The head that anchored the proof (verified again, for display).
  const auto head = checkpoint_verify(text, keys.views);
  if (!head) return reject(head.error());
  std::cout << "verified\n";
  print_head(*head);
  return kVerified;
}

int checkpoint_consistency(const Args& a) {
  a.finish({"older", "newer", "keys", "proof"});
  const Keys keys(a);
  const std::string older = a.text("older");
  const std::string newer = a.text("newer");
  const auto proof = a.has("proof") ? a.hex_list("proof") : std::vector<Bytes>{};
  const auto r = checkpoint_verify_consistency(older, newer, keys.views, views(proof));
  if (!r) return reject(r.error());
  const auto h1 = checkpoint_verify(older, keys.views);
  const auto h2 = checkpoint_verify(newer, keys.views);
  if (!h1) return reject(h1.error());
  if (!h2) return reject(h2.error());
  std::cout << "verified\nolder checkpoint:\n";
  print_head(*h1);
  std::cout << "newer checkpoint:\n";
  print_head(*h2);
  return kVerified;
}

}  // namespace

std::vector<Command> note_commands() {
  return {
      {"note", "--note TEXT|@FILE --keys KEY[,KEY...]|@FILE", note, {},
       "Verifies a C2SP signed note against the trusted verifier keys (one per line in a file,\n"
       "or comma-separated); prints how many trusted signature lines verified.",
       "quenfold-verify note --note @examples/log/checkpoint-4.note --keys @examples/log/keys.txt"},
      {"checkpoint", "--note TEXT|@FILE --keys KEY[,KEY...]|@FILE", checkpoint, {},
       "Verifies a signed checkpoint note and prints its origin, tree size, root hash (base64)\n"
       "and extension lines.",
       "quenfold-verify checkpoint --note @examples/log/checkpoint-7.note --keys @examples/log/ed25519.vkey"},
      {"checkpoint-inclusion",
       "--note TEXT|@FILE --keys KEY[,KEY...]|@FILE --index N --leaf-hash HEX --proof HEX[,HEX...]",
       checkpoint_inclusion, {},
       "Verifies the signed checkpoint, then the RFC 6962 inclusion of --leaf-hash at --index\n"
       "under the checkpoint's size and root.",
       "quenfold-verify checkpoint-inclusion --note @examples/log/checkpoint-7.note --keys @examples/log/keys.txt "
       "--index 5 --leaf-hash @examples/key_history/entry2.leaf-hash --proof @examples/log/inclusion-entry2-in-7.proof"},
      {"checkpoint-consistency",
       "--older TEXT|@FILE --newer TEXT|@FILE --keys KEY[,KEY...]|@FILE --proof HEX[,HEX...]",
       checkpoint_consistency, {},
       "Verifies both signed checkpoints and the RFC 6962 consistency proof from the older tree\n"
       "to the newer one.",
       "quenfold-verify checkpoint-consistency --older @examples/log/checkpoint-4.note "
       "--newer @examples/log/checkpoint-7.note --keys @examples/log/keys.txt "
       "--proof @examples/log/consistency-4-to-7.proof"},
  };
}

}  // namespace quenfold::cli
