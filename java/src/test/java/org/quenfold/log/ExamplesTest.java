package org.quenfold.log;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.quenfold.log.Fixtures.fields;
import static org.quenfold.log.Fixtures.hex;
import static org.quenfold.log.Fixtures.hexItems;
import static org.quenfold.log.Fixtures.keys;
import static org.quenfold.log.Fixtures.text;

import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.util.Base64;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The bundled examples (examples/), verified through the binding, with typed results. */
class ExamplesTest {
    private static final byte[] ALICE = "alice@example.org".getBytes(StandardCharsets.UTF_8);
    private static final byte[] BOB = "bob@example.org".getBytes(StandardCharsets.UTF_8);

    @Test
    void merkleProofsAndCheckpoints() {
        QuenfoldLog.verifyInclusion(4, 7, hex("merkle/leaf4.hash"), hexItems("merkle/inclusion-4-of-7.proof"),
                hex("merkle/root7.hash"));
        QuenfoldLog.verifyConsistency(3, 7, hexItems("merkle/consistency-3-to-7.proof"), hex("merkle/root3.hash"),
                hex("merkle/root7.hash"));

        String note = text("log/checkpoint-7.note");
        String[] body = note.split("\n");
        CheckpointHead head = QuenfoldLog.checkpointVerify(note, keys());
        assertEquals(List.of(body[0], Long.parseLong(body[1]), List.of(body[3])),
                List.of(head.origin(), head.size(), head.extensions()));
        assertArrayEquals(Base64.getDecoder().decode(body[2]), head.root());
        assertEquals(2, QuenfoldLog.verifySignedNote(note, keys()));
        CheckpointHead parsed = QuenfoldLog.checkpointParse(note.substring(0, note.indexOf("\n\n") + 1));
        assertEquals(List.of(head.origin(), head.size(), HexFormat.of().formatHex(head.root()), head.extensions()),
                List.of(parsed.origin(), parsed.size(), HexFormat.of().formatHex(parsed.root()), parsed.extensions()));

        QuenfoldLog.checkpointVerifyInclusion(note, keys(), 5, hex("key_history/entry2.leaf-hash"),
                hexItems("log/inclusion-entry2-in-7.proof"));
        QuenfoldLog.checkpointVerifyConsistency(text("log/checkpoint-4.note"), note, keys(),
                hexItems("log/consistency-4-to-7.proof"));
    }

    /** A key-history entry of examples/key_history. */
    private record Entry(long seq, long tsMs, byte[] x25519, byte[] pq, byte[] signing, byte[] prev) {
        static Entry of(int i) {
            Map<String, String> f = fields("key_history/entry" + i + ".txt");
            HexFormat h = HexFormat.of();
            return new Entry(Long.parseLong(f.get("seq")), Long.parseLong(f.get("ts-ms")), h.parseHex(f.get("enc-x25519")),
                    h.parseHex(f.get("enc-pq")), h.parseHex(f.get("signing-pub")),
                    f.containsKey("prev-entry-hash") ? h.parseHex(f.get("prev-entry-hash")) : null);
        }
    }

    @Test
    void keyHistoryChainAndCommitment() throws Exception {
        byte[] previous = null;
        for (int i = 0; i < 3; i++) {
            Entry e = Entry.of(i);
            byte[] canonical = QuenfoldLog.keyHistoryV1CanonicalBytes(e.seq, e.tsMs, e.x25519, e.pq, e.signing, e.prev);
            byte[] leaf = QuenfoldLog.keyHistoryV1Rfc6962LeafHash(e.seq, e.tsMs, e.x25519, e.pq, e.signing, e.prev);
            byte[] entryHash = QuenfoldLog.keyHistoryV1EntryHash(e.seq, e.tsMs, e.x25519, e.pq, e.signing, e.prev);
            assertArrayEquals(hex("key_history/entry" + i + ".leaf-hash"), leaf);
            MessageDigest sha256 = MessageDigest.getInstance("SHA-256");
            sha256.update((byte) 0);
            assertArrayEquals(sha256.digest(canonical), leaf);
            assertArrayEquals(entryHash, QuenfoldLog.keyHistoryEntryHashWithContext("brackle/key-history/v1",
                    e.seq, e.tsMs, e.x25519, e.pq, e.signing, e.prev));
            // Each entry links to its predecessor's entry hash.
            assertArrayEquals(previous, e.prev);
            previous = entryHash;
        }
        QuenfoldLog.verifyCommitment("example.org/profile/v1", hex("key_history/commitment.hex"),
                text("key_history/value.txt").getBytes(StandardCharsets.UTF_8), hex("key_history/opening.hex"));
    }

