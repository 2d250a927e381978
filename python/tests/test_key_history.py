"""Key-history entries and commitments through the binding, on
examples/key_history."""

import hashlib
import unittest

import quenfold_log as qf

from .support import EXAMPLES, OperationTest, fields, hex_file


def entry_args(i: int):
    f = fields(f"key_history/entry{i}.txt")
    prev = bytes.fromhex(f["prev-entry-hash"]) if "prev-entry-hash" in f else None
    return (int(f["seq"]), int(f["ts-ms"]), bytes.fromhex(f["enc-x25519"]),
            bytes.fromhex(f["enc-pq"]), bytes.fromhex(f["signing-pub"]), prev)


class KeyHistoryTest(OperationTest):
    OPERATIONS = ("key_history_v1_canonical_bytes", "key_history_v1_entry_hash",
                  "key_history_entry_hash_with_context", "key_history_v1_rfc6962_leaf_hash")
    EXAMPLE_DIR = "key_history"

    def test_example_chain(self):
        previous = None
        for i in range(3):
            with self.subTest(entry=i):
                args = entry_args(i)
                canonical = qf.key_history_v1_canonical_bytes(*args)
                leaf = qf.key_history_v1_rfc6962_leaf_hash(*args)
                entry_hash = qf.key_history_v1_entry_hash(*args)
                self.assertEqual(leaf, hex_file(f"key_history/entry{i}.leaf-hash"))
                self.assertEqual(leaf, hashlib.sha256(b"\x00" + canonical).digest())
                self.assertEqual(len(entry_hash), 64)
                # Each entry links to its predecessor's entry hash.
                self.assertEqual(args[5], previous)
                previous = entry_hash

    def test_genesis_sentinel_and_caller_labels(self):
        args = entry_args(0)
        self.assertIsNone(args[5])
        empty_prev = args[:5] + (b"",)
        self.assertEqual(qf.key_history_v1_entry_hash(*args), qf.key_history_v1_entry_hash(*empty_prev))
        default = qf.key_history_v1_entry_hash(*args)
        self.assertEqual(qf.key_history_entry_hash_with_context("brackle/key-history/v1", *args), default)
        other = qf.key_history_entry_hash_with_context("example.org/key-history/v1", *args)
        self.assertEqual(len(other), 64)
        self.assertNotEqual(other, default)
        with self.assertRaises(qf.VerificationError) as ctx:
            qf.key_history_entry_hash_with_context("", *args)
        self.assertTrue(ctx.exception.message.startswith("malformed canonical leaf: "),
                        ctx.exception.message)


class CommitmentTest(OperationTest):
    OPERATIONS = ("verify_commitment",)
    EXAMPLE_DIR = "key_history"

    def test_example_opening_and_a_tampered_value(self):
        commitment = hex_file("key_history/commitment.hex")
        opening = hex_file("key_history/opening.hex")
        value = (EXAMPLES / "key_history/value.txt").read_bytes()
        context = "example.org/profile/v1"
        self.assertIsNone(qf.verify_commitment(context, commitment, value, opening))
        cases = [
            (context, commitment, b"mallory", opening),
            ("example.org/profile/v2", commitment, value, opening),
            (context, commitment, value, bytes(32)),
        ]
        for args in cases:
            with self.subTest(args=args[0]):
                self.assertRejected("commitment did not open to the claimed value",
                                    qf.verify_commitment, *args)
        with self.assertRaises(qf.VerificationError):
            qf.verify_commitment(context, commitment[:63], value, opening)


if __name__ == "__main__":
    unittest.main()
