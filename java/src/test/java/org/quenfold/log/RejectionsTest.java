package org.quenfold.log;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.quenfold.log.Fixtures.flip;
import static org.quenfold.log.Fixtures.hex;
import static org.quenfold.log.Fixtures.hexItems;
import static org.quenfold.log.Fixtures.keys;
import static org.quenfold.log.Fixtures.text;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Rejections through the binding: each throws a VerificationException whose
 * message is the library's exact text and whose kind matches it; arguments
 * that cannot cross the boundary are refused before any call.
 */
class RejectionsTest {
    private static final String ROOT_MISMATCH = "root mismatch: recomputed root does not match the expected root";
    private static final byte[] ALICE = "alice@example.org".getBytes(StandardCharsets.UTF_8);

    static Stream<Arguments> rejections() {
        byte[] leaf = hex("merkle/leaf4.hash");
        List<byte[]> path = hexItems("merkle/inclusion-4-of-7.proof");
        byte[] root7 = hex("merkle/root7.hash");
        byte[] root3 = hex("merkle/root3.hash");
        List<byte[]> consistency = hexItems("merkle/consistency-3-to-7.proof");
        List<byte[]> flipped = new ArrayList<>(path);
        flipped.set(1, flip(path.get(1), 0));
        String note7 = text("log/checkpoint-7.note");
        byte[] vrf = hex("coniks/vrf-public.hex");
        byte[] coniksRoot = hex("coniks/root.hex");
        String kt = "keytrans/p256/";
        String context = text(kt + "context.txt").trim();
        byte[] envelope = hex("policy/example.org.policy");
        return Stream.of(
            row("audit path at another index", ROOT_MISMATCH, ErrorKind.RootMismatch,
                () -> QuenfoldLog.verifyInclusion(5, 7, leaf, path, root7)),
            row("one flipped bit in the audit path", ROOT_MISMATCH, ErrorKind.RootMismatch,
                () -> QuenfoldLog.verifyInclusion(4, 7, leaf, flipped, root7)),
            row("short audit path", "wrong proof size: got 2, want 3", ErrorKind.WrongProofSize,
                () -> QuenfoldLog.verifyInclusion(4, 7, leaf, path.subList(0, 2), root7)),
            row("index beyond the tree", "leaf index 7 is beyond tree size 7", ErrorKind.LeafIndexOutOfRange,
                () -> QuenfoldLog.verifyInclusion(7, 7, leaf, path, root7)),
            row("31-byte root", "invalid hash length: got 31 bytes, want 32", ErrorKind.InvalidHashLength,
                () -> QuenfoldLog.verifyInclusion(4, 7, leaf, path, Arrays.copyOf(root7, 31))),
            row("u64 index above 2^63 (unsigned)", "leaf index 18446744073709551615 is beyond tree size 7",
                ErrorKind.LeafIndexOutOfRange, () -> QuenfoldLog.verifyInclusion(-1, 7, leaf, path, root7)),
            row("swapped consistency roots", ROOT_MISMATCH, ErrorKind.RootMismatch,
                () -> QuenfoldLog.verifyConsistency(3, 7, consistency, root7, root3)),
            row("shrinking tree", "tree size regression: size2 (3) < size1 (7)", ErrorKind.TreeSizeRegression,
                () -> QuenfoldLog.verifyConsistency(7, 3, consistency, root7, root3)),
            row("consistency from the empty tree", "consistency proof from an empty tree is meaningless",
                ErrorKind.EmptyTreeConsistency, () -> QuenfoldLog.verifyConsistency(0, 7, consistency, root3, root7)),
            row("tampered checkpoint", "invalid signature for known key \"log.example.org\" (key id 62e4bc95)",
                ErrorKind.InvalidSignature,
                () -> QuenfoldLog.checkpointVerify(text("log/checkpoint-7-tampered.note"), keys())),
            row("checkpoint under other keys", "note has no verifiable signature from a trusted key",
                ErrorKind.NoTrustedSignature,
                () -> QuenfoldLog.checkpointVerify(note7, List.of(text("monitor/log.vkey").trim()))),
            row("body without a root", "malformed checkpoint: missing root-hash line", ErrorKind.MalformedCheckpoint,
                () -> QuenfoldLog.checkpointParse("origin\n7\n")),
            row("checkpoint inclusion at another index", ROOT_MISMATCH, ErrorKind.RootMismatch,
                () -> QuenfoldLog.checkpointVerifyInclusion(note7, keys(), 4, hex("key_history/entry2.leaf-hash"),
                    hexItems("log/inclusion-entry2-in-7.proof"))),
            row("checkpoints in the wrong order", "tree size regression: size2 (4) < size1 (7)",
                ErrorKind.TreeSizeRegression, () -> QuenfoldLog.checkpointVerifyConsistency(note7,
                    text("log/checkpoint-4.note"), keys(), hexItems("log/consistency-4-to-7.proof"))),
            row("commitment to another value", "commitment did not open to the claimed value",
                ErrorKind.CommitmentMismatch, () -> QuenfoldLog.verifyCommitment("example.org/profile/v1",
                    hex("key_history/commitment.hex"), "mallory".getBytes(StandardCharsets.UTF_8),
                    hex("key_history/opening.hex"))),
            row("tampered CONIKS proof",
                "coniks proof root mismatch: recomputed directory root does not match the expected root",
                ErrorKind.ConiksRootMismatch, () -> QuenfoldLog.coniksVerifyLookup("example.org", vrf, coniksRoot,
                    ALICE, hex("coniks/alice.tampered.proof"))),
            row("CONIKS proof of another identity", "vrf proof did not verify against the namespace public key",
                ErrorKind.VrfProofInvalid, () -> QuenfoldLog.coniksVerifyLookup("example.org", vrf, coniksRoot,
                    "bob@example.org".getBytes(StandardCharsets.UTF_8), hex("coniks/alice.lookup.proof"))),
            row("short VRF key", "vrf error: invalid length: expected 32 bytes, got 31", ErrorKind.Vrf,
                () -> QuenfoldLog.coniksVerifyLookup("example.org", Arrays.copyOf(vrf, 31), coniksRoot, ALICE,
                    hex("coniks/alice.lookup.proof"))),
            row("unknown KEYTRANS suite", "malformed keytrans structure: unknown keytrans suite id 0x0003",
                ErrorKind.MalformedKeytrans, () -> QuenfoldLog.keytransVerifySearchSuite(3, context,
                    hex(kt + "vrf-public.hex"), hex(kt + "root.hex"), ALICE, hex(kt + "search-alice.proof"))),
            row("tampered KEYTRANS search", "commitment did not open to the claimed value",
                ErrorKind.CommitmentMismatch, () -> QuenfoldLog.keytransVerifySearchSuite(1, context,
                    hex(kt + "vrf-public.hex"), hex(kt + "root.hex"), ALICE, hex(kt + "search-alice-tampered.proof"))),
            row("other commitment hash",
                "posture mismatch: declared commitment_hash Sha3_256, observed commitment_hash Sha3_512",
                ErrorKind.PostureMismatch, () -> QuenfoldLog.policyEnforceCommitmentHash(envelope, CommitmentHash.Sha3_512)),
            row("other VRF suite",
                "posture mismatch: declared vrf_mode Classical (suite_id 0x03), observed vrf suite_id 0x04",
                ErrorKind.PostureMismatch, () -> QuenfoldLog.policyEnforceVrfSuiteId(envelope, 0x04)));
    }

