package org.quenfold.log;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;

/**
 * The tiled-log calls from the JVM over the real Tessera log (shared test
 * data: 15 entries, a checkpoint, partial hash tile and entry bundle for every
 * size): a worker's share checked in one call, confirmed under the tree, and a
 * flipped tile or entry named.
 */
class TiledLogTest {
    private static final Path LOG = Fixtures.TESTDATA.resolve("real-logs/tiles/tessera-testdata-log");

    private static byte[] read(String relative) throws Exception {
        return Files.readAllBytes(LOG.resolve(relative));
    }

    @Test
    void aWorkersShareIsCheckedInOneCallAndConfirmedUnderTheTree() throws Exception {
        assumeTrue(Files.isDirectory(LOG), "the shared test data is not beside the checkout");
        Map<String, Object> source = Fixtures.at(Json.parse(Files.readString(LOG.resolve("SOURCE.json"))));
        String origin = (String) source.get("origin");
        try (VerifierList keys = VerifierList.parse(List.of((String) source.get("verifier_key")));
             CheckpointVerifier verifier = CheckpointVerifier.withKeys(origin, keys)) {
            for (int size = 1; size <= 15; size++) {
                final int n = size;
                CheckpointHead head = verifier.verify(Files.readString(LOG.resolve("checkpoint." + n))).head();
                String tilePath = QuenfoldLog.formatTilePath(TileKind.Hash, 0, 0, n);
                String bundlePath = QuenfoldLog.formatTilePath(TileKind.Entries, 0, 0, n);
                byte[] tile = read(tilePath);
                byte[] bundle = read(bundlePath);
                try (TiledTree empty = TiledTree.create(head.size(), head.root(), 0, -1L);
                     TiledTree tree = empty.withTiles(List.of(tilePath), List.of(tile))) {
                    // The driver's expected hash for the one (edge) tile: its leaves' hash, the root.
                    byte[] expected = tree.subtreeHash(0, n);
                    assertArrayEquals(head.root(), expected);
                    List<SubtreeHash> got = QuenfoldLog.checkLeafTiles(n, expected, List.of(tilePath), List.of(tile),
                            List.of(bundlePath), List.of(bundle));
                    tree.confirmSubtrees(got);
                    List<SubtreeHash> whole = QuenfoldLog.combineSubtrees(n, got);
                    assertEquals(1, whole.size(), "n=" + n);
                    assertArrayEquals(head.root(), whole.get(0).hash(), "n=" + n);

                    byte[] flippedTile = Fixtures.flip(tile, 3);
                    VerificationException e = assertThrows(VerificationException.class, () -> QuenfoldLog.checkLeafTiles(
                            n, expected, List.of(tilePath), List.of(flippedTile), List.of(), List.of()));
                    assertEquals(ErrorKind.TileHashMismatch, e.kind(), e.getMessage());
                    assertTrue(e.getMessage().contains(tilePath), e.getMessage());

                    byte[] flippedEntry = Fixtures.flip(bundle, bundle.length - 1);
                    e = assertThrows(VerificationException.class, () -> QuenfoldLog.checkLeafTiles(
                            n, expected, List.of(tilePath), List.of(tile), List.of(bundlePath), List.of(flippedEntry)));
                    assertEquals(ErrorKind.TileHashMismatch, e.kind(), e.getMessage());
                    assertTrue(e.getMessage().contains("tile " + bundlePath + " does not authenticate: entry " + (n - 1)
                            + " does not hash to its slot in " + tilePath), e.getMessage());
                }
            }
        }
    }
}
