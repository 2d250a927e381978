"""The C++ API's objects through the extension library: verifier lists,
witness policies with their cosigners and timestamps, checkpoint verifiers
under keys, a policy or both, batches under one head, rejections whose kind
and fields come from the library, and the load-time checks of the
extension. Fixtures: the bundled example log and monitored log."""

import json
import threading
import unittest
from unittest import mock

import quenfold_log as qf
from quenfold_log import _extension, _library

from .support import EXAMPLES, LIBRARY_PATH, TESTDATA, OperationTest, hex_file, hex_items

ORIGIN = "log.example.org/quenfold/v1"
MONITORED = (EXAMPLES / "monitor" / "origin.txt").read_text().strip() if (EXAMPLES / "monitor").is_dir() else ""


def session_checkpoints():
    lines = (EXAMPLES / "monitor" / "session.jsonl").read_text().splitlines()
    return [json.loads(line) for line in lines if json.loads(line)["type"] == "checkpoint"]


def without_cosignatures(note: str) -> str:
    """The note with its witnesses' lines removed (only the log's line left)."""
    body, _, signatures = note.partition("\n\n")
    kept = [line for line in signatures.splitlines() if line.startswith(f"\u2014 {MONITORED} ")]
    return body + "\n\n" + "\n".join(kept) + "\n"


