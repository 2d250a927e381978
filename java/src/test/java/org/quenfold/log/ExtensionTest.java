package org.quenfold.log;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.quenfold.log.Fixtures.ORIGIN;
import static org.quenfold.log.Fixtures.flip;
import static org.quenfold.log.Fixtures.hex;
import static org.quenfold.log.Fixtures.hexItems;
import static org.quenfold.log.Fixtures.keys;
import static org.quenfold.log.Fixtures.text;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/**
 * The extension library's objects: verifier lists, witness policies and
 * checkpoint verifiers as AutoCloseable handles, batches under one head, and
 * rejections whose kind and fields come from the library.
 */
class ExtensionTest {
    static final String MONITORED = text("monitor/origin.txt").trim();

    /** The checkpoint notes of the bundled monitoring session, in order. */
    static List<String> sessionCheckpoints() {
        List<String> out = new ArrayList<>();
        for (String line : text("monitor/session.jsonl").split("\n")) {
            Map<String, Object> item = Fixtures.at(Json.parse(line));
            if ("checkpoint".equals(item.get("type"))) {
                out.add((String) item.get("note"));
            }
        }
        return out;
    }

    /** The note with only the log's own signature line left. */
    static String withoutCosignatures(String note) {
        int split = note.indexOf("\n\n");
        String kept = note.substring(split + 2).lines().filter(l -> l.startsWith("\u2014 " + MONITORED + " "))
                .collect(Collectors.joining("\n"));
        return note.substring(0, split + 2) + kept + "\n";
    }

    private static VerificationException rejected(ErrorKind kind, org.junit.jupiter.api.function.Executable call) {
        VerificationException e = assertThrows(VerificationException.class, call);
        assertEquals(kind, e.kind(), e.getMessage());
        return e;
    }

    @Test
    void verifierListOpensNotesAndNamesABadKey() {
        try (VerifierList list = VerifierList.parse(keys())) {
            assertEquals(2, list.size());
            assertEquals(List.of("log.example.org:Ed25519", "log.example.org/pq:Composite"),
                    list.keys().stream().map(k -> k.name() + ":" + k.keyType()).collect(Collectors.toList()));
            OpenedNote opened = list.open(text("log/checkpoint-7.note"));
            assertTrue(opened.body().startsWith(ORIGIN + "\n7\n"));
            assertEquals(2, opened.signers().size());
            assertTrue(opened.signers().stream().allMatch(s -> s.timestampSeconds().isEmpty() && s.coversOrigin()));
        }
        VerificationException e = rejected(ErrorKind.MalformedVerifierKey,
                () -> VerifierList.parse(List.of(keys().get(0), "k+0102030g+AQ==")));
        assertEquals(2L, e.fields().get("position"));
        assertEquals("k", e.fields().get("name"));
        assertTrue(e.getMessage().startsWith("verifier key 2 \"k\": "), e.getMessage());
    }

    @Test
    void witnessPolicyReportsCosignersWithTimestamps() {
        String note = sessionCheckpoints().get(0);
        try (WitnessPolicy policy = WitnessPolicy.parse(text("monitor/policy.txt"));
             VerifierList logs = policy.logs();
             VerifierList witnesses = policy.witnesses()) {
            assertEquals(List.of(MONITORED), logs.keys().stream().map(Signer::name).collect(Collectors.toList()));
            assertEquals(2, witnesses.size());
            WitnessedNote opened = policy.open(note);
            assertEquals(List.of("witness.example.net/w1", "witness.example.org/w2"),
                    opened.cosigners().stream().map(Signer::name).collect(Collectors.toList()));
            for (Signer s : opened.cosigners()) {
                assertEquals(KeyType.CosignatureV1, s.keyType());
                assertTrue(s.timestampSeconds().orElseThrow() > 0);
            }
            rejected(ErrorKind.WitnessQuorumNotMet, () -> policy.open(withoutCosignatures(note)));
        }
        VerificationException e = rejected(ErrorKind.MalformedWitnessPolicy,
                () -> WitnessPolicy.parse("log " + text("monitor/log.vkey").trim() + "\nquorum nobody\n"));
        assertEquals(2L, e.fields().get("line"));
    }

