package org.quenfold.log;

import com.sun.jna.Function;
import com.sun.jna.Memory;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Pointer;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.Map;

/**
 * Finding, loading and checking libquenfold_log and libquenfold_log_ext.
 *
 * <p>Each library is found as: the file named by the environment variable
 * {@code QUENFOLD_LOG_LIBRARY} (resp. {@code QUENFOLD_LOG_EXT_LIBRARY}), else
 * the copy this jar carries under {@code linux-x86-64/}, which JNA extracts
 * and loads. Before any export is bound, the library is checked against the
 * interface the binding was generated for ({@link Catalogue}): its contract
 * version, every checksum export, and the same checksums recomputed from the
 * library's own metadata items (64-bit FNV-1a folded to 16 bits). A library
 * that differs in any of these is refused with a {@link LibraryMismatchException},
 * and so is every later call.
 */
public final class Libraries {
    private Libraries() {}

    public static final String ENV_VARIABLE = "QUENFOLD_LOG_LIBRARY";
    public static final String EXT_ENV_VARIABLE = "QUENFOLD_LOG_EXT_LIBRARY";

    /** Where the core library was loaded from (loading it if needed). */
    public static File coreFile() {
        return core().file;
    }

    /** Where the extension library was loaded from (loading it if needed). */
    public static File extensionFile() {
        return extension().file;
    }

    /**
     * Checks the library at {@code file} against a catalogue given apart:
     * contract version, and for every checksum export its value and the hash
     * of its metadata item. Throws LibraryMismatchException naming the first
     * difference. Binds nothing.
     */
    public static void check(File file, String namespace, int contractVersion, Map<String, Integer> checksums,
                             Map<String, String> metadata) {
        NativeLibrary library = open(file);
        Map<String, Long> sizes;
        try {
            sizes = Elf.dynamicSymbolSizes(file);
        } catch (IOException e) {
            throw new LibraryMismatchException("cannot read the symbol table of " + file + ": " + e.getMessage());
        }
        String versionExport = "ffi_" + namespace + "_uniffi_contract_version";
        int got = function(library, file, versionExport).invokeInt(new Object[0]);
        if (got != contractVersion) {
            throw new LibraryMismatchException(file + " has contract version " + got + ", this binding expects "
                    + contractVersion);
        }
        for (Map.Entry<String, Integer> e : checksums.entrySet()) {
            String export = e.getKey();
            int want = e.getValue();
            Object value = function(library, file, export).invoke(short.class, new Object[0]);
            int checksum = ((Short) value) & 0xFFFF;
            if (checksum != want) {
                throw new LibraryMismatchException("checksum of " + export + " is " + checksum
                        + ", this binding expects " + want);
            }
            String symbol = metadata.get(export);
            Long size = symbol == null ? null : sizes.get(symbol);
            if (size == null || size == 0) {
                throw new LibraryMismatchException(file + " does not export the metadata " + symbol);
            }
            Pointer item;
            try {
                item = library.getGlobalVariableAddress(symbol);
            } catch (UnsatisfiedLinkError err) {
                throw new LibraryMismatchException(file + " does not export the metadata " + symbol);
            }
            int recomputed = fnv1a16(item.getByteArray(0, (int) (long) size));
            if (recomputed != want) {
                throw new LibraryMismatchException("metadata of " + export + " hashes to checksum " + recomputed
                        + ", this binding expects " + want);
            }
        }
    }

    /** 64-bit FNV-1a folded to 16 bits: a call's checksum from its metadata item. */
    static int fnv1a16(byte[] data) {
        long h = 0xcbf29ce484222325L;
        for (byte b : data) {
            h = (h ^ (b & 0xFF)) * 0x100000001b3L;
        }
        return (int) ((h ^ (h >>> 16) ^ (h >>> 32) ^ (h >>> 48)) & 0xFFFF);
    }

    private static NativeLibrary open(File file) {
        try {
            return NativeLibrary.getInstance(file.getAbsolutePath());
        } catch (UnsatisfiedLinkError e) {
            throw new LibraryMismatchException("cannot load " + file + ": " + e.getMessage());
        }
    }

    private static Function function(NativeLibrary library, File file, String name) {
        try {
            return library.getFunction(name);
        } catch (UnsatisfiedLinkError e) {
            throw new LibraryMismatchException(file + " does not export " + name);
        }
    }

    /** The file named by the environment, else the jar's own copy, extracted by JNA. */
    static File locate(String variable, String name) {
        String named = System.getenv(variable);
        if (named != null && !named.isEmpty()) {
            return new File(named);
        }
        try {
            return Native.extractFromResourcePath(name, Libraries.class.getClassLoader());
        } catch (IOException e) {
            throw new LibraryMismatchException("lib" + name + ".so not found: this jar carries none under "
                    + "linux-x86-64/ (" + e.getMessage() + ") and " + variable + " is not set");
        }
    }

