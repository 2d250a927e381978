"""KEYTRANS combined-tree proofs through the binding, on examples/keytrans:
one directory per suite where alice has versions 0 to 5 and bob is absent."""

import unittest

import quenfold_log as qf

from .support import EXAMPLES, OperationTest, hex_file

SUITES = {"p256": 0x0001, "ed25519": 0x0002, "experimental": 0xF000}
ALICE, BOB = b"alice@example.org", b"bob@example.org"


def directory(name: str):
    d = f"keytrans/{name}/"
    context = (EXAMPLES / d / "context.txt").read_text().strip()
    return d, (context, hex_file(d + "vrf-public.hex"), hex_file(d + "root.hex"))


def proof(d: str, name: str) -> bytes:
    return b"".join(bytes.fromhex(x) for x in (EXAMPLES / d / name).read_text().split())


class KeytransTest(OperationTest):
    OPERATIONS = ("keytrans_verify_search", "keytrans_verify_fixed_version", "keytrans_verify_monitor",
                  "keytrans_verify_search_suite", "keytrans_verify_fixed_version_suite",
                  "keytrans_verify_monitor_suite")
    EXAMPLE_DIR = "keytrans"

    def test_every_suite_search_fixed_version_and_monitoring(self):
        for name, suite in SUITES.items():
            with self.subTest(suite=name):
                d, (context, vrf, root) = directory(name)
                found = qf.keytrans_verify_search_suite(suite, context, vrf, root, ALICE,
                                                        proof(d, "search-alice.proof"))
                self.assertEqual(found, qf.SearchResult(True, b"alice key 5"))
                absent = qf.keytrans_verify_search_suite(suite, context, vrf, root, BOB,
                                                         proof(d, "search-bob.proof"))
                self.assertEqual(absent, qf.SearchResult(False, None))
                fixed = qf.keytrans_verify_fixed_version_suite(suite, context, vrf, root, ALICE,
                                                               proof(d, "fixed-version-alice-2.proof"))
                self.assertEqual(fixed, qf.SearchResult(True, b"alice key 2"))
                self.assertIsNone(qf.keytrans_verify_monitor_suite(suite, context, vrf, root, ALICE,
                                                                   proof(d, "monitor-alice-4.proof")))

    def test_the_default_suite_is_the_experimental_one(self):
        d, (context, vrf, root) = directory("experimental")
        self.assertEqual(qf.keytrans_verify_search(context, vrf, root, ALICE, proof(d, "search-alice.proof")),
                         qf.SearchResult(True, b"alice key 5"))
        self.assertEqual(qf.keytrans_verify_fixed_version(context, vrf, root, ALICE,
                                                          proof(d, "fixed-version-alice-2.proof")),
                         qf.SearchResult(True, b"alice key 2"))
        self.assertIsNone(qf.keytrans_verify_monitor(context, vrf, root, ALICE, proof(d, "monitor-alice-4.proof")))

    def test_tampered_and_misused_proofs_are_rejected(self):
        d, (context, vrf, root) = directory("p256")
        self.assertRejected("commitment did not open to the claimed value", qf.keytrans_verify_search_suite,
                            0x0001, context, vrf, root, ALICE, proof(d, "search-alice-tampered.proof"))
        self.assertRejected("malformed keytrans structure: unknown keytrans suite id 0x0003",
                            qf.keytrans_verify_search_suite, 0x0003, context, vrf, root, ALICE,
                            proof(d, "search-alice.proof"))
        self.assertRejected("malformed keytrans structure: combined root must be 32 bytes, got 31",
                            qf.keytrans_verify_search_suite, 0x0001, context, vrf, root[:31], ALICE,
                            proof(d, "search-alice.proof"))
        for args in ((0x0002, context, vrf, root, ALICE, proof(d, "search-alice.proof")),
                     (0x0001, context, vrf, root, b"carol@example.org", proof(d, "search-alice.proof"))):
            with self.subTest(suite=args[0], label=args[4]):
                with self.assertRaises(qf.VerificationError):
                    qf.keytrans_verify_search_suite(*args)
        e = "experimental"
        d, (context, vrf, root) = directory(e)
        with self.assertRaises(qf.VerificationError):
            qf.keytrans_verify_monitor(context, vrf, root, BOB, proof(d, "monitor-alice-4.proof"))


if __name__ == "__main__":
    unittest.main()