    @Test
    void checkpointVerifierUnderKeysPolicyOrBoth() {
        String note = sessionCheckpoints().get(0);
        String bare = withoutCosignatures(note);
        try (WitnessPolicy policy = WitnessPolicy.parse(text("monitor/policy.txt"));
             VerifierList keys = VerifierList.parse(List.of(text("monitor/log.vkey").trim()))) {
            Object[][] cases = {
                {"keys", CheckpointVerifier.withKeys(MONITORED, keys), true},
                {"policy", CheckpointVerifier.withPolicy(MONITORED, policy), false},
                {"both", CheckpointVerifier.withKeysAndPolicy(MONITORED, keys, policy), false},
            };
            for (Object[] c : cases) {
                try (CheckpointVerifier verifier = (CheckpointVerifier) c[1]) {
                    VerifiedCheckpoint checkpoint = verifier.verify(note);
                    assertEquals(MONITORED, checkpoint.origin(), (String) c[0]);
                    assertEquals(MONITORED, verifier.origin());
                    assertEquals(List.of(MONITORED),
                            checkpoint.logSigners().stream().map(Signer::name).collect(Collectors.toList()));
                    if ((boolean) c[2]) {
                        assertEquals(checkpoint.size(), verifier.verify(bare).size());
                    } else {
                        rejected(ErrorKind.WitnessQuorumNotMet, () -> verifier.verify(bare));
                        assertEquals(checkpoint.size(), verifier.verifyLogSignature(bare).size());
                    }
                }
            }
            try (CheckpointVerifier elsewhere = CheckpointVerifier.withKeys("elsewhere", keys)) {
                VerificationException e = rejected(ErrorKind.OriginMismatch, () -> elsewhere.verify(note));
                assertEquals(Map.of("got", MONITORED, "want", "elsewhere"), e.fields());
            }
        }
    }

    @Test
    void chainAndInclusionsUnderOneHead() {
        String note4 = text("log/checkpoint-4.note");
        String note7 = text("log/checkpoint-7.note");
        List<byte[]> proof = hexItems("log/consistency-4-to-7.proof");
        try (VerifierList keys = VerifierList.parse(keys());
             CheckpointVerifier log = CheckpointVerifier.withKeys(ORIGIN, keys)) {
            assertEquals(List.of(4L, 7L), log.verifyChain(List.of(note4, note7), List.of(proof)).stream()
                    .map(VerifiedCheckpoint::size).collect(Collectors.toList()));
            CheckpointPair pair = log.verifyConsistency(note4, note7, proof);
            assertEquals(List.of(4L, 7L), List.of(pair.older().size(), pair.newer().size()));
            List<byte[]> broken = new ArrayList<>(proof);
            broken.set(0, flip(proof.get(0), 0));
            VerificationException e = rejected(ErrorKind.BrokenChain,
                    () -> log.verifyChain(List.of(note4, note7), List.of(broken)));
            assertEquals(1L, e.fields().get("link"));

            VerifiedCheckpoint checkpoint = log.verify(note7);
            byte[] leaf = hex("key_history/entry2.leaf-hash");
            List<byte[]> path = hexItems("log/inclusion-entry2-in-7.proof");
            log.verifyInclusion(note7, 5, leaf, path);
            List<Optional<VerificationException>> results = QuenfoldLog.verifyInclusions(checkpoint.head(), List.of(
                    new InclusionProof(5, leaf, path), new InclusionProof(4, leaf, path), new InclusionProof(9, leaf, path)));
            assertFalse(results.get(0).isPresent());
            assertEquals(ErrorKind.RootMismatch, results.get(1).orElseThrow().kind());
            assertEquals(Map.of("index", 9L, "size", 7L), results.get(2).orElseThrow().fields());
            assertEquals("leaf index 9 is beyond tree size 7", results.get(2).orElseThrow().getMessage());
            try (CheckpointVerifier two = log.requireLogSignatures(3)) {
                VerificationException tooFew = rejected(ErrorKind.LogSignaturesNotMet, () -> two.verify(note7));
                assertEquals(Map.of("got", 2L, "want", 3L), tooFew.fields());
            }
        }
    }

    @Test
    void aClosedObjectRefusesCallsAndClosesOnce() {
        VerifierList keys = VerifierList.parse(keys());
        CheckpointVerifier log = CheckpointVerifier.withKeys(ORIGIN, keys);
        keys.close();
        // The verifier holds its own reference to the list's value.
        assertEquals(7, log.verify(text("log/checkpoint-7.note")).size());
        assertEquals("this VerifierList was closed",
                assertThrows(IllegalStateException.class, keys::size).getMessage());
        assertThrows(IllegalStateException.class, () -> CheckpointVerifier.withKeys(ORIGIN, keys));
        keys.close();
        log.close();
        log.close();
    }
}
