"""C2SP tlog-proof and the witness's add-checkpoint checks through the
extension library: the parsed proof, a verified proof with its signers and
their timestamps, every rejection with its kind, fields and exact message,
and every status of an add-checkpoint request. Fixtures: the bundled
examples (tools/make-examples writes them): a tlog proof under a 2-of-2
witness policy, and the example log's checkpoints and consistency proof."""

import base64
import hashlib
import unittest

import quenfold_log as qf

from .support import EXAMPLES, OperationTest, hex_items

TP = EXAMPLES / "tlog_proof"
LOG = EXAMPLES / "log"
LOG_ORIGIN = "log.example.org/quenfold/v1"
ROOT_MISMATCH = "root mismatch: recomputed root does not match the expected root"
KIND = qf.ErrorKind


def sections(text: str):
    """A tlog proof's lines before the checkpoint, and the checkpoint."""
    head, _, checkpoint = text.partition("\n\n")
    return head.split("\n"), checkpoint


def joined(lines, checkpoint: str) -> str:
    return "\n".join(lines) + "\n\n" + checkpoint


def note_root(note: str) -> bytes:
    return base64.b64decode(note.split("\n")[2])


def cosignature_time(line: str) -> int:
    """The timestamp of a cosignature/v1 line: the 8 bytes after the key id."""
    return int.from_bytes(base64.b64decode(line.split(" ")[2])[4:12], "big")


def request(old: int, proof, note: str) -> str:
    return "".join([f"old {old}\n"] + [base64.b64encode(h).decode() + "\n" for h in proof] + ["\n", note])