    private static Arguments row(String what, String message, ErrorKind kind, Executable call) {
        return Arguments.of(what, message, kind, call);
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rejections")
    void rejectedWithTheExactMessageAndItsKind(String what, String message, ErrorKind kind, Executable call) {
        VerificationException e = assertThrows(VerificationException.class, call);
        assertEquals(message, e.getMessage());
        assertEquals(kind, e.kind());
        assertEquals(kind, ErrorKind.of(message));
        assertTrue(e.fields().isEmpty(), "the core library reports no fields");
    }

    @Test
    void tamperedPolicyAndUnknownMessages() {
        VerificationException e = assertThrows(VerificationException.class,
                () -> QuenfoldLog.signedPolicyVerify(hex("policy/example.org-tampered.policy")));
        assertTrue(e.getMessage().startsWith("invalid signature for known key "), e.getMessage());
        assertEquals(ErrorKind.InvalidSignature, e.kind());
        assertEquals(null, ErrorKind.of("something new"));
    }

    @Test
    void argumentsThatCannotCrossAreRefusedBeforeTheCall() {
        byte[] envelope = hex("policy/example.org.policy");
        assertEquals("observed_suite_id must fit in an unsigned 8-bit integer", assertThrows(IllegalArgumentException.class,
                () -> QuenfoldLog.policyEnforceVrfSuiteId(envelope, 256)).getMessage());
        assertEquals("suite_id must fit in an unsigned 16-bit integer", assertThrows(IllegalArgumentException.class,
                () -> QuenfoldLog.keytransVerifyMonitorSuite(-1, "", envelope, envelope, envelope, envelope)).getMessage());
        assertEquals("root", assertThrows(NullPointerException.class,
                () -> QuenfoldLog.verifyInclusion(0, 1, envelope, List.of(), null)).getMessage());
        List<byte[]> withNull = new ArrayList<>();
        withNull.add(null);
        assertThrows(NullPointerException.class, () -> QuenfoldLog.verifyInclusion(0, 1, envelope, withNull, envelope));
        // After the refusals the thread's calls still work.
        QuenfoldLog.verifyInclusion(4, 7, hex("merkle/leaf4.hash"), hexItems("merkle/inclusion-4-of-7.proof"),
                hex("merkle/root7.hash"));
    }
}
