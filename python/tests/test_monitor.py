"""Origin-bound checkpoints, key lists checked once and batches of inclusion
proofs under one head, on the bundled example log and on a real log's
checkpoints (the test log of transparency-dev's witness)."""

import json
import unittest

import quenfold_log as qf

from .support import EXAMPLES, ROOT, OperationTest, hex_file, hex_items

REAL = ROOT.parent / "shared" / "testdata" / "real-logs" / "transparency_dev_witnessing.json"
ORIGIN = "log.example.org/quenfold/v1"
# Leaves 1, 3 and 5 of the example log hold the three key-history entries.
ENTRIES = [(1, "entry0"), (3, "entry1"), (5, "entry2")]


class MonitorTest(OperationTest):
    OPERATIONS = ("verify_signed_note", "checkpoint_verify", "verify_inclusion", "verify_consistency")
    EXAMPLE_DIR = "log"

    def setUp(self):
        self.keys = qf.VerifierKeys((EXAMPLES / "log" / "keys.txt").read_text().split())
        self.note7 = (EXAMPLES / "log" / "checkpoint-7.note").read_text()
        self.note4 = (EXAMPLES / "log" / "checkpoint-4.note").read_text()

    def test_key_list_names_the_key_that_failed(self):
        good = list(self.keys)[0]
        cases = [
            ("k+0102030g+AQ==", 'verifier key 2 "k": invalid hex character'),
            ("no-plus", 'verifier key 2 "no-plus": malformed verifier key: "no-plus"'),
            (good[:-2] + ("AA" if not good.endswith("AA") else "BA"),
             'verifier key 2 "log.example.org": verifier key id mismatch: declared '),
        ]
        for bad, want in cases:
            with self.subTest(key=bad):
                with self.assertRaises(qf.VerificationError) as ctx:
                    qf.VerifierKeys([good, bad, good])
                self.assertTrue(ctx.exception.message.startswith(want), ctx.exception.message)
        self.assertEqual(self.keys.names, ["log.example.org", "log.example.org/pq"])

    def test_origin_is_bound(self):
        head = qf.CheckpointVerifier(ORIGIN, self.keys).verify(self.note7)
        self.assertEqual((head.origin, head.size), (ORIGIN, 7))
        self.assertRejected(f'checkpoint origin mismatch: got "{ORIGIN}", want "{ORIGIN}/other"',
                            qf.CheckpointVerifier(ORIGIN + "/other", self.keys).verify, self.note7)
        # The signatures are checked before the origin.
        with self.assertRaises(qf.VerificationError) as ctx:
            qf.CheckpointVerifier("elsewhere", self.keys).verify(self.note4.replace("\n4\n", "\n5\n", 1))
        self.assertTrue(ctx.exception.message.startswith("invalid signature for known key "), ctx.exception.message)

    def test_proof_forms_return_the_heads(self):
        log = qf.CheckpointVerifier(ORIGIN, self.keys)
        index, entry = ENTRIES[2]
        leaf = hex_file(f"key_history/{entry}.leaf-hash")
        proof = hex_items(f"log/inclusion-{entry}-in-7.proof")
        self.assertEqual(log.verify_inclusion(self.note7, index, leaf, proof).size, 7)
        self.assertRejected("root mismatch: recomputed root does not match the expected root",
                            log.verify_inclusion, self.note7, index - 1, leaf, proof)
        older, newer = log.verify_consistency(self.note4, self.note7, hex_items("log/consistency-4-to-7.proof"))
        self.assertEqual((older.size, newer.size), (4, 7))

    def test_batch_under_one_head(self):
        head = qf.CheckpointVerifier(ORIGIN, self.keys).verify(self.note7)
        items = [(i, hex_file(f"key_history/{e}.leaf-hash"), hex_items(f"log/inclusion-{e}-in-7.proof"))
                 for i, e in ENTRIES]
        items.append((ENTRIES[0][0], items[1][1], items[0][2]))  # another entry's leaf
        results = qf.verify_inclusions(head, items)
        self.assertEqual([r is None for r in results], [True, True, True, False])
        self.assertEqual(results[3].message, "root mismatch: recomputed root does not match the expected root")

    def test_real_log_consistency(self):
        if not REAL.is_file():
            self.skipTest(f"real-log checkpoints not found at {REAL}")
        monkeys = json.loads(REAL.read_text())["monkeys"]
        log = qf.CheckpointVerifier("monkeys", qf.VerifierKeys([monkeys["key"]]))
        proof = [bytes.fromhex(h) for h in monkeys["consistency_proof_hex"]]
        older, newer = log.verify_consistency(monkeys["older"], monkeys["newer"], proof)
        self.assertEqual((older.size, newer.size), (5, 8))
        proof[0] = bytes([proof[0][0] ^ 1]) + proof[0][1:]
        self.assertRejected("root mismatch: recomputed root does not match the expected root",
                            log.verify_consistency, monkeys["older"], monkeys["newer"], proof)


if __name__ == "__main__":
    unittest.main()
