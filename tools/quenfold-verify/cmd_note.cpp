// note, checkpoint, checkpoint-inclusion, checkpoint-consistency, tlog-proof:
// signed notes and the checkpoints they carry.
//
// The checkpoint commands take one of two routes. Given only --keys, they
// verify as the exported operations do (any trusted key's signature, no
// origin expected). Given --origin (and optionally a witness --policy), they
// verify through a CheckpointVerifier: the checkpoint must carry that origin
// and be signed by the log's key (and meet the policy's quorum), and the
// signers and cosigners that verified are printed after the head.
#include <optional>

#include "cli.h"
#include "signer_json.h"
#include "encoding/context.h"
#include "encoding/text.h"
#include "note/verifier_key.h"
#include "quenfold/checkpoint.h"
#include "quenfold/checkpoint_verifier.h"
#include "quenfold/merkle.h"
#include "quenfold/note.h"
#include "quenfold/tlog_proof.h"
#include "quenfold/witness.h"

namespace quenfold::cli {
namespace {

// Verifier keys: a file of one key per line (@path) or a comma-separated
// list (keys never contain a comma). The list is parsed first by the parser
// the checks use, which is also the first thing they do: a list that does
// not parse is the caller's own mistake (bad usage), reported with the
// message the check would have given.
struct Keys {
  std::vector<std::string> texts;
  std::vector<std::string_view> views;
  explicit Keys(const Options& o) : texts(o.lines("keys")), views(texts.begin(), texts.end()) {
    if (const auto parsed = note::parse_verifier_keys(views); !parsed) throw UsageError(parsed.error().message());
  }
};

std::vector<ByteView> views(const std::vector<Bytes>& v) { return {v.begin(), v.end()}; }

Fields head_fields(const CheckpointHead& h) {
  return Fields().text("origin", h.origin).number("size", h.size).bytes("root", h.root).texts("extensions",
                                                                                            h.extensions);
}

Fields witnessed_fields(const VerifiedCheckpoint& c) {
  return head_fields(c.head)
      .json("log_signers", signers_json(c.log_signers))
      .json("cosigners", signers_json(c.cosigners));
}

// The verifier of the --origin route, or none for the --keys route.
std::optional<CheckpointVerifier> origin_verifier(const Options& o) {
  if (!o.has("origin")) {
    if (o.has("policy")) throw UsageError("--policy requires --origin");
    if (!o.has("keys")) throw UsageError("--keys is required (or --origin with --policy)");
    return std::nullopt;
  }
  const std::string& origin = o.raw("origin");
  std::optional<VerifierList> keys;
  if (o.has("keys")) {
    const auto texts = o.lines("keys");
    auto parsed = VerifierList::parse(std::span<const std::string>(texts));
    if (!parsed) throw UsageError(parsed.error().message());
    keys = std::move(*parsed);
  }
  std::optional<WitnessPolicy> policy;
  if (o.has("policy")) {
    auto parsed = WitnessPolicy::parse(o.text("policy"));
    if (!parsed) throw UsageError(parsed.error().message());
    policy = std::move(*parsed);
  }
  std::optional<CheckpointVerifier> v;
  if (keys && policy) {
    v.emplace(origin, std::move(*keys), std::move(*policy));
  } else if (keys) {
    v.emplace(origin, std::move(*keys));
  } else if (policy) {
    v.emplace(origin, std::move(*policy));
  } else {
    throw UsageError("--origin needs --keys, --policy or both");
  }
  if (v->log_keys().empty())
    throw UsageError("no key signs for the log " + encoding::quoted(origin) +
                     ": give --keys naming the log's key, or a --policy whose log line is named " +
                     encoding::quoted(origin));
  return v;
}

Outcome note(const Options& o) {
  const Keys keys(o);
  const auto r = verify_signed_note(o.text("note"), keys.views);
  if (!r) return rejected(r.error());
  return verified(Fields().number("verified_signatures", *r));
}

Outcome checkpoint(const Options& o) {
  if (const auto v = origin_verifier(o)) {
    const auto r = v->verify(o.text("note"));
    if (!r) return rejected(r.error());
    return verified(witnessed_fields(*r));
  }
  const Keys keys(o);
  const auto r = checkpoint_verify(o.text("note"), keys.views);
  if (!r) return rejected(r.error());
  return verified(head_fields(*r));
}

Outcome checkpoint_inclusion(const Options& o) {
  const auto v = origin_verifier(o);
  const std::string text = o.text("note");
  const auto index = o.u64("index");
  const Bytes leaf_hash = o.hex("leaf-hash");
  const auto proof = o.hex_list("proof");
  if (v) {
    const auto r = v->verify_inclusion(text, index, leaf_hash, views(proof));
    if (!r) return rejected(r.error());
    return verified(witnessed_fields(*r));
  }
  // The checks of checkpoint_verify_inclusion, keeping the head they verify.
  const Keys keys(o);
  const auto head = checkpoint_verify(text, keys.views);
  if (!head) return rejected(head.error());
  if (const auto r = verify_inclusion(index, head->size, leaf_hash, views(proof), head->root); !r)
    return rejected(r.error());
  return verified(head_fields(*head));
}

Outcome checkpoint_consistency(const Options& o) {
  const auto v = origin_verifier(o);
  const std::string older = o.text("older");
  const std::string newer = o.text("newer");
  const auto proof = o.hex_list("proof");
  if (v) {
    const auto r = v->verify_consistency(older, newer, views(proof));
    if (!r) return rejected(r.error());
    return verified(Fields().record("older", witnessed_fields(r->first)).record("newer", witnessed_fields(r->second)));
  }
  // The checks of checkpoint_verify_consistency, keeping the heads they verify.
  const Keys keys(o);
  const auto h1 = checkpoint_verify(older, keys.views);
  if (!h1) return rejected(h1.error());
  const auto h2 = checkpoint_verify(newer, keys.views);
  if (!h2) return rejected(h2.error());
  if (const auto r = verify_consistency(h1->size, h2->size, views(proof), h1->root, h2->root); !r)
    return rejected(r.error());
  return verified(Fields().record("older", head_fields(*h1)).record("newer", head_fields(*h2)));
}

constexpr const char* kKeysHelp = "Trusted verifier keys: @FILE with one per line, or comma-separated";
// A C2SP tlog-proof, always through the --origin route: its checkpoint must
// be the log's statement about that origin.
Outcome tlog_proof(const Options& o) {
  if (!o.has("origin")) throw UsageError("--origin is required");
  if (o.has("leaf-hash") == o.has("entry")) throw UsageError("give exactly one of --leaf-hash and --entry");
  const auto v = origin_verifier(o);
  const std::string text = o.text("proof");
  const std::string entry = o.has("entry") ? o.text("entry") : std::string();
  const auto r = o.has("entry") ? verify_tlog_proof_entry(text, *v, encoding::bytes_of(entry))
                                : verify_tlog_proof(text, *v, o.hex("leaf-hash"));
  if (!r) return rejected(r.error());
  return verified(Fields()
                      .number("index", r->index)
                      .number("size", r->checkpoint.head.size)
                      .bytes("root", r->checkpoint.head.root)
                      .text("origin", r->checkpoint.head.origin)
                      .json("log_signers", signers_json(r->checkpoint.log_signers))
                      .json("cosigners", signers_json(r->checkpoint.cosigners)));
}

constexpr const char* kCheckpointKeysHelp =
    "Trusted verifier keys: @FILE with one per line, or comma-separated; with --origin, the log's keys "
    "(whatever their names) and cosignature/v1 witness keys. Required unless --policy is given";
constexpr const char* kOriginHelp =
    "The origin the checkpoint must carry; verifies it as the log's statement (signed by a log key of "
    "--keys or of --policy) and prints the log signers and cosigners";
constexpr const char* kPolicyHelp =
    "A witness policy in the C2SP tlog-policy format whose quorum must have cosigned; needs --origin";

// The options of the --origin route, shared by the checkpoint commands.
void origin_options(Options& o) {
  o.optional("origin", "ORIGIN", kOriginHelp).optional("policy", "@FILE", kPolicyHelp);
}

}  // namespace

void register_note(Registry& r) {
  r.add("note",
        "Verifies a C2SP signed note against the trusted verifier keys; prints how many trusted signature "
        "lines verified.",
        "quenfold-verify note --note @examples/log/checkpoint-4.note --keys @examples/log/keys.txt", note)
      .required("note", "TEXT|@FILE", "The signed note")
      .required("keys", "KEY[,KEY...]|@FILE", kKeysHelp);
  origin_options(
      r.add("checkpoint",
            "Verifies a signed checkpoint note and prints its origin, tree size, root hash and extension "
            "lines; with --origin the checkpoint must carry that origin and the log's signature (and with "
            "--policy the witness quorum), and the log signers and cosigners are printed too.",
            "quenfold-verify checkpoint --note @examples/log/checkpoint-7.note --keys @examples/log/ed25519.vkey",
            checkpoint)
          .required("note", "TEXT|@FILE", "The signed checkpoint note")
          .optional("keys", "KEY[,KEY...]|@FILE", kCheckpointKeysHelp));
  origin_options(
      r.add("checkpoint-inclusion",
            "Verifies the signed checkpoint, then the RFC 6962 inclusion of --leaf-hash at --index under the "
            "checkpoint's size and root; --origin and --policy as for checkpoint.",
            "quenfold-verify checkpoint-inclusion --note @examples/log/checkpoint-7.note --keys "
            "@examples/log/keys.txt --index 5 --leaf-hash @examples/key_history/entry2.leaf-hash "
            "--proof @examples/log/inclusion-entry2-in-7.proof",
            checkpoint_inclusion)
          .required("note", "TEXT|@FILE", "The signed checkpoint note")
          .optional("keys", "KEY[,KEY...]|@FILE", kCheckpointKeysHelp)
          .required("index", "N", "Leaf index")
          .required("leaf-hash", "HEX", "32-byte leaf hash")
          .optional("proof", "HEX[,HEX...]", "Audit path (empty when absent)"));
  origin_options(
      r.add("checkpoint-consistency",
            "Verifies both signed checkpoints and the RFC 6962 consistency proof from the older tree to the "
            "newer one; --origin and --policy as for checkpoint (both must meet them).",
            "quenfold-verify checkpoint-consistency --older @examples/log/checkpoint-4.note "
            "--newer @examples/log/checkpoint-7.note --keys @examples/log/keys.txt "
            "--proof @examples/log/consistency-4-to-7.proof",
            checkpoint_consistency)
          .required("older", "TEXT|@FILE", "The older signed checkpoint")
          .required("newer", "TEXT|@FILE", "The newer signed checkpoint")
          .optional("keys", "KEY[,KEY...]|@FILE", kCheckpointKeysHelp)
          .optional("proof", "HEX[,HEX...]", "Consistency proof (empty when absent)"));
  r.add("tlog-proof",
        "Verifies a C2SP tlog-proof: the leaf hash (given, or SHA-256(0x00 || entry) of --entry), the "
        "checkpoint's origin and log signature, the cosignatures of --policy's quorum, then the inclusion "
        "of the leaf at the proof's index; prints the index, size, root, log signers and cosigners.",
        "quenfold-verify tlog-proof --proof @examples/tlog_proof/entry.tlog-proof --origin "
        "log.example.org/proofs/v1 --policy @examples/tlog_proof/policy.txt --entry @examples/tlog_proof/entry.txt",
        tlog_proof)
      .required("proof", "TEXT|@FILE", "The tlog proof (c2sp.org/tlog-proof@v1)")
      .optional("origin", "ORIGIN", "The origin the proof's checkpoint must carry")
      .optional("keys", "KEY[,KEY...]|@FILE", kCheckpointKeysHelp)
      .optional("policy", "@FILE", "A witness policy in the C2SP tlog-policy format whose quorum must have cosigned")
      .optional("leaf-hash", "HEX", "The entry's 32-byte RFC 6962 leaf hash")
      .optional("entry", "TEXT|@FILE", "The entry itself, hashed as an RFC 6962 leaf");
}

}  // namespace quenfold::cli
