package org.quenfold.log;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The tests' inputs: the bundled examples (written by tools/make-examples) of
 * the checkout named by QUENFOLD_SOURCE_ROOT (the tests run from a copy of the
 * jars outside it), and the public test data beside the checkout.
 */
final class Fixtures {
    private Fixtures() {}

    static final Path ROOT = Path.of(System.getenv().getOrDefault("QUENFOLD_SOURCE_ROOT", "")).toAbsolutePath();
    static final Path EXAMPLES = ROOT.resolve("examples");
    static final Path TESTDATA = ROOT.getParent().resolve("shared").resolve("testdata");
    static final String ORIGIN = "log.example.org/quenfold/v1";

    static String text(String relative) {
        try {
            return Files.readString(EXAMPLES.resolve(relative));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The whitespace- or comma-separated hex items of an example file. */
    static List<byte[]> hexItems(String relative) {
        List<byte[]> out = new ArrayList<>();
        for (String item : text(relative).replace(',', ' ').trim().split("\\s+")) {
            out.add(HexFormat.of().parseHex(item));
        }
        return out;
    }

    /** An example file holding one hex value, possibly across lines. */
    static byte[] hex(String relative) {
        return HexFormat.of().parseHex(text(relative).replaceAll("\\s+", ""));
    }

    /** An example file of "name value" lines. */
    static Map<String, String> fields(String relative) {
        Map<String, String> out = new LinkedHashMap<>();
        for (String line : text(relative).split("\n")) {
            if (!line.isBlank()) {
                int space = line.indexOf(' ');
                out.put(line.substring(0, space), line.substring(space + 1).trim());
            }
        }
        return out;
    }

    static List<String> keys() {
        return List.of(text("log/keys.txt").trim().split("\n"));
    }

    static byte[] flip(byte[] b, int index) {
        byte[] out = b.clone();
        out[index] ^= 1;
        return out;
    }

    /** The real logs' and witnesses' checkpoints: a JSON file of the shared test data. */
    @SuppressWarnings("unchecked")
    static Map<String, Object> testdata(String relative) {
        try {
            return (Map<String, Object>) Json.parse(Files.readString(TESTDATA.resolve(relative)));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    @SuppressWarnings("unchecked")
    static <T> T at(Object json, String... path) {
        Object o = json;
        for (String key : path) {
            o = ((Map<String, Object>) o).get(key);
        }
        return (T) o;
    }
}
