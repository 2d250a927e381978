"""The public operations and error kinds, which are generated from the
catalogue: each operation has the catalogue's signature and hands exactly
its arguments to the loaded library, and each error kind's message rule
recognises the library's messages of that kind. Needs no library."""

import inspect
import typing
import unittest
from typing import Optional, Sequence

import quenfold_log as qf
from quenfold_log import _library
from quenfold_log.errors import kind_of

# The annotation a caller sees for each argument kind of the table.
_ARGUMENT_ANNOTATIONS = {
    "u8": int, "u16": int, "u32": int, "u64": int, "string": str, "bytes": bytes,
    "bytes_list": Sequence[bytes], "string_list": Sequence[str],
    "optional_bytes": Optional[bytes], "commitment_hash": qf.CommitmentHash,
}
_RESULT_ANNOTATIONS = {None: type(None), "u32": int, "bytes": bytes}


class _Recorder:
    """Stands in for a loaded library: records each call, answers with a
    fresh object."""

    def __init__(self):
        self.calls = []
        self.answers = []

    def call(self, op, *values):
        self.calls.append((op, values))
        self.answers.append(object())
        return self.answers[-1]


class OperationsTest(unittest.TestCase):
    def setUp(self):
        # Route the module-level functions to a recorder, and give the real
        # default library (if one was loaded) back afterwards.
        self.recorder = _Recorder()
        with _library._default_lock:
            saved = _library._default
            _library._default = self.recorder

        def restore():
            with _library._default_lock:
                _library._default = saved
        self.addCleanup(restore)

    def test_every_operation_is_public_with_the_catalogue_signature(self):
        self.assertTrue(qf.CATALOGUE)
        for op, (args, result, _) in qf.CATALOGUE.items():
            with self.subTest(op=op):
                self.assertEqual(qf.__all__.count(op), 1)
                fn = getattr(qf, op)
                parameters = inspect.signature(fn).parameters
                self.assertEqual(list(parameters), [name for name, _ in args])
                for p in parameters.values():
                    self.assertEqual(p.kind, inspect.Parameter.POSITIONAL_OR_KEYWORD, p.name)
                    self.assertIs(p.default, inspect.Parameter.empty, p.name)
                hints = typing.get_type_hints(fn)
                for name, kind in args:
                    self.assertEqual(hints[name], _ARGUMENT_ANNOTATIONS[kind], name)
                want = _RESULT_ANNOTATIONS.get(result) or getattr(qf, result)
                self.assertEqual(hints["return"], want)
                self.assertTrue(fn.__doc__ and fn.__doc__.strip())

    def test_each_operation_hands_its_arguments_to_the_library_in_order(self):
        for op, (args, result, _) in qf.CATALOGUE.items():
            with self.subTest(op=op):
                self.recorder.calls.clear()
                values = [object() for _ in args]
                positional = getattr(qf, op)(*values)
                # By keyword, in reverse order: still the catalogue's order.
                keywords = getattr(qf, op)(**dict(reversed([(n, v) for (n, _), v in zip(args, values)])))
                self.assertEqual(self.recorder.calls, [(op, tuple(values))] * 2)
                if result is None:
                    self.assertIsNone(positional)
                    self.assertIsNone(keywords)
                else:
                    self.assertIs(positional, self.recorder.answers[-2])
                    self.assertIs(keywords, self.recorder.answers[-1])

    def test_a_missing_or_extra_argument_never_reaches_the_library(self):
        for op, (args, _, _) in qf.CATALOGUE.items():
            with self.subTest(op=op):
                self.recorder.calls.clear()
                with self.assertRaises(TypeError):
                    getattr(qf, op)(*[object() for _ in args[1:]])
                with self.assertRaises(TypeError):
                    getattr(qf, op)(*[object() for _ in args], object())
                self.assertEqual(self.recorder.calls, [])


