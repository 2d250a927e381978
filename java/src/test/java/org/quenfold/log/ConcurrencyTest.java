package org.quenfold.log;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.quenfold.log.Fixtures.ORIGIN;
import static org.quenfold.log.Fixtures.hex;
import static org.quenfold.log.Fixtures.hexItems;
import static org.quenfold.log.Fixtures.keys;
import static org.quenfold.log.Fixtures.text;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Supplier;
import org.junit.jupiter.api.Test;

/** Eight threads verifying at once, sharing handles, and handles closed under running calls. */
class ConcurrencyTest {
    private static final int THREADS = 8;
    private static final int ROUNDS = 25;

    /** Every answer as text, so that results of all kinds compare alike. */
    private static String answer(Supplier<Object> call) {
        try {
            Object out = call.get();
            return out instanceof byte[] ? HexFormat.of().formatHex((byte[]) out) : String.valueOf(out);
        } catch (VerificationException e) {
            return "rejected: " + e.kind() + ": " + e.getMessage();
        }
    }

    @Test
    void eightThreadsGiveTheSingleThreadedAnswers() throws Exception {
        String note7 = text("log/checkpoint-7.note");
        String tampered = text("log/checkpoint-7-tampered.note");
        byte[] leaf = hex("merkle/leaf4.hash");
        List<byte[]> path = hexItems("merkle/inclusion-4-of-7.proof");
        byte[] root7 = hex("merkle/root7.hash");
        String kt = "keytrans/ed25519/";
        byte[] alice = "alice@example.org".getBytes(StandardCharsets.UTF_8);
        try (VerifierList keys = VerifierList.parse(keys());
             CheckpointVerifier shared = CheckpointVerifier.withKeys(ORIGIN, keys)) {
            List<Supplier<Object>> calls = List.of(
                () -> QuenfoldLog.checkpointVerify(note7, keys()).size(),
                () -> QuenfoldLog.checkpointVerify(tampered, keys()),
                () -> { QuenfoldLog.verifyInclusion(4, 7, leaf, path, root7); return "ok"; },
                () -> { QuenfoldLog.verifyInclusion(5, 7, leaf, path, root7); return "ok"; },
                () -> shared.verify(note7).cosigners().size() + " " + shared.verify(note7).size(),
                () -> shared.verify(tampered),
                () -> QuenfoldLog.keytransVerifySearchSuite(2, text(kt + "context.txt").trim(), hex(kt + "vrf-public.hex"),
                        hex(kt + "root.hex"), alice, hex(kt + "search-alice.proof")).value().map(String::new).orElse("-"),
                () -> QuenfoldLog.signedPolicyVerify(hex("policy/example.org.policy")).policyHash());
            List<String> expected = new ArrayList<>();
            for (Supplier<Object> call : calls) {
                expected.add(answer(call));
            }
            assertTrue(expected.get(1).startsWith("rejected: InvalidSignature"), expected.get(1));

            CyclicBarrier start = new CyclicBarrier(THREADS);
            ExecutorService pool = Executors.newFixedThreadPool(THREADS);
            try {
                List<Future<List<String>>> results = new ArrayList<>();
                for (int t = 0; t < THREADS; t++) {
                    int offset = t;
                    results.add(pool.submit(() -> {
                        start.await();
                        List<String> mismatches = new ArrayList<>();
                        for (int round = 0; round < ROUNDS; round++) {
                            // Each thread walks the calls from its own offset: different calls run at once.
                            int i = (offset + round) % calls.size();
                            String got = answer(calls.get(i));
                            if (!got.equals(expected.get(i))) {
                                mismatches.add(i + ": " + got);
                            }
                        }
                        return mismatches;
                    }));
                }
                for (Future<List<String>> f : results) {
                    assertEquals(List.of(), f.get(120, TimeUnit.SECONDS));
                }
            } finally {
                pool.shutdownNow();
            }
        }
    }

    @Test
    void closingUnderRunningCallsReleasesOnceAfterTheLast() throws Exception {
        AtomicInteger released = new AtomicInteger();
        Handle fake = new Handle("Fake", 42, h -> {
            assertEquals(42, h);
            released.incrementAndGet();
        }) {};
        assertEquals(42, fake.borrow());
        assertEquals(42, fake.borrow());
        fake.close();
        assertEquals(0, released.get(), "released under a call in flight");
        assertEquals("this Fake was closed", assertThrows(IllegalStateException.class, fake::borrow).getMessage());
        fake.giveBack();
        assertEquals(0, released.get());
        fake.giveBack();
        assertEquals(1, released.get());
        fake.close();
        assertEquals(1, released.get());

        // The real thing: a shared verifier closed while eight threads use it.
        String note7 = text("log/checkpoint-7.note");
        VerifierList keys = VerifierList.parse(keys());
        CheckpointVerifier shared = CheckpointVerifier.withKeys(ORIGIN, keys);
        keys.close();
        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        CyclicBarrier start = new CyclicBarrier(THREADS + 1);
        try {
            List<Future<Integer>> results = new ArrayList<>();
            for (int t = 0; t < THREADS; t++) {
                results.add(pool.submit((Callable<Integer>) () -> {
                    start.await();
                    int verified = 0;
                    while (true) {
                        try {
                            assertEquals(7, shared.verify(note7).size());
                            verified++;
                        } catch (IllegalStateException closed) {
                            return verified;
                        }
                    }
                }));
            }
            start.await();
            Thread.sleep(50);
            shared.close();
            for (Future<Integer> f : results) {
                f.get(60, TimeUnit.SECONDS);
            }
        } finally {
            pool.shutdownNow();
        }
        try (VerifierList again = VerifierList.parse(keys());
             CheckpointVerifier log = CheckpointVerifier.withKeys(ORIGIN, again)) {
            assertEquals(7, log.verify(note7).size());
        }
    }
}