class TlogProofTest(OperationTest):
    EXAMPLE_DIR = "tlog_proof"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if cls.lib.extension is None:
            raise unittest.SkipTest(f"set {qf.EXT_ENV_VARIABLE} to the built libquenfold_log_ext.so")
        cls.text = (TP / "entry.tlog-proof").read_text()
        cls.entry = (TP / "entry.txt").read_bytes()
        cls.origin = (TP / "origin.txt").read_text().strip()
        cls.policy = qf.WitnessPolicy.parse((TP / "policy.txt").read_text())
        cls.verifier = qf.CheckpointVerifier(cls.origin, policy=cls.policy)

    def test_parse_reads_every_line_and_keeps_the_checkpoint_verbatim(self):
        lines, checkpoint = sections(self.text)
        hashes = [base64.b64decode(line) for line in lines[3:]]
        parsed = qf.parse_tlog_proof(self.text)
        self.assertEqual(parsed, qf.TlogProof(extra=base64.b64decode(lines[1].split(" ")[1]),
                                              index=int(lines[2].split(" ")[1]), proof=hashes,
                                              checkpoint=checkpoint))
        self.assertEqual((parsed.extra, parsed.index, len(parsed.proof)), (b"release v1.4.0", 13, 5))
        without_extra = qf.parse_tlog_proof(joined(lines[:1] + lines[2:], checkpoint))
        self.assertIsNone(without_extra.extra)
        self.assertEqual(without_extra.proof, hashes)

    def test_an_accepted_proof_names_its_signers_and_their_times(self):
        leaf_hash = bytes.fromhex((TP / "entry.leaf-hash").read_text().strip())
        self.assertEqual(leaf_hash, hashlib.sha256(b"\x00" + self.entry).digest())
        _, checkpoint = sections(self.text)
        cosignature_lines = [line for line in checkpoint.splitlines() if line.startswith("\u2014 witness.")]
        by_entry = qf.verify_tlog_proof_entry(self.text, self.verifier, self.entry)
        by_hash = qf.verify_tlog_proof(self.text, self.verifier, leaf_hash)
        self.assertEqual(by_entry, by_hash)
        self.assertIsInstance(by_entry, qf.VerifiedTlogProof)
        self.assertEqual((by_entry.index, by_entry.extra), (13, b"release v1.4.0"))
        head = by_entry.checkpoint
        self.assertEqual((head.origin, head.size, head.root), (self.origin, 23, note_root(checkpoint)))
        self.assertEqual([(s.name, s.key_type, s.timestamp_seconds, s.timestamp_millis)
                          for s in head.log_signers], [(self.origin, qf.KeyType.Ed25519, None, None)])
        self.assertEqual([(s.name, s.key_type, s.timestamp_seconds, s.timestamp_millis) for s in head.cosigners],
                         [("witness.example.net/w1", qf.KeyType.CosignatureV1, cosignature_time(cosignature_lines[0]),
                           None),
                          ("witness.example.org/w2", qf.KeyType.CosignatureV1, cosignature_time(cosignature_lines[1]),
                           None)])

    def test_each_rejection_in_the_order_of_the_checks(self):
        lines, checkpoint = sections(self.text)
        body, _, signatures = checkpoint.partition("\n\n")
        one_witness = body + "\n\n" + "\n".join(signatures.splitlines()[:2]) + "\n"
        log_key = (TP / "log.vkey").read_text().strip()
        elsewhere = qf.CheckpointVerifier("log.example.org/elsewhere", [log_key])
        strangers = qf.CheckpointVerifier(self.origin, (LOG / "ed25519.vkey").read_text().split())
        other_entry = self.entry.replace(b"artefact 13", b"artefact 12")
        tampered = (TP / "entry-tampered.tlog-proof").read_text()
        header = "c2sp.org/tlog-proof@v1\n"
        cases = [
            # what, text, verifier, entry (or a leaf hash when bytes of 31), kind, fields, message
            ("another version", joined(["c2sp.org/tlog-proof@v2"] + lines[1:], checkpoint), self.verifier,
             self.entry, KIND.MalformedTlogProof, None,
             'malformed tlog proof: header line is not c2sp.org/tlog-proof@v1: "c2sp.org/tlog-proof@v2"'),
            ("no index line", header, self.verifier, self.entry, KIND.MalformedTlogProof,
             {"detail": "missing index line"}, "malformed tlog proof: missing index line"),
            ("index with a leading zero", joined(lines[:2] + ["index 013"] + lines[3:], checkpoint), self.verifier,
             self.entry, KIND.MalformedTlogProof, None, 'malformed tlog proof: index has a leading zero: "013"'),
            ("short hash", joined(lines[:3] + ["AAAA"] + lines[4:], checkpoint), self.verifier, self.entry,
             KIND.MalformedTlogProof, None, "malformed tlog proof: proof hash 1 is 3 bytes, want 32"),
            ("short leaf hash", self.text, self.verifier, bytes(31), KIND.InvalidHashLength,
             {"got": 31, "want": 32}, "invalid hash length: got 31 bytes, want 32"),
            ("text before leaf hash", header, self.verifier, bytes(31), KIND.MalformedTlogProof, None,
             "malformed tlog proof: missing index line"),
            ("untrusted log", self.text, strangers, self.entry, KIND.NoTrustedSignature, {},
             "note has no verifiable signature from a trusted key"),
            ("another origin", self.text, elsewhere, self.entry, KIND.OriginMismatch,
             {"got": self.origin, "want": "log.example.org/elsewhere"},
             'checkpoint origin mismatch: got "log.example.org/proofs/v1", want "log.example.org/elsewhere"'),
            ("quorum before inclusion", joined(lines, one_witness), self.verifier, other_entry,
             KIND.WitnessQuorumNotMet, {"detail": '1 valid cosignature ("witness.example.net/w1")'},
             'witness quorum not met: 1 valid cosignature ("witness.example.net/w1")'),
            ("another entry", self.text, self.verifier, other_entry, KIND.RootMismatch, {}, ROOT_MISMATCH),
            ("altered audit path", tampered, self.verifier, self.entry, KIND.RootMismatch, {}, ROOT_MISMATCH),
            ("index beyond the tree", joined(lines[:2] + ["index 23"] + lines[3:], checkpoint), self.verifier,
             self.entry, KIND.LeafIndexOutOfRange, {"index": 23, "size": 23}, "leaf index 23 is beyond tree size 23"),
            ("short audit path", joined(lines[:-1], checkpoint), self.verifier, self.entry, KIND.WrongProofSize,
             {"got": 4, "want": 5}, "wrong proof size: got 4, want 5"),
        ]
        for what, text, verifier, entry, kind, fields, message in cases:
            with self.subTest(what):
                with self.assertRaises(qf.VerificationError) as ctx:
                    if len(entry) == 31:
                        qf.verify_tlog_proof(text, verifier, entry)
                    else:
                        qf.verify_tlog_proof_entry(text, verifier, entry)
                e = ctx.exception
                self.assertEqual((e.kind, e.message), (kind, message))
                if fields is not None:
                    self.assertEqual(e.fields, fields)
        # Parsing alone reports what verifying reports for the text.
        with self.assertRaises(qf.VerificationError) as ctx:
            qf.parse_tlog_proof(header)
        self.assertEqual(ctx.exception.message, "malformed tlog proof: missing index line")


