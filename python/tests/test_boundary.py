"""The binding's side of the boundary: argument checks before the call,
internal failures (status 2) as InternalError, and every operation of the
catalogue reachable with its arguments lifted by the library."""

import ctypes
import unittest

import quenfold_log as qf

from .support import library

H32 = b"\x01" * 32


class BoundaryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = library()

    def require(self, op: str):
        if not self.lib.provides(op):
            self.skipTest(f"library does not export {op}")

    def test_python_arguments_are_checked_before_any_call(self):
        self.require("verify_inclusion")
        cases = [
            (TypeError, ("0", 1, H32, [], H32)),
            (TypeError, (True, 1, H32, [], H32)),
            (ValueError, (-1, 1, H32, [], H32)),
            (ValueError, (0, 1 << 64, H32, [], H32)),
            (TypeError, (0, 1, H32.hex(), [], H32)),
            (TypeError, (0, 1, H32, H32, H32)),
            (TypeError, (0, 1, H32, [], None)),
        ]
        for error, args in cases:
            with self.subTest(args=args):
                with self.assertRaises(error):
                    qf.verify_inclusion(*args)
        with self.assertRaises(TypeError):
            self.lib.call("verify_inclusion", 0, 1, H32, [])

    def test_scalar_widths(self):
        # Checked while lowering, before the entry point is even resolved.
        with self.assertRaises(ValueError):
            qf.policy_enforce_vrf_suite_id(b"", 256)
        with self.assertRaises(ValueError):
            qf.policy_enforce_directory_backend(b"", 1 << 16)
        with self.assertRaises(TypeError):
            qf.policy_enforce_commitment_hash(b"", 1)

    def test_status_2_is_an_internal_error_with_the_library_text(self):
        self.require("verify_inclusion")
        u64 = ctypes.c_uint64
        junk = b"\x00\x00\x00\x20" + H32 + b"abc"
        list0 = b"\x00\x00\x00\x00"
        cases = [
            ([u64(0), u64(1), junk, list0, b"\x00\x00\x00\x20" + H32],
             "Failed to convert arg 'leaf_hash':\njunk data left in buffer after lifting (count: 3)"),
            # Both malformed: only the first in declaration order is named.
            ([u64(0), u64(1), b"\x00\x00\x00\x02\xaa", b"\xff\xff\xff\xff", b""],
             "Failed to convert arg 'leaf_hash':\nnot enough bytes remaining in buffer (0 < 1)"),
            ([u64(0), u64(1), b"\x00\x00\x00\x20" + H32, b"\xff\xff\xff\xff", b""],
             "Failed to convert arg 'proof':\nout of range integral type conversion attempted"),
            ([u64(0), u64(1), b"\x00\x00\x00\x20" + H32, list0, b""],
             "Failed to convert arg 'root':\nnot enough bytes remaining in buffer (0 < 4)"),
        ]
        for lowered, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(qf.InternalError) as ctx:
                    self.lib.call_lowered("verify_inclusion", lowered)
                self.assertEqual(ctx.exception.message, message)
                self.assertNotIsInstance(ctx.exception, qf.VerificationError)
                self.assertIsInstance(ctx.exception, qf.VerifyError)

    def test_invalid_utf8_in_a_string_list_is_refused_by_the_library(self):
        self.require("verify_signed_note")
        with self.assertRaises(qf.InternalError) as ctx:
            self.lib.call_lowered("verify_signed_note",
                                  [b"note", b"\x00\x00\x00\x01\x00\x00\x00\x01\xff"])
        self.assertEqual(ctx.exception.message,
                         "Failed to convert arg 'vkeys':\ninvalid utf-8 sequence of 1 bytes from index 0")

    def test_every_operation_lifts_its_arguments_and_reports_a_rejection(self):
        # Well-formed arguments with meaningless contents: the library lifts
        # them all (no InternalError) and its verifier rejects the input with
        # one line of text that starts as the table says.
        env = b"\x00" * 8
        directory = ("example.org", b"\x00" * 32, b"\x00" * 64, b"alice", b"")
        keytrans = ("example.org", b"\x00" * 33, b"\x00" * 32, b"alice", b"")
        cases = {
            "verify_inclusion": ((0, 1, H32, [H32], H32), "wrong proof size"),
            "verify_consistency": ((1, 2, [], H32, H32), "wrong proof size"),
            "key_history_v1_canonical_bytes": ((0, 0, b"", b"", b"", None), ""),
            "key_history_v1_entry_hash": ((0, 0, b"", b"", b"", None), ""),
            "key_history_entry_hash_with_context": (("", 0, 0, b"", b"", b"", None), "malformed canonical leaf: "),
            "key_history_v1_rfc6962_leaf_hash": ((0, 0, b"", b"", b"", None), ""),
            "verify_signed_note": (("no signatures\n", ["a+01234567+AAAA"]), ""),
            "checkpoint_verify": (("no signatures\n", []), ""),
            "checkpoint_parse": (("",), "malformed checkpoint: "),
            "checkpoint_verify_inclusion": (("", [], 0, H32, []), ""),
            "checkpoint_verify_consistency": (("", "", [], []), ""),
            "coniks_verify_lookup": (directory, ""),
            "coniks_verify_absence": (directory, ""),
            "verify_commitment": (("example.org/x/v1", b"\x00" * 64, b"v", b"\x00" * 32),
                                  "commitment did not open to the claimed value"),
            "signed_policy_verify": ((env,), "malformed namespace policy: "),
            "policy_enforce_checkpoint_signing_key": ((env, "AAAA"), "malformed namespace policy: "),
            "policy_enforce_checkpoint_signature": ((env, "AAAA"), "malformed namespace policy: "),
            "policy_enforce_vrf_suite_id": ((env, 3), "malformed namespace policy: "),
            "policy_enforce_commitment_hash": ((env, qf.CommitmentHash.Sha3_512),
                                               "malformed namespace policy: "),
            "policy_enforce_directory_backend": ((env, 1), "malformed namespace policy: "),
            "keytrans_verify_search": (keytrans, ""),
            "keytrans_verify_fixed_version": (keytrans, ""),
            "keytrans_verify_monitor": (keytrans, ""),
            "keytrans_verify_search_suite": ((0xF004,) + keytrans, ""),
            "keytrans_verify_fixed_version_suite": ((0xF004,) + keytrans, ""),
            "keytrans_verify_monitor_suite": ((0xF004,) + keytrans, ""),
        }
        self.assertEqual(set(cases), set(qf.CATALOGUE))
        missing = []
        for op, (args, prefix) in cases.items():
            if not self.lib.provides(op):
                missing.append(op)
                continue
            with self.subTest(op=op):
                fn = getattr(qf, op)
                try:
                    fn(*args)
                except qf.VerificationError as e:
                    self.assertTrue(e.message.startswith(prefix), e.message)
                    self.assertNotIn("\n", e.message)
                else:
                    # Only the key-history functions compute rather than check.
                    self.assertTrue(op.startswith("key_history_v1"), f"{op} accepted nonsense")
        if missing:
            self.skipTest("library does not export " + ", ".join(missing))


if __name__ == "__main__":
    unittest.main()
