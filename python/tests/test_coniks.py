"""CONIKS directory proofs through the binding, on examples/coniks."""

import unittest

import quenfold_log as qf

from .support import OperationTest, hex_file

D = "coniks/"
ROOT_MISMATCH = "coniks proof root mismatch: recomputed directory root does not match the expected root"
VRF_INVALID = "vrf proof did not verify against the namespace public key"


class ConiksTest(OperationTest):
    OPERATIONS = ("coniks_verify_lookup", "coniks_verify_absence")
    EXAMPLE_DIR = "coniks"

    def setUp(self):
        self.vrf = hex_file(D + "vrf-public.hex")
        self.root = hex_file(D + "root.hex")
        self.alice = hex_file(D + "alice.lookup.proof")
        self.mallory = hex_file(D + "mallory.absence.proof")

    def test_presence_returns_the_proven_value(self):
        value = qf.coniks_verify_lookup("example.org", self.vrf, self.root, b"alice@example.org", self.alice)
        self.assertEqual(value, b"public key of alice")

    def test_absence_verifies(self):
        self.assertIsNone(qf.coniks_verify_absence("example.org", self.vrf, self.root,
                                                   b"mallory@example.org", self.mallory))

    def test_tampered_and_misused_proofs_are_rejected(self):
        tampered = hex_file(D + "alice.tampered.proof")
        cases = [
            (qf.coniks_verify_lookup, ("example.org", self.vrf, self.root, b"alice@example.org", tampered),
             ROOT_MISMATCH),
            (qf.coniks_verify_lookup, ("example.org", self.vrf, self.root, b"bob@example.org", self.alice),
             VRF_INVALID),
            (qf.coniks_verify_absence, ("example.org", self.vrf, self.root, b"alice@example.org", self.mallory),
             VRF_INVALID),
            (qf.coniks_verify_lookup, ("example.org", self.vrf, self.root[:63], b"alice@example.org", self.alice),
             "coniks root must be exactly 64 bytes"),
            (qf.coniks_verify_lookup, ("example.org", self.vrf[:31], self.root, b"alice@example.org", self.alice),
             "vrf error: invalid length: expected 32 bytes, got 31"),
        ]
        for fn, args, message in cases:
            with self.subTest(message=message, identity=args[3]):
                self.assertRejected(message, fn, *args)
        # The wrong kind of proof, and another namespace.
        for fn, args in ((qf.coniks_verify_lookup, ("example.org", self.vrf, self.root,
                                                     b"mallory@example.org", self.mallory)),
                         (qf.coniks_verify_absence, ("example.org", self.vrf, self.root,
                                                      b"alice@example.org", self.alice)),
                         (qf.coniks_verify_lookup, ("example.net", self.vrf, self.root,
                                                     b"alice@example.org", self.alice))):
            with self.subTest(fn=fn.__name__, namespace=args[0], identity=args[3]):
                with self.assertRaises(qf.VerificationError):
                    fn(*args)


if __name__ == "__main__":
    unittest.main()
