import com.sun.jna.Function;
import com.sun.jna.NativeLibrary;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import org.quenfold.log.Libraries;
import org.quenfold.log.QuenfoldLog;

/**
 * The two calls of bench/bindings/compare.py through the JVM binding, as an
 * application makes them, each batch beside a batch of the same calls through
 * the C ABI made by libquenfold_abi_calls.so in this same process (one JNA
 * call per batch); and a bare JNA call (a checksum export: no argument, no
 * buffer) for scale. Prints one JSON line per call: the medians over batches
 * of the calling thread's CPU time per call (C ABI, binding) in
 * microseconds, and of the batches' ratios. The JIT compiles the path during
 * the warm-up batches.
 *
 *   QUENFOLD_LOG_LIBRARY=build/libquenfold_log.so.0 QUENFOLD_LOG_EXT_LIBRARY=build/libquenfold_log_ext.so.0 \
 *   java -cp build/java/quenfold_log.jar:/usr/share/java/jna.jar bench/bindings/JavaCalls.java \
 *       build/bench/libquenfold_abi_calls.so examples
 */
public class JavaCalls {
    static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();

    static double median(double[] values) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        return sorted[sorted.length / 2];
    }

    static void measure(Function abi, String op, Runnable call, int warmUp, int perBatch, int batches) {
        for (int i = 0; i < warmUp; i++) {
            call.run();
        }
        double[] c = new double[batches];
        double[] binding = new double[batches];
        double[] ratio = new double[batches];
        double[] overhead = new double[batches];
        for (int b = 0; b < batches; b++) {
            c[b] = abi.invokeDouble(new Object[] {op, perBatch}) / perBatch;
            long start = THREADS.getCurrentThreadCpuTime();
            for (int i = 0; i < perBatch; i++) {
                call.run();
            }
            binding[b] = (THREADS.getCurrentThreadCpuTime() - start) / 1e3 / perBatch;
            ratio[b] = binding[b] / c[b];
            overhead[b] = binding[b] - c[b];
        }
        System.out.printf("{\"op\": \"%s\", \"c_us\": %.3f, \"binding_us\": %.3f, \"ratio\": %.3f, \"overhead_us\": %.3f}%n",
                op, median(c), median(binding), median(ratio), median(overhead));
    }

    public static void main(String[] args) throws Exception {
        Function abi = NativeLibrary.getInstance(args[0]).getFunction("quenfold_abi_calls_run");
        NativeLibrary.getInstance(args[0]).getFunction("quenfold_abi_calls_setup").invokeInt(new Object[] {args[1]});
        Path examples = Path.of(args[1]);
        String note = Files.readString(examples.resolve("log/checkpoint-7.note"));
        List<String> keys = Files.readAllLines(examples.resolve("log/keys.txt"));
        HexFormat hex = HexFormat.of();
        byte[] leaf = hex.parseHex(Files.readString(examples.resolve("merkle/leaf4.hash")).trim());
        byte[] root = hex.parseHex(Files.readString(examples.resolve("merkle/root7.hash")).trim());
        List<byte[]> path = new ArrayList<>();
        for (String h : Files.readString(examples.resolve("merkle/inclusion-4-of-7.proof")).replace(',', ' ').trim().split("\\s+")) {
            path.add(hex.parseHex(h));
        }
        measure(abi, "checkpoint_verify", () -> QuenfoldLog.checkpointVerify(note, keys), 2000, 5, 201);
        measure(abi, "verify_inclusion", () -> QuenfoldLog.verifyInclusion(4, 7, leaf, path, root), 60000, 500, 201);
        Function checksum = NativeLibrary.getInstance(Libraries.coreFile().getAbsolutePath())
                .getFunction("uniffi_quenfold_log_checksum_func_verify_inclusion");
        double[] bare = new double[15];
        for (int b = 0; b < bare.length; b++) {
            long start = THREADS.getCurrentThreadCpuTime();
            for (int i = 0; i < 20000; i++) {
                checksum.invokeInt(new Object[0]);
            }
            bare[b] = (THREADS.getCurrentThreadCpuTime() - start) / 1e3 / 20000;
        }
        System.out.printf("{\"op\": \"bare_jna_call\", \"binding_us\": %.3f}%n", median(bare));
    }
}
