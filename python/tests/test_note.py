"""Signed notes and checkpoints through the binding, on the public signed-note
vectors (notes produced by an independent C2SP implementation) and, when
bundled, the example log's signed checkpoints."""

import base64
import json
import unittest

import quenfold_log as qf

from .support import EXAMPLES, ROOT, OperationTest, hex_file, hex_items

VECTORS = ROOT.parent / "shared" / "testdata" / "go-signed-notes.json"


class SignedNoteTest(OperationTest):
    OPERATIONS = ("verify_signed_note", "checkpoint_parse")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not VECTORS.is_file():
            raise unittest.SkipTest(f"public signed-note vectors not found at {VECTORS}")
        cls.vectors = json.loads(VECTORS.read_text())

    def test_notes_verify_with_the_counted_lines(self):
        keys = self.vectors["verifier_keys"]
        for i, note in enumerate(self.vectors["notes"]):
            with self.subTest(note=i, trusted=note["trusted"]):
                vkeys = [keys[name] for name in note["trusted"]]
                if "error" in note:
                    self.assertRejected(note["error"], qf.verify_signed_note, note["text"], vkeys)
                else:
                    self.assertEqual(qf.verify_signed_note(note["text"], vkeys), note["verified_lines"])

    def test_an_altered_note_is_rejected_by_its_trusted_key(self):
        keys = self.vectors["verifier_keys"]
        note = self.vectors["notes"][0]
        altered = note["text"].replace("cryptography", "cryptographY", 1)
        with self.assertRaises(qf.VerificationError) as ctx:
            qf.verify_signed_note(altered, [keys["PeterNeumann"]])
        self.assertTrue(ctx.exception.message.startswith(
            'invalid signature for known key "PeterNeumann" (key id c74f20a3)'), ctx.exception.message)
        self.assertRejected("malformed signed note: note contains a forbidden control character",
                            qf.verify_signed_note, note["text"].replace("\n", "\r\n"), [keys["PeterNeumann"]])

    def test_checkpoint_body_parses_into_its_head(self):
        body = self.vectors["tree_note_body"]
        head = qf.checkpoint_parse(body["text"])
        self.assertEqual(head, qf.CheckpointHead(origin=body["origin"], size=body["size"],
                                                 root=base64.b64decode(body["root_b64"]), extensions=[]))
        with_extensions = qf.checkpoint_parse(body["text"] + "ext one\next two\n")
        self.assertEqual(with_extensions.extensions, ["ext one", "ext two"])
        self.assertRejected("malformed checkpoint: missing root-hash line", qf.checkpoint_parse,
                            "\n".join(body["text"].splitlines()[:2]) + "\n")


class SignedCheckpointTest(OperationTest):
    """examples/log: checkpoints of sizes 4 and 7 signed by an Ed25519 and a
    composite ML-DSA-65+Ed25519 key; the key-history entries 0, 1, 2 of
    examples/key_history are its leaves 1, 3 and 5."""

    OPERATIONS = ("checkpoint_verify", "checkpoint_verify_inclusion", "checkpoint_verify_consistency")
    EXAMPLE_DIR = "log"
    LEAVES = {0: 1, 1: 3, 2: 5}

    def setUp(self):
        log = EXAMPLES / "log"
        self.keys = [k for k in (log / "keys.txt").read_text().splitlines() if k]
        self.single = {"ed25519": (log / "ed25519.vkey").read_text().strip(),
                       "composite": (log / "composite.vkey").read_text().strip()}
        self.note4 = (log / "checkpoint-4.note").read_text()
        self.note7 = (log / "checkpoint-7.note").read_text()

    def proof(self, name):
        return hex_items("log/" + name)

    def test_heads_under_each_key(self):
        self.assertEqual(qf.verify_signed_note(self.note7, self.keys), 2)
        for name, key in self.single.items():
            with self.subTest(key=name):
                head = qf.checkpoint_verify(self.note7, [key])
                self.assertEqual((head.origin, head.size), ("log.example.org/quenfold/v1", 7))
                self.assertEqual(len(head.root), 32)
                self.assertEqual(head.extensions, ["key-history entries: 3"])
                body = self.note7[:self.note7.index("\n\n") + 1]
                self.assertEqual(qf.checkpoint_parse(body), head)

    def test_key_history_entries_are_included(self):
        for size, note in ((4, self.note4), (7, self.note7)):
            for seq, leaf in self.LEAVES.items():
                name = f"inclusion-entry{seq}-in-{size}.proof"
                if not (EXAMPLES / "log" / name).exists():
                    continue
                with self.subTest(size=size, entry=seq):
                    leaf_hash = hex_file(f"key_history/entry{seq}.leaf-hash")
                    self.assertIsNone(qf.checkpoint_verify_inclusion(note, self.keys, leaf, leaf_hash,
                                                                     self.proof(name)))
        self.assertRejected("root mismatch: recomputed root does not match the expected root",
                            qf.checkpoint_verify_inclusion, self.note7, self.keys, 4,
                            hex_file("key_history/entry2.leaf-hash"), self.proof("inclusion-entry2-in-7.proof"))

    def test_consistency_and_tampering(self):
        proof = self.proof("consistency-4-to-7.proof")
        self.assertIsNone(qf.checkpoint_verify_consistency(self.note4, self.note7, self.keys, proof))
        self.assertRejected("tree size regression: size2 (4) < size1 (7)", qf.checkpoint_verify_consistency,
                            self.note7, self.note4, self.keys, proof)
        tampered = (EXAMPLES / "log" / "checkpoint-7-tampered.note").read_text()
        with self.assertRaises(qf.VerificationError) as ctx:
            qf.checkpoint_verify(tampered, self.keys)
        self.assertTrue(ctx.exception.message.startswith("invalid signature for known key "),
                        ctx.exception.message)
        self.assertRejected("note has no verifiable signature from a trusted key", qf.checkpoint_verify,
                            self.note7, [])


if __name__ == "__main__":
    unittest.main()