class ErrorKindRulesTest(unittest.TestCase):
    # One message of each kind, as src/core/error.cpp formats it.
    SAMPLES = {
        qf.ErrorKind.LeafIndexOutOfRange: "leaf index 7 is beyond tree size 7",
        qf.ErrorKind.WrongProofSize: "wrong proof size: got 2, want 3",
        qf.ErrorKind.InvalidHashLength: "invalid hash length: got 31 bytes, want 32",
        qf.ErrorKind.RootMismatch: "root mismatch: recomputed root does not match the expected root",
        qf.ErrorKind.EmptyTreeConsistency: "consistency proof from an empty tree is meaningless",
        qf.ErrorKind.TreeSizeRegression: "tree size regression: size2 (3) < size1 (7)",
        qf.ErrorKind.EqualSizesNonEmptyProof: "consistency proof between equal sizes must be empty",
        qf.ErrorKind.MalformedCanonicalLeaf: "malformed canonical leaf: truncated",
        qf.ErrorKind.MalformedCheckpoint: "malformed checkpoint: missing root line",
        qf.ErrorKind.MalformedSignedNote: "malformed signed note: no blank line",
        qf.ErrorKind.InvalidSignature:
            'invalid signature for known key "log.example" (key id 0a1b2c3d)',
        qf.ErrorKind.NoTrustedSignature: "note has no verifiable signature from a trusted key",
        qf.ErrorKind.MalformedNamespace: "malformed namespace: empty",
        qf.ErrorKind.Vrf: "vrf error: bad point",
        qf.ErrorKind.VrfProofInvalid: "vrf proof did not verify against the namespace public key",
        qf.ErrorKind.CommitmentMismatch: "commitment did not open to the claimed value",
        qf.ErrorKind.MalformedConiksProof: "malformed coniks proof: trailing bytes",
        qf.ErrorKind.ConiksRootMismatch:
            "coniks proof root mismatch: recomputed directory root does not match the expected root",
        qf.ErrorKind.MalformedPolicy: "malformed namespace policy: unknown field",
        qf.ErrorKind.PostureMismatch: "posture mismatch: declared Sha3_256, observed Sha3_512",
        qf.ErrorKind.MalformedKeytrans: "malformed keytrans structure: short label",
        qf.ErrorKind.KeytransRootMismatch:
            "keytrans proof root mismatch: recomputed root does not match the expected root",
        qf.ErrorKind.WrongFixedLength: "vrf_public must be exactly 32 bytes",
        qf.ErrorKind.MalformedVerifierKey: 'verifier key 2 "log.example": bad base64',
        qf.ErrorKind.OriginMismatch: 'checkpoint origin mismatch: got "a", want "b"',
        qf.ErrorKind.MalformedWitnessPolicy: "malformed witness policy: line 3: unknown keyword",
        qf.ErrorKind.WitnessQuorumNotMet: "witness quorum not met: 1 of 2",
        qf.ErrorKind.BrokenChain:
            "checkpoint chain broken between checkpoints 1 and 2: tree size regression: "
            "size2 (3) < size1 (7)",
        qf.ErrorKind.LogSignaturesNotMet: "log signatures not met: 1 of the 2 required log keys signed",
        qf.ErrorKind.MalformedTlogProof: "malformed tlog proof: missing index line",
        qf.ErrorKind.MalformedTilePath: 'malformed tile path "tile/0/1": index group 1 is not three digits',
        qf.ErrorKind.MalformedTile: "malformed tile tile/0/000: 8193 bytes, want exactly 8192",
        qf.ErrorKind.TileHashMismatch:
            "tile tile/0/003 does not authenticate: its hashes do not hash to entry 3 of tile/1/000",
        qf.ErrorKind.TileMissing: "tile tile/1/000 is missing",
        qf.ErrorKind.TreeTooLarge: "tree size 70000 exceeds the audit limit 65536",
        qf.ErrorKind.InvalidSubtree: "[2, 6) is not a subtree of the tree",
    }
    # Texts close to a kind's message that are not the library's.
    NOT_MESSAGES = (
        "",
        "root mismatch",
        "Root mismatch: recomputed root does not match the expected root",
        "must be exactly 32 bytes",
        "vrf_public must be exactly 32 bytes!",
        "malformed something: else",
    )

    def test_every_kind_has_a_sample(self):
        self.assertEqual(set(self.SAMPLES), set(qf.ErrorKind))

    def test_each_sample_is_recognised_as_its_kind(self):
        for kind, message in self.SAMPLES.items():
            with self.subTest(kind=kind.name):
                self.assertIs(kind_of(message), kind)
                self.assertIs(qf.VerificationError(message).kind, kind)

    def test_other_texts_have_no_kind(self):
        for text in self.NOT_MESSAGES:
            with self.subTest(text=text):
                self.assertIsNone(kind_of(text))


if __name__ == "__main__":
    unittest.main()
