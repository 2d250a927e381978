package org.quenfold.log;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The five-line Java example of README.md runs as shown (in jshell, from the checkout's root). */
class ReadmeTest {
    @Test
    void javaExampleRunsAndPrintsTheCheckpoint(@TempDir Path tmp) throws Exception {
        String readme = Files.readString(Fixtures.ROOT.resolve("README.md"));
        Matcher m = Pattern.compile("(?ms)^```java\n(.*?)^```$").matcher(readme);
        assertTrue(m.find(), "README.md has no java block");
        String example = m.group(1);
        assertTrue(example.lines().count() <= 5, "the README example grew beyond five lines");
        Path script = tmp.resolve("example.jsh");
        Files.writeString(script, example + "/exit\n");
        Path jshell = Path.of(System.getProperty("java.home"), "bin", "jshell");
        // The jars this test runs from: the binding's and JNA's.
        String classPath = jarOf(Libraries.class) + File.pathSeparator + jarOf(com.sun.jna.Native.class);
        Process p = new ProcessBuilder(jshell.toString(), "--feedback", "silent", "--class-path", classPath,
                script.toString()).directory(Fixtures.ROOT.toFile())
                .redirectError(tmp.resolve("stderr").toFile()).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(p.waitFor(120, TimeUnit.SECONDS));
        assertEquals(0, p.exitValue(), out + Files.readString(tmp.resolve("stderr")));
        // The checkpoint body: origin, size, base64 root, shown with the root in hex.
        List<String> body = Files.readAllLines(Fixtures.EXAMPLES.resolve("log/checkpoint-7.note"));
        String want = body.get(0) + " " + body.get(1) + " "
                + java.util.HexFormat.of().formatHex(java.util.Base64.getDecoder().decode(body.get(2)));
        assertEquals(want + "\n", out);
    }

    private static String jarOf(Class<?> cls) throws Exception {
        return Path.of(cls.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
    }
}
