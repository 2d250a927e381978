package org.quenfold.log;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assumptions.assumeTrue;
import static org.quenfold.log.Fixtures.at;

import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.util.Base64;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Checkpoints of real logs, cosigned by real witnesses, from the shared test
 * data (real-logs/): the Armored Witness firmware logs and the Pixel binary
 * transparency log with their cosignature/v1 lines, the monkeys test log's
 * consistency proof, a Sunlight RFC 6962 checkpoint and an ML-DSA-44
 * subtree/v1 checkpoint.
 */
class RealLogsTest {
    private static Map<String, Object> witnessing;

    @BeforeAll
    static void load() {
        assumeTrue(Files.isDirectory(Fixtures.TESTDATA.resolve("real-logs")), "the shared test data is not beside the checkout");
        witnessing = Fixtures.testdata("real-logs/transparency_dev_witnessing.json");
    }

    private static String cosignatureKey(String witness) {
        return at(witnessing, "cosigners", witness, "cosignature_v1_vkey");
    }

    /** The time a cosignature/v1 line claims: key id (4 bytes), then the big-endian u64 seconds. */
    private static long claimedTime(String note, String witness) {
        String line = note.lines().filter(l -> l.startsWith("\u2014 " + witness + " ")).findFirst().orElseThrow();
        byte[] signature = Base64.getDecoder().decode(line.substring(line.lastIndexOf(' ') + 1));
        return ByteBuffer.wrap(signature, 4, 8).getLong();
    }

    private static List<String> names(List<Signer> signers) {
        return signers.stream().map(Signer::name).collect(Collectors.toList());
    }

    @Test
    void armoredWitnessCheckpointsMeetATwoOfTwoQuorum() {
        String note = at(witnessing, "aw_ci3", "note");
        String origin = note.substring(0, note.indexOf('\n'));
        List<String> witnesses = List.of("ArmoredWitness-weathered-rain", "ArmoredWitness-floral-sky");
        try (VerifierList logs = VerifierList.parse(List.of((String) at(witnessing, "aw_ci3", "key")));
             VerifierList cosigners = VerifierList.parse(witnesses.stream().map(RealLogsTest::cosignatureKey)
                     .collect(Collectors.toList()));
             WitnessPolicy policy = WitnessPolicy.threshold(logs, cosigners, 2);
             CheckpointVerifier witnessesOnly = CheckpointVerifier.withPolicy(origin, policy);
             CheckpointVerifier verifier = CheckpointVerifier.withKeysAndPolicy(origin, logs, policy)) {
            // The log's key is named apart from its origin: as a policy line it
            // signs for nothing here, and the witnesses never stand in for the log.
            VerificationException alone = assertThrows(VerificationException.class, () -> witnessesOnly.verify(note));
            assertEquals(ErrorKind.NoTrustedSignature, alone.kind());
            VerifiedCheckpoint checkpoint = verifier.verify(note);
            assertEquals((long) (Long) at(witnessing, "aw_ci3", "size"), checkpoint.size());
            assertEquals(List.of("transparency.dev-aw-ftlog-ci-3"), names(checkpoint.logSigners()));
            assertEquals(witnesses, names(checkpoint.cosigners()));
            for (Signer s : checkpoint.cosigners()) {
                assertEquals(KeyType.CosignatureV1, s.keyType());
                assertEquals(claimedTime(note, s.name()), s.timestampSeconds().orElseThrow());
            }
            // ci/2 carries no cosignature: the same quorum rejects it.
            String ci2 = at(witnessing, "aw_ci2", "note");
            try (VerifierList ci2Log = VerifierList.parse(List.of((String) at(witnessing, "aw_ci2", "key")));
                 WitnessPolicy ci2Policy = WitnessPolicy.threshold(ci2Log, cosigners, 2);
                 CheckpointVerifier ci2Verifier = CheckpointVerifier.withKeysAndPolicy(ci2.substring(0, ci2.indexOf('\n')),
                         ci2Log, ci2Policy)) {
                VerificationException e = assertThrows(VerificationException.class, () -> ci2Verifier.verify(ci2));
                assertEquals(ErrorKind.WitnessQuorumNotMet, e.kind(), e.getMessage());
                assertEquals((long) (Long) at(witnessing, "aw_ci2", "size"), ci2Verifier.verifyLogSignature(ci2).size());
            }
        }
    }