    // ---- the two loaded libraries ---------------------------------------------------

    /** What a Call needs of its library: buffers, and how it reports failures. */
    abstract static class Boundary {
        final File file;
        private final ThreadLocal<Memory> freeStatus = ThreadLocal.withInitial(() -> new Memory(32));
        private final ThreadLocal<RustBuffer.ByValue> freed = ThreadLocal.withInitial(RustBuffer.ByValue::new);

        Boundary(File file) {
            this.file = file;
        }

        abstract RustBuffer.ByValue alloc(long size, Pointer status);

        abstract void free(RustBuffer.ByValue buffer, Pointer status);

        /** The exception of a rejection (code 1) or internal failure. */
        abstract QuenfoldException rejection(byte[] payload);

        QuenfoldException failure(byte code, byte[] payload) {
            if (code == 1) {
                try {
                    return rejection(payload);
                } catch (Codec.DecodeException e) {
                    return new InternalFailureException("undecodable VerifyError: " + e.getMessage());
                }
            }
            if (code == 2) {
                return new InternalFailureException(new String(payload, StandardCharsets.UTF_8));
            }
            return new InternalFailureException("unexpected call status " + code);
        }

        /** Copies out and releases a caller-owned buffer. */
        byte[] take(long capacity, long len, Pointer data) {
            if (data == null) {
                return new byte[0];
            }
            byte[] out = data.getByteArray(0, (int) len);
            Memory status = freeStatus.get();
            status.setByte(0, (byte) 0);
            RustBuffer.ByValue buffer = freed.get();
            buffer.capacity = capacity;
            buffer.len = len;
            buffer.data = data;
            free(buffer, status);
            if (status.getByte(0) != 0) {
                throw new InternalFailureException("a buffer could not be released");
            }
            return out;
        }
    }

    private static final class Core extends Boundary {
        Core(File file) {
            super(file);
        }

        @Override
        RustBuffer.ByValue alloc(long size, Pointer status) {
            return CoreNative.ffi_quenfold_log_rustbuffer_alloc(size, status);
        }

        @Override
        void free(RustBuffer.ByValue buffer, Pointer status) {
            CoreNative.ffi_quenfold_log_rustbuffer_free(buffer, status);
        }

        @Override
        QuenfoldException rejection(byte[] payload) {
            // VerifyError: variant 1 (Verification), then the message.
            Codec.Reader r = new Codec.Reader(payload);
            int variant = r.i32();
            if (variant != 1) {
                throw new Codec.DecodeException("unknown VerifyError variant " + variant);
            }
            String message = r.string();
            r.finish();
            return new VerificationException(message);
        }
    }

    private static final class Extension extends Boundary {
        Extension(File file) {
            super(file);
        }

        @Override
        RustBuffer.ByValue alloc(long size, Pointer status) {
            return ExtNative.ffi_quenfold_log_ext_rustbuffer_alloc(size, status);
        }

        @Override
        void free(RustBuffer.ByValue buffer, Pointer status) {
            ExtNative.ffi_quenfold_log_ext_rustbuffer_free(buffer, status);
        }

        @Override
        QuenfoldException rejection(byte[] payload) {
            Codec.Reader r = new Codec.Reader(payload);
            VerificationException e = ExtensionErrors.read(r);
            r.finish();
            return e;
        }
    }

    // Loaded on first use, once: a holder class each, so that a failed load
    // is reported again (as NoClassDefFoundError's cause would not be) by
    // keeping the failure.
    private static final class CoreHolder {
        static final Object LOADED = load();

        static Object load() {
            try {
                File file = locate(ENV_VARIABLE, "quenfold_log");
                check(file, Catalogue.CORE_NAMESPACE, Catalogue.CORE_CONTRACT_VERSION, Catalogue.CORE_CHECKSUMS,
                        Catalogue.CORE_METADATA);
                CoreNative.bind(open(file));
                return new Core(file);
            } catch (LibraryMismatchException e) {
                return e;
            }
        }
    }

    private static final class ExtensionHolder {
        static final Object LOADED = load();

        static Object load() {
            try {
                File file = locate(EXT_ENV_VARIABLE, "quenfold_log_ext");
                check(file, Catalogue.EXT_NAMESPACE, Catalogue.EXT_CONTRACT_VERSION, Catalogue.EXT_CHECKSUMS,
                        Catalogue.EXT_METADATA);
                ExtNative.bind(open(file));
                return new Extension(file);
            } catch (LibraryMismatchException e) {
                return e;
            }
        }
    }

    static Boundary core() {
        return loaded(CoreHolder.LOADED);
    }

    static Boundary extension() {
        return loaded(ExtensionHolder.LOADED);
    }

    private static Boundary loaded(Object state) {
        if (state instanceof LibraryMismatchException) {
            LibraryMismatchException first = (LibraryMismatchException) state;
            throw new LibraryMismatchException(first.getMessage());
        }
        return (Boundary) state;
    }
}
