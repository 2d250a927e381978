"""RFC 6962 proofs through the binding, on examples/merkle."""

import unittest

import quenfold_log as qf

from .support import OperationTest, hex_file, hex_items

ROOT_MISMATCH = "root mismatch: recomputed root does not match the expected root"


class MerkleTest(OperationTest):
    OPERATIONS = ("verify_inclusion", "verify_consistency")
    EXAMPLE_DIR = "merkle"

    def setUp(self):
        self.leaf = hex_file("merkle/leaf4.hash")
        self.root3 = hex_file("merkle/root3.hash")
        self.root7 = hex_file("merkle/root7.hash")
        self.inclusion = hex_items("merkle/inclusion-4-of-7.proof")
        self.consistency = hex_items("merkle/consistency-3-to-7.proof")

    def test_inclusion_example_verifies(self):
        self.assertIsNone(qf.verify_inclusion(4, 7, self.leaf, self.inclusion, self.root7))
        # Any bytes-like value is accepted.
        qf.verify_inclusion(4, 7, bytearray(self.leaf), [memoryview(p) for p in self.inclusion],
                            self.root7)

    def test_tampered_inclusion_is_rejected_with_the_exact_message(self):
        flipped = bytearray(self.inclusion[1])
        flipped[0] ^= 1
        cases = [
            ((5, 7, self.leaf, self.inclusion, self.root7), ROOT_MISMATCH),
            ((4, 7, self.leaf, [self.inclusion[0], bytes(flipped), self.inclusion[2]], self.root7),
             ROOT_MISMATCH),
            ((4, 7, self.leaf, self.inclusion[:2], self.root7), "wrong proof size: got 2, want 3"),
            ((7, 7, self.leaf, self.inclusion, self.root7), "leaf index 7 is beyond tree size 7"),
            ((4, 7, self.leaf, self.inclusion, self.root7[:31]),
             "invalid hash length: got 31 bytes, want 32"),
        ]
        for args, message in cases:
            with self.subTest(message=message, index=args[0]):
                self.assertRejected(message, qf.verify_inclusion, *args)

    def test_consistency_example_verifies_and_swapped_roots_do_not(self):
        self.assertIsNone(qf.verify_consistency(3, 7, self.consistency, self.root3, self.root7))
        self.assertRejected(ROOT_MISMATCH, qf.verify_consistency, 3, 7, self.consistency,
                            self.root7, self.root3)
        self.assertRejected("tree size regression: size2 (3) < size1 (7)", qf.verify_consistency,
                            7, 3, self.consistency, self.root7, self.root3)
        self.assertRejected("consistency proof from an empty tree is meaningless",
                            qf.verify_consistency, 0, 7, self.consistency, self.root3, self.root7)


if __name__ == "__main__":
    unittest.main()
