package org.quenfold.log;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.sun.jna.NativeLibrary;
import java.io.File;
import java.io.InputStream;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.concurrent.TimeUnit;
import javax.tools.JavaCompiler;
import javax.tools.ToolProvider;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The load-time guard: a binding generated afresh from the catalogues accepts
 * both libraries, whose checksums equal the metadata's; a library that differs
 * in a checksum, a metadata item or the contract version is refused; the
 * libraries are the jar's own; and the codec's value forms.
 */
class ContractTest {
    private static final boolean EXPECT_BUNDLED = "1".equals(System.getenv("QUENFOLD_EXPECT_BUNDLED"));

    @SuppressWarnings("unchecked")
    private static <T> T staticField(Class<?> cls, String name) throws ReflectiveOperationException {
        return (T) cls.getField(name).get(null);
    }

    @Test
    void aBindingGeneratedAfreshAcceptsBothLibraries(@TempDir Path tmp) throws Exception {
        String python = System.getenv().getOrDefault("QUENFOLD_PYTHON", "python3");
        Process gen = new ProcessBuilder(python, Fixtures.ROOT.resolve("tools/metadata-gen/metadata_gen.py").toString(),
                "--java-dir", tmp.toString()).redirectErrorStream(true).start();
        String out = new String(gen.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(gen.waitFor(120, TimeUnit.SECONDS));
        assertEquals(0, gen.exitValue(), out);
        Path source = tmp.resolve("java/src/main/java/org/quenfold/log/Catalogue.java");
        JavaCompiler javac = ToolProvider.getSystemJavaCompiler();
        Path classes = Files.createDirectories(tmp.resolve("classes"));
        assertEquals(0, javac.run(null, null, null, "-d", classes.toString(), source.toString()));
        try (URLClassLoader loader = new URLClassLoader(new URL[] {classes.toUri().toURL()},
                ClassLoader.getPlatformClassLoader())) {
            Class<?> fresh = loader.loadClass("org.quenfold.log.Catalogue");
            assertNotSame(Catalogue.class, fresh);
            Map<String, Integer> core = staticField(fresh, "CORE_CHECKSUMS");
            Map<String, Integer> ext = staticField(fresh, "EXT_CHECKSUMS");
            // The committed table is the fresh one.
            assertEquals(Catalogue.CORE_CHECKSUMS, core);
            assertEquals(Catalogue.EXT_CHECKSUMS, ext);
            assertEquals(26, core.size());
            Libraries.check(Libraries.coreFile(), staticField(fresh, "CORE_NAMESPACE"),
                    staticField(fresh, "CORE_CONTRACT_VERSION"), core, staticField(fresh, "CORE_METADATA"));
            Libraries.check(Libraries.extensionFile(), staticField(fresh, "EXT_NAMESPACE"),
                    staticField(fresh, "EXT_CONTRACT_VERSION"), ext, staticField(fresh, "EXT_METADATA"));
            // And each export answers the metadata's checksum when asked directly.
            for (Map.Entry<File, Map<String, Integer>> lib : Map.of(Libraries.coreFile(), core,
                    Libraries.extensionFile(), ext).entrySet()) {
                NativeLibrary library = NativeLibrary.getInstance(lib.getKey().getAbsolutePath());
                for (Map.Entry<String, Integer> e : lib.getValue().entrySet()) {
                    short got = (Short) library.getFunction(e.getKey()).invoke(short.class, new Object[0]);
                    assertEquals((int) e.getValue(), got & 0xFFFF, e.getKey());
                }
            }
        }
    }

    @Test
    void aDifferentLibraryIsRefused() {
        File core = Libraries.coreFile();
        File ext = Libraries.extensionFile();
        String first = Catalogue.CORE_CHECKSUMS.keySet().iterator().next();
        int checksum = Catalogue.CORE_CHECKSUMS.get(first);
        Map<String, Integer> altered = new LinkedHashMap<>(Catalogue.CORE_CHECKSUMS);
        altered.put(first, checksum ^ 1);
        Map<String, String> missing = new LinkedHashMap<>(Catalogue.CORE_METADATA);
        missing.put(first, "UNIFFI_META_MISSING");
        List<Object[]> cases = List.of(
            new Object[] {"a checksum", "checksum of " + first + " is " + checksum + ", this binding expects " + (checksum ^ 1),
                (Runnable) () -> Libraries.check(core, "quenfold_log", 30, altered, Catalogue.CORE_METADATA)},
            new Object[] {"a metadata item", "does not export the metadata UNIFFI_META_MISSING",
                (Runnable) () -> Libraries.check(core, "quenfold_log", 30, Catalogue.CORE_CHECKSUMS, missing)},
            new Object[] {"the contract version", "has contract version 30, this binding expects 29",
                (Runnable) () -> Libraries.check(ext, Catalogue.EXT_NAMESPACE, 29, Catalogue.EXT_CHECKSUMS,
                        Catalogue.EXT_METADATA)},
            new Object[] {"the core in the extension's place", "does not export ffi_quenfold_log_ext_uniffi_contract_version",
                (Runnable) () -> Libraries.check(core, Catalogue.EXT_NAMESPACE, 30, Catalogue.EXT_CHECKSUMS,
                        Catalogue.EXT_METADATA)},
            new Object[] {"no library at all", "cannot load /nonexistent/libquenfold_log.so",
                (Runnable) () -> Libraries.check(new File("/nonexistent/libquenfold_log.so"), "quenfold_log", 30,
                        Catalogue.CORE_CHECKSUMS, Catalogue.CORE_METADATA)});
        for (Object[] c : cases) {
            LibraryMismatchException e = assertThrows(LibraryMismatchException.class, ((Runnable) c[2])::run,
                    (String) c[0]);
            assertTrue(e.getMessage().contains((String) c[1]), c[0] + ": " + e.getMessage());
        }
    }

    @Test
    void theLibrariesAreTheJarsOwn() throws Exception {
        for (Object[] lib : new Object[][] {{Libraries.coreFile(), "linux-x86-64/libquenfold_log.so"},
                {Libraries.extensionFile(), "linux-x86-64/libquenfold_log_ext.so"}}) {
            try (InputStream in = Libraries.class.getClassLoader().getResourceAsStream((String) lib[1])) {
                assertTrue(in != null, lib[1] + " is not in the jar");
                if (EXPECT_BUNDLED) {
                    assertArrayEquals(in.readAllBytes(), Files.readAllBytes(((File) lib[0]).toPath()),
                            lib[0] + " is not the jar's " + lib[1]);
                }
            }
        }
        if (EXPECT_BUNDLED) {
            assertEquals(null, System.getenv(Libraries.ENV_VARIABLE));
            assertTrue(!Libraries.coreFile().toPath().startsWith(Fixtures.ROOT), Libraries.coreFile().toString());
        }
    }

    @Test
    void checksumAlgorithmIsFnv1a64Folded() {
        // FNV-1a 64 published values: the offset basis, "a", "foobar".
        long[][] vectors = {{0xcbf29ce484222325L}, {0xaf63dc4c8601ec8cL}, {0x85944171f73967e8L}};
        String[] inputs = {"", "a", "foobar"};
        for (int i = 0; i < inputs.length; i++) {
            long h = vectors[i][0];
            int fold = (int) ((h ^ (h >>> 16) ^ (h >>> 32) ^ (h >>> 48)) & 0xFFFF);
            assertEquals(fold, Libraries.fnv1a16(inputs[i].getBytes(StandardCharsets.US_ASCII)), inputs[i]);
        }
    }

    @Test
    void stringsAreEncodedAsStringGetBytesEncodesThem() {
        String[] cases = {"", "log.example.org", "\u2014 name", "caf\u00e9", "\ud83d\udd11 key", "lone \ud800 high",
            "lone \udc00 low", "end \ud83d"};
        for (String s : cases) {
            Codec.Writer w = Codec.Writer.reused();
            w.utf8(s);
            assertArrayEquals(s.getBytes(StandardCharsets.UTF_8), java.util.Arrays.copyOf(w.array(), w.size()), s);
            Codec.Writer prefixed = Codec.Writer.reused();
            prefixed.string(s);
            Codec.Reader r = new Codec.Reader(java.util.Arrays.copyOf(prefixed.array(), prefixed.size()));
            assertEquals(new String(s.getBytes(StandardCharsets.UTF_8), StandardCharsets.UTF_8), r.string());
            r.finish();
        }
    }

    @Test
    void valueFormsRoundTripAndRefuseMalformedResults() {
        Signer signer = new Signer("w", 0xfffffffeL, KeyType.CosignatureV1, Optional.of(-2L), Optional.empty(), true);
        byte[] bytes = Codec.encode(signer::write);
        // name, key id, key type (variant 3), some(u64), none, true
        assertEquals("00000001" + "77" + "fffffffe" + "00000003" + "01" + "fffffffffffffffe" + "00" + "01",
                java.util.HexFormat.of().formatHex(bytes));
        Codec.Reader r = new Codec.Reader(bytes);
        assertEquals(signer, Signer.read(r));
        r.finish();

        String[][] malformed = {
            {"0000000177fffffffe00000003010000000000000001" + "00" + "02", "unexpected bool byte 2"},
            {"0000000177fffffffe00000006", "Invalid KeyType enum value: 6"},
            {"0000000177fffffffe0000000302", "unexpected tag byte for Option"},
            {"0000000277", "not enough bytes remaining in buffer (1 < 2)"},
            {"ffffffff", "out of range integral type conversion attempted"},
        };
        for (String[] c : malformed) {
            Codec.Reader bad = new Codec.Reader(java.util.HexFormat.of().parseHex(c[0]));
            assertEquals(c[1], assertThrows(Codec.DecodeException.class, () -> Signer.read(bad)).getMessage(), c[0]);
        }
        Codec.Reader extra = new Codec.Reader(new byte[] {0, 0, 0, 0, 9});
        assertEquals(0, extra.bytes().length);
        assertEquals("junk data left in buffer after lifting (count: 1)",
                assertThrows(Codec.DecodeException.class, extra::finish).getMessage());
    }
}
