"""Signed namespace policies and posture checks through the binding, on
examples/policy (example.org: Hybrid/Cat3, CONIKS directory)."""

import unittest

import quenfold_log as qf

from .support import EXAMPLES, OperationTest, hex_file

D = "policy/"


def token(name: str) -> str:
    """A token file: the example log's checkpoint tokens, or the policy's own key."""
    return (EXAMPLES / name).read_text().strip()


class PolicyTest(OperationTest):
    OPERATIONS = ("signed_policy_verify", "policy_enforce_checkpoint_signing_key",
                  "policy_enforce_checkpoint_signature", "policy_enforce_vrf_suite_id",
                  "policy_enforce_commitment_hash", "policy_enforce_directory_backend")
    EXAMPLE_DIR = "policy"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not (EXAMPLES / "log" / "composite-key.token").is_file():
            raise unittest.SkipTest("no checkpoint tokens in examples/log")

    def setUp(self):
        self.envelope = hex_file(D + "example.org.policy")

    def test_the_signed_policy_declares_its_posture(self):
        p = qf.signed_policy_verify(self.envelope)
        self.assertIsInstance(p, qf.PolicyPosture)
        self.assertEqual((p.namespace, p.policy_schema_version), ("example.org", 1))
        self.assertEqual((p.security_level, p.checkpoint_suite, p.commitment_hash, p.vrf_mode,
                          p.directory_mode),
                         (qf.SecurityLevel.Cat3, qf.CheckpointSuite.Hybrid, qf.CommitmentHash.Sha3_256,
                          qf.VrfMode.Classical, qf.DirectoryMode.Coniks))
        self.assertIsInstance(p.keytrans_suite, qf.KeytransSuite)
        self.assertEqual((len(p.policy_hash), len(p.rfc6962_leaf_hash)), (64, 32))
        self.assertGreater(p.created_at, 0)

    def test_a_tampered_policy_is_rejected(self):
        with self.assertRaises(qf.VerificationError) as ctx:
            qf.signed_policy_verify(hex_file(D + "example.org-tampered.policy"))
        self.assertTrue(ctx.exception.message.startswith("invalid signature for known key "),
                        ctx.exception.message)
        with self.assertRaises(qf.VerificationError) as ctx:
            qf.signed_policy_verify(self.envelope[:-1])
        self.assertTrue(ctx.exception.message.startswith("malformed namespace policy: "),
                        ctx.exception.message)

    def test_observations_matching_the_posture(self):
        env = self.envelope
        self.assertIsNone(qf.policy_enforce_checkpoint_signing_key(env, token("log/composite-key.token")))
        self.assertIsNone(qf.policy_enforce_checkpoint_signature(env, token("log/composite-signature.token")))
        self.assertIsNone(qf.policy_enforce_vrf_suite_id(env, 0x03))
        self.assertIsNone(qf.policy_enforce_commitment_hash(env, qf.CommitmentHash.Sha3_256))
        self.assertIsNone(qf.policy_enforce_directory_backend(env, 0x0001))

    def test_observations_differing_from_the_posture(self):
        env = self.envelope
        cases = [
            (qf.policy_enforce_vrf_suite_id, 0x04,
             "posture mismatch: declared vrf_mode Classical (suite_id 0x03), observed vrf suite_id 0x04"),
            (qf.policy_enforce_commitment_hash, qf.CommitmentHash.Sha3_512,
             "posture mismatch: declared commitment_hash Sha3_256, observed commitment_hash Sha3_512"),
            (qf.policy_enforce_checkpoint_signing_key, token("policy/policy-key.token"),
             "posture mismatch: declared Hybrid/Cat3, observed HybridMatched/Cat3"),
        ]
        for fn, observed, message in cases:
            with self.subTest(fn=fn.__name__):
                self.assertRejected(message, fn, env, observed)
        for fn, observed in ((qf.policy_enforce_directory_backend, 0xF004),
                             (qf.policy_enforce_checkpoint_signature, "AAAA")):
            with self.subTest(fn=fn.__name__, observed=observed):
                with self.assertRaises(qf.VerificationError) as ctx:
                    fn(env, observed)
                self.assertTrue(ctx.exception.message.startswith("posture mismatch: declared "),
                                ctx.exception.message)


if __name__ == "__main__":
    unittest.main()