class AddCheckpointTest(OperationTest):
    EXAMPLE_DIR = "log"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if cls.lib.extension is None:
            raise unittest.SkipTest(f"set {qf.EXT_ENV_VARIABLE} to the built libquenfold_log_ext.so")
        cls.log = qf.CheckpointVerifier(LOG_ORIGIN, (LOG / "keys.txt").read_text().split())
        cls.note4 = (LOG / "checkpoint-4.note").read_text()
        cls.note7 = (LOG / "checkpoint-7.note").read_text()
        cls.proof = hex_items("log/consistency-4-to-7.proof")

    def test_each_status_with_its_reason_and_states(self):
        at4 = qf.WitnessState(4, note_root(self.note4))
        at7 = qf.WitnessState(7, note_root(self.note7))
        bent = [bytes([self.proof[0][0] ^ 1]) + self.proof[0][1:]] + self.proof[1:]
        tampered = (LOG / "checkpoint-7-tampered.note").read_text()
        elsewhere = qf.CheckpointVerifier("log.example.org/elsewhere", (LOG / "keys.txt").read_text().split())
        strangers = qf.CheckpointVerifier(LOG_ORIGIN, [(TP / "log.vkey").read_text().strip()])
        S = qf.AddCheckpointStatus
        cases = [
            # what, stored, verifier, request, status, HTTP status, reason, next state
            ("first checkpoint", None, self.log, request(0, [], self.note4), S.Ok, 200,
             f'cosign "{LOG_ORIGIN}" at size 4', at4),
            ("append", at4, self.log, request(4, self.proof, self.note7), S.Ok, 200,
             f'cosign "{LOG_ORIGIN}" at size 7', at7),
            ("the same checkpoint again", at7, self.log, request(7, [], self.note7), S.Ok, 200,
             f'cosign "{LOG_ORIGIN}" at size 7', at7),
            ("not a request", None, self.log, "new 0\n\n" + self.note4, S.BadRequest, 400,
             'malformed request: want "old <decimal>", got "new 0"', None),
            ("old size above the checkpoint's", at4, self.log, request(8, [], self.note7), S.BadRequest, 400,
             "old size 8 is above the checkpoint size 7", None),
            ("a trusted key's line fails", at4, self.log, request(4, self.proof, tampered), S.Forbidden, 403,
             'invalid signature for known key "log.example.org" (key id 62e4bc95)', None),
            ("no trusted signature", at4, strangers, request(4, self.proof, self.note7), S.Forbidden, 403,
             "note has no verifiable signature from a trusted key", None),
            ("another log's origin", None, elsewhere, request(0, [], self.note4), S.NotFound, 404,
             f'unknown origin "{LOG_ORIGIN}"', None),
            ("old size behind the stored one", at4, self.log, request(3, [], self.note7), S.Conflict, 409,
             "old size 3 is not the stored size 4", None),
            ("nothing stored", None, self.log, request(4, self.proof, self.note7), S.Conflict, 409,
             "old size 4 is not the stored size 0", None),
            ("proof from size zero", None, self.log, request(0, self.proof, self.note7), S.UnprocessableEntity,
             422, "a consistency proof from size 0 must be empty", None),
            ("proof does not verify", at4, self.log, request(4, bent, self.note7), S.UnprocessableEntity, 422,
             ROOT_MISMATCH, None),
            ("equal sizes, another root", qf.WitnessState(7, at4.root), self.log, request(7, [], self.note7),
             S.UnprocessableEntity, 422, ROOT_MISMATCH, None),
        ]
        for what, stored, verifier, body, status, http, reason, next_state in cases:
            with self.subTest(what):
                r = qf.check_add_checkpoint(stored, verifier, body)
                self.assertIsInstance(r, qf.AddCheckpointResult)
                self.assertEqual((r.status, r.http_status, r.reason), (status, http, reason))
                self.assertEqual((r.previous, r.next), (stored, next_state))
                if status is S.Ok:
                    self.assertEqual(r.checkpoint.size, next_state.size)
                    self.assertEqual([s.name for s in r.checkpoint.log_signers],
                                     ["log.example.org", "log.example.org/pq"])
                    note = body.partition("\n\n")[2]
                    self.assertEqual(r.checkpoint_body, note.partition("\n\n")[0] + "\n")
                else:
                    self.assertEqual((r.checkpoint, r.checkpoint_body), (None, ""))
                self.assertEqual(r.conflict_body, f"{r.stored_size}\n" if http == 409 else "")
        self.assertEqual(qf.check_add_checkpoint(at4, self.log, request(3, [], self.note7)).conflict_body, "4\n")

    def test_the_message_a_witness_cosigns(self):
        ok = qf.check_add_checkpoint(None, self.log, request(0, [], self.note4))
        body = self.note4.partition("\n\n")[0] + "\n"
        conflict = qf.check_add_checkpoint(None, self.log, request(4, self.proof, self.note7))
        for result, timestamp, message in [
            (ok, 1700000123, "cosignature/v1\ntime 1700000123\n" + body),
            (ok, (1 << 63) - 1, f"cosignature/v1\ntime {(1 << 63) - 1}\n" + body),
            (ok, 0, ""),
            (ok, 1 << 63, ""),
            (conflict, 1700000123, ""),
        ]:
            with self.subTest(status=result.status, timestamp=timestamp):
                self.assertEqual(result.cosignature_v1_message(timestamp), message)

    def test_a_stored_root_that_is_not_a_hash_is_rejected(self):
        for root in (b"", bytes(31), bytes(33)):
            with self.subTest(length=len(root)):
                with self.assertRaises(qf.VerificationError) as ctx:
                    qf.check_add_checkpoint(qf.WitnessState(4, root), self.log, request(4, [], self.note4))
                self.assertIs(ctx.exception.kind, KIND.InvalidHashLength)
                self.assertEqual(ctx.exception.fields, {"got": len(root), "want": 32})