    @Test
    void pixelCheckpointCosignedWhileItsPublishedKeyIsRefused() {
        String note = at(witnessing, "pixel", "note");
        VerificationException e = assertThrows(VerificationException.class,
                () -> VerifierList.parse(List.of((String) at(witnessing, "pixel", "key"))));
        assertEquals(ErrorKind.MalformedVerifierKey, e.kind());
        // The core library names the same fault inside a signed note.
        assertEquals(at(witnessing, "pixel", "key_error"), "malformed signed note: " + e.fields().get("reason"));
        assertEquals("verifier key 1 \"pixel_transparency_log\": " + e.fields().get("reason"), e.getMessage());
        List<String> witnesses = List.of("ArmoredWitness-small-breeze", "ArmoredWitness-autumn-wood");
        try (VerifierList cosigners = VerifierList.parse(witnesses.stream().map(RealLogsTest::cosignatureKey)
                .collect(Collectors.toList()))) {
            OpenedNote opened = cosigners.open(note);
            assertEquals(witnesses, names(opened.signers()));
            assertEquals(611L, QuenfoldLog.checkpointParse(opened.body()).size());
        }
    }

    @Test
    void monkeysConsistencyProof() {
        String key = at(witnessing, "monkeys", "key");
        String older = at(witnessing, "monkeys", "older");
        String newer = at(witnessing, "monkeys", "newer");
        List<byte[]> proof = new ArrayList<>();
        for (Object h : (List<?>) at(witnessing, "monkeys", "consistency_proof_hex")) {
            proof.add(HexFormat.of().parseHex((String) h));
        }
        QuenfoldLog.checkpointVerifyConsistency(older, newer, List.of(key), proof);
        try (VerifierList keys = VerifierList.parse(List.of(key));
             CheckpointVerifier log = CheckpointVerifier.withKeys("monkeys", keys)) {
            CheckpointPair pair = log.verifyConsistency(older, newer, proof);
            assertEquals(List.of(5L, 8L), List.of(pair.older().size(), pair.newer().size()));
        }
        List<byte[]> shortened = proof.subList(0, proof.size() - 1);
        VerificationException e = assertThrows(VerificationException.class,
                () -> QuenfoldLog.checkpointVerifyConsistency(older, newer, List.of(key), shortened));
        assertEquals(ErrorKind.WrongProofSize, e.kind(), e.getMessage());
    }

    @Test
    void rfc6962AndMlDsaCheckpoints() throws Exception {
        var tiles = Fixtures.TESTDATA.resolve("real-logs/tiles");
        Map<String, Object> source = at(Json.parse(Files.readString(tiles.resolve("sunlight-skylight/SOURCE.json"))),
                "artefacts", "tree/");
        String note = Files.readString(tiles.resolve("sunlight-skylight/tree/checkpoint"));
        String origin = note.substring(0, note.indexOf('\n'));
        String vkey = QuenfoldLog.rfc6962VerifierKey(origin, (String) source.get("log_public_key_spki_b64"));
        try (VerifierList keys = VerifierList.parse(List.of(vkey));
             CheckpointVerifier log = CheckpointVerifier.withKeys(origin, keys)) {
            Signer signer = log.verify(note).logSigners().get(0);
            assertEquals(KeyType.Rfc6962, signer.keyType());
            assertEquals(source.get("sth_timestamp_ms"), signer.timestampMillis().orElseThrow());
            assertEquals(false, signer.coversOrigin());
        }
        String mldsa = Files.readString(tiles.resolve("torchwood-mldsa/checkpoint"));
        try (VerifierList keys = VerifierList.parse(List.of(Files.readString(tiles.resolve("torchwood-mldsa/log.vkey")).trim()));
             CheckpointVerifier log = CheckpointVerifier.withKeys(mldsa.substring(0, mldsa.indexOf('\n')), keys)) {
            assertEquals(KeyType.SubtreeV1, log.verify(mldsa).logSigners().get(0).keyType());
        }
    }
}