class ExtensionTest(OperationTest):
    EXAMPLE_DIR = "monitor"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if cls.lib.extension is None:
            raise unittest.SkipTest(f"set {qf.EXT_ENV_VARIABLE} to the built libquenfold_log_ext.so")
        cls.policy_text = (EXAMPLES / "monitor" / "policy.txt").read_text()
        cls.log_key = (EXAMPLES / "monitor" / "log.vkey").read_text().strip()
        cls.checkpoints = session_checkpoints()

    def assertKind(self, kind, fields, fn, *args):
        with self.assertRaises(qf.VerificationError) as ctx:
            fn(*args)
        self.assertIs(ctx.exception.kind, kind, ctx.exception.message)
        if fields is not None:
            self.assertEqual(ctx.exception.fields, fields)
        return ctx.exception

    def test_verifier_list_opens_notes(self):
        keys = qf.VerifierList.parse((EXAMPLES / "log" / "keys.txt").read_text().split())
        self.assertEqual(keys.size(), 2)
        self.assertEqual([(k.name, k.key_type) for k in keys.keys()],
                         [("log.example.org", qf.KeyType.Ed25519), ("log.example.org/pq", qf.KeyType.Composite)])
        opened = keys.open((EXAMPLES / "log" / "checkpoint-7.note").read_text())
        self.assertTrue(opened.body.startswith(ORIGIN + "\n7\n"))
        self.assertEqual({s.name for s in opened.signers}, {"log.example.org", "log.example.org/pq"})
        self.assertTrue(all(s.timestamp_seconds is None and s.covers_origin for s in opened.signers))

    def test_malformed_keys_report_position_and_name(self):
        cases = [
            (["no-plus"], 1, "no-plus"),
            ([self.log_key, "k+0102030g+AQ=="], 2, "k"),
        ]
        for keys, position, name in cases:
            with self.subTest(keys=keys):
                e = self.assertKind(qf.ErrorKind.MalformedVerifierKey, None, qf.VerifierList.parse, keys)
                self.assertEqual((e.fields["position"], e.fields["name"]), (position, name))
                self.assertTrue(e.message.startswith(f'verifier key {position} "{name}": '), e.message)

    def test_witness_policy_reports_cosigners_with_timestamps(self):
        policy = qf.WitnessPolicy.parse(self.policy_text)
        self.assertEqual([k.name for k in policy.logs().keys()], [MONITORED])
        self.assertEqual(policy.witnesses().size(), 2)
        note = self.checkpoints[0]["note"]
        opened = policy.open(note)
        self.assertEqual([s.name for s in opened.log_signers], [MONITORED])
        self.assertEqual([s.name for s in opened.cosigners],
                         ["witness.example.net/w1", "witness.example.org/w2"])
        for s in opened.cosigners:
            self.assertIs(s.key_type, qf.KeyType.CosignatureV1)
            self.assertGreater(s.timestamp_seconds, 0)
        self.assertKind(qf.ErrorKind.WitnessQuorumNotMet, None, policy.open, without_cosignatures(note))

    def test_malformed_policy_names_its_line(self):
        e = self.assertKind(qf.ErrorKind.MalformedWitnessPolicy, None, qf.WitnessPolicy.parse,
                            "log " + self.log_key + "\nquorum nobody\n")
        self.assertEqual(e.fields["line"], 2)

    def test_checkpoint_verifier_under_keys_policy_or_both(self):
        policy = qf.WitnessPolicy.parse(self.policy_text)
        keys = qf.VerifierList.parse([self.log_key])
        note = self.checkpoints[0]["note"]
        bare = without_cosignatures(note)
        cases = [
            ("keys", qf.CheckpointVerifier(MONITORED, keys), True),
            ("key texts", qf.CheckpointVerifier(MONITORED, [self.log_key]), True),
            ("policy", qf.CheckpointVerifier(MONITORED, policy=policy), False),
            ("both", qf.CheckpointVerifier(MONITORED, keys, policy), False),
        ]
        for what, verifier, bare_passes in cases:
            with self.subTest(what):
                checkpoint = verifier.verify(note)
                self.assertEqual((checkpoint.origin, checkpoint.head.origin), (MONITORED, MONITORED))
                self.assertEqual([s.name for s in checkpoint.log_signers], [MONITORED])
                # (with both, the policy's log key is listed beside the same key given apart)
                self.assertEqual({s.name for s in verifier.log_keys()}, {MONITORED})
                if bare_passes:
                    self.assertEqual(verifier.verify(bare).size, checkpoint.size)
                else:
                    self.assertKind(qf.ErrorKind.WitnessQuorumNotMet, None, verifier.verify, bare)
                    self.assertEqual(verifier.verify_log_signature(bare).size, checkpoint.size)
        self.assertKind(qf.ErrorKind.OriginMismatch, {"got": MONITORED, "want": "elsewhere"},
                        qf.CheckpointVerifier("elsewhere", keys).verify, note)

    def test_chain_and_inclusions_under_one_head(self):
        keys = qf.VerifierKeys((EXAMPLES / "log" / "keys.txt").read_text().split())
        log = qf.CheckpointVerifier(ORIGIN, keys)
        note4 = (EXAMPLES / "log" / "checkpoint-4.note").read_text()
        note7 = (EXAMPLES / "log" / "checkpoint-7.note").read_text()
        proof = hex_items("log/consistency-4-to-7.proof")
        self.assertEqual([c.size for c in log.verify_chain([note4, note7], [proof])], [4, 7])
        broken = [bytes([proof[0][0] ^ 1]) + proof[0][1:]] + proof[1:]
        e = self.assertKind(qf.ErrorKind.BrokenChain, None, log.verify_chain, [note4, note7], [broken])
        self.assertEqual(e.fields["link"], 1)
        checkpoint = log.verify(note7)
        leaf = hex_file("key_history/entry2.leaf-hash")
        path = hex_items("log/inclusion-entry2-in-7.proof")
        results = qf.verify_inclusions(checkpoint, [(5, leaf, path), qf.InclusionProof(4, leaf, path),
                                                    (9, leaf, path)])
        self.assertIsNone(results[0])
        self.assertEqual([r.kind for r in results[1:]],
                         [qf.ErrorKind.RootMismatch, qf.ErrorKind.LeafIndexOutOfRange])
        self.assertEqual(results[2].fields, {"index": 9, "size": 7})

    def test_real_rfc6962_and_ml_dsa_checkpoints(self):
        tiles = TESTDATA / "real-logs" / "tiles"
        if not tiles.is_dir():
            self.skipTest("the shared test data is not beside this checkout")
        source = json.loads((tiles / "sunlight-skylight" / "SOURCE.json").read_text())["artefacts"]["tree/"]
        note = (tiles / "sunlight-skylight" / "tree" / "checkpoint").read_text()
        origin = note.split("\n", 1)[0]
        vkey = qf.rfc6962_verifier_key(origin, source["log_public_key_spki_b64"])
        checkpoint = qf.CheckpointVerifier(origin, [vkey]).verify(note)
        signer = checkpoint.log_signers[0]
        self.assertIs(signer.key_type, qf.KeyType.Rfc6962)
        self.assertEqual(signer.timestamp_millis, source["sth_timestamp_ms"])
        self.assertIsNone(signer.timestamp_seconds)
        self.assertFalse(signer.covers_origin)
        e = self.assertKind(qf.ErrorKind.MalformedVerifierKey, None, qf.rfc6962_verifier_key, origin, "AAAA")
        self.assertEqual((e.fields["position"], e.fields["name"]), (1, origin))

        note = (tiles / "torchwood-mldsa" / "checkpoint").read_text()
        log = qf.CheckpointVerifier(note.split("\n", 1)[0], [(tiles / "torchwood-mldsa" / "log.vkey").read_text().strip()])
        signer = log.verify(note).log_signers[0]
        self.assertIs(signer.key_type, qf.KeyType.SubtreeV1)
        self.assertIsNone(signer.timestamp_seconds)  # signed with time 0: claims none
        # One log key cannot meet a demand for two.
        self.assertKind(qf.ErrorKind.LogSignaturesNotMet, {"got": 1, "want": 2},
                        log.require_log_signatures(2).verify, note)

    def test_objects_come_from_their_constructors(self):
        keys = qf.VerifierList.parse([self.log_key])
        policy = qf.WitnessPolicy.parse(self.policy_text)
        with self.assertRaises(TypeError):
            qf.VerifierList()
        with self.assertRaises(TypeError):   # a policy where keys are expected
            qf.CheckpointVerifier.with_keys(MONITORED, policy)
        keys.close()
        with self.assertRaises(ValueError):
            keys.size()
        keys.close()   # closing twice releases once

    def test_close_waits_for_calls_in_flight(self):
        # A close() from another thread while a call is between reading the
        # handle and the library taking its reference must not free it.
        keys = qf.VerifierList.parse([self.log_key])
        library = keys._library
        entered, resume = threading.Event(), threading.Event()
        real_invoke = library._invoke

        def held_invoke(fn, lowered):
            entered.set()
            resume.wait(10)
            return real_invoke(fn, lowered)

        sizes = []
        with mock.patch.object(library, "_invoke", held_invoke), \
                mock.patch.object(library, "release", wraps=library.release) as release:
            caller = threading.Thread(target=lambda: sizes.append(keys.size()))
            caller.start()
            self.assertTrue(entered.wait(10))
            keys.close()
            release.assert_not_called()
            with self.assertRaises(ValueError):   # later calls are refused at once
                keys.size()
            resume.set()
            caller.join(10)
            release.assert_called_once()
        self.assertEqual(sizes, [1])