    @Test
    void coniksPresenceAndAbsence() {
        byte[] vrf = hex("coniks/vrf-public.hex");
        byte[] root = hex("coniks/root.hex");
        byte[] value = QuenfoldLog.coniksVerifyLookup("example.org", vrf, root, ALICE, hex("coniks/alice.lookup.proof"));
        assertTrue(value.length > 0);
        QuenfoldLog.coniksVerifyAbsence("example.org", vrf, root, "mallory@example.org".getBytes(StandardCharsets.UTF_8),
                hex("coniks/mallory.absence.proof"));
    }

    @ParameterizedTest
    @CsvSource({"p256, 1", "ed25519, 2", "experimental, 61440"})
    void keytransEverySuite(String suite, int id) {
        String d = "keytrans/" + suite + "/";
        String context = text(d + "context.txt").trim();
        byte[] vrf = hex(d + "vrf-public.hex");
        byte[] root = hex(d + "root.hex");
        SearchResult found = QuenfoldLog.keytransVerifySearchSuite(id, context, vrf, root, ALICE, hex(d + "search-alice.proof"));
        assertTrue(found.present());
        assertEquals("alice key 5", new String(found.value().orElseThrow(), StandardCharsets.UTF_8));
        SearchResult absent = QuenfoldLog.keytransVerifySearchSuite(id, context, vrf, root, BOB, hex(d + "search-bob.proof"));
        assertFalse(absent.present());
        assertEquals(Optional.empty(), absent.value());
        SearchResult fixed = QuenfoldLog.keytransVerifyFixedVersionSuite(id, context, vrf, root, ALICE,
                hex(d + "fixed-version-alice-2.proof"));
        assertEquals("alice key 2", new String(fixed.value().orElseThrow(), StandardCharsets.UTF_8));
        QuenfoldLog.keytransVerifyMonitorSuite(id, context, vrf, root, ALICE, hex(d + "monitor-alice-4.proof"));
        if (id == 0xF000) {   // the operations without a suite use the experimental one
            assertTrue(QuenfoldLog.keytransVerifySearch(context, vrf, root, ALICE, hex(d + "search-alice.proof")).present());
            QuenfoldLog.keytransVerifyMonitor(context, vrf, root, ALICE, hex(d + "monitor-alice-4.proof"));
        }
    }

    @Test
    void signedPolicyPostureAndMatchingObservations() {
        byte[] envelope = hex("policy/example.org.policy");
        PolicyPosture p = QuenfoldLog.signedPolicyVerify(envelope);
        assertEquals(List.of("example.org", 1L, SecurityLevel.Cat3, CheckpointSuite.Hybrid, CommitmentHash.Sha3_256,
                VrfMode.Classical, DirectoryMode.Coniks, 64, 32),
                List.of(p.namespace(), p.policySchemaVersion(), p.securityLevel(), p.checkpointSuite(),
                        p.commitmentHash(), p.vrfMode(), p.directoryMode(), p.policyHash().length,
                        p.rfc6962LeafHash().length));
        QuenfoldLog.policyEnforceCheckpointSigningKey(envelope, text("log/composite-key.token").trim());
        QuenfoldLog.policyEnforceCheckpointSignature(envelope, text("log/composite-signature.token").trim());
        QuenfoldLog.policyEnforceVrfSuiteId(envelope, 0x03);
        QuenfoldLog.policyEnforceCommitmentHash(envelope, CommitmentHash.Sha3_256);
        QuenfoldLog.policyEnforceDirectoryBackend(envelope, 0x0001);
    }
}