class ExtensionLoadTest(unittest.TestCase):
    """The extension is checked at load time like the library: a wrong
    checksum, metadata or contract version refuses the whole load."""

    def setUp(self):
        if not LIBRARY_PATH:
            self.skipTest(f"set {qf.ENV_VARIABLE} to the built libquenfold_log.so")
        self.ext_path = _library.find_extension_library(LIBRARY_PATH)
        if not self.ext_path:
            self.skipTest(f"set {qf.EXT_ENV_VARIABLE} to the built libquenfold_log_ext.so")

    def test_loads_beside_the_library(self):
        lib = qf.Library(LIBRARY_PATH)
        self.assertIsNotNone(lib.extension)
        self.assertEqual(lib.extension.path, self.ext_path)

    def test_refuses_a_mismatched_extension(self):
        export = next(iter(_extension.CALLS))
        args, result, checksum_export, checksum = _extension.CALLS[export]
        cases = [
            ("a checksum", {"CALLS": dict(_extension.CALLS, **{export: (args, result, checksum_export,
                                                                      checksum ^ 1)})},
             f"checksum of {export} is {checksum}"),
            ("the contract version", {"CONTRACT_VERSION": _extension.CONTRACT_VERSION + 1},
             f"has contract version {_extension.CONTRACT_VERSION}"),
            ("the metadata", {"METADATA": dict(_extension.METADATA, **{export: "UNIFFI_META_MISSING"})},
             "does not export the metadata UNIFFI_META_MISSING"),
        ]
        for what, patch, message in cases:
            with self.subTest(what), mock.patch.multiple(_extension, **patch):
                with self.assertRaises(qf.LibraryMismatch) as ctx:
                    qf.Library(LIBRARY_PATH, extension_path=self.ext_path)
                self.assertIn(message, str(ctx.exception))
        # The core library in the extension's place exports none of its names.
        with self.assertRaises(qf.LibraryMismatch) as ctx:
            qf.Library(LIBRARY_PATH, extension_path=LIBRARY_PATH)
        self.assertIn("does not export ffi_quenfold_log_ext_uniffi_contract_version", str(ctx.exception))


if __name__ == "__main__":
    unittest.main()
