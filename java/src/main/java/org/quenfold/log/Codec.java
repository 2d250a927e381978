package org.quenfold.log;

import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Optional;
import java.util.function.BiConsumer;
import java.util.function.Consumer;
import java.util.function.Function;

/**
 * The serialized value forms of the C ABI, as python/quenfold_log/_codec.py
 * writes and reads them. All integers are big-endian; counts and lengths are
 * signed 32-bit; an enum is its signed 32-bit variant index (from 1); an
 * optional is a tag byte (0 absent, 1 present) followed by the value; a record
 * is its fields in declaration order. A string argument passed on its own is
 * its raw UTF-8 with no prefix; inside a value it has a count prefix.
 */
final class Codec {
    private Codec() {}

    static final int MAX_COUNT = Integer.MAX_VALUE;

    /** A result that does not parse; surfaces as an InternalFailureException. */
    static final class DecodeException extends RuntimeException {
        private static final long serialVersionUID = 1L;

        DecodeException(String message) {
            super(message);
        }
    }

    static byte[] encode(Consumer<Writer> build) {
        Writer w = new Writer();
        build.accept(w);
        return w.finish();
    }

    static byte[] utf8(String s) {
        return s.getBytes(StandardCharsets.UTF_8);
    }

    static byte u8(String name, int value) {
        if (value < 0 || value > 0xFF) {
            throw new IllegalArgumentException(name + " must fit in an unsigned 8-bit integer");
        }
        return (byte) value;
    }

    static short u16(String name, int value) {
        if (value < 0 || value > 0xFFFF) {
            throw new IllegalArgumentException(name + " must fit in an unsigned 16-bit integer");
        }
        return (short) value;
    }

    static int u32(String name, long value) {
        if (value < 0 || value > 0xFFFFFFFFL) {
            throw new IllegalArgumentException(name + " must fit in an unsigned 32-bit integer");
        }
        return (int) value;
    }

    /** Builds one serialized argument value. */
    static final class Writer {
        // Each thread serializes one argument at a time, into one buffer kept
        // for the thread: the bytes go straight to the library's buffer, and
        // a call leaves no garbage behind but its own values.
        private static final ThreadLocal<Writer> REUSED = ThreadLocal.withInitial(Writer::new);
        private static final int KEPT = 1 << 20;

        private byte[] buf = new byte[256];
        private int pos;

        static Writer reused() {
            Writer w = REUSED.get();
            if (w.buf.length > KEPT) {
                w.buf = new byte[256];   // an unusually large argument is not kept
            }
            w.pos = 0;
            return w;
        }

        byte[] array() {
            return buf;
        }

        int size() {
            return pos;
        }

        /**
         * The UTF-8 of {@code s}, with no length prefix, encoded in place (a
         * lone surrogate becomes '?', as String.getBytes makes it).
         */
        void utf8(String s) {
            int n = s.length();
            ensure(3 * n);
            for (int i = 0; i < n; i++) {
                char ch = s.charAt(i);
                if (ch < 0x80) {
                    buf[pos++] = (byte) ch;
                } else if (ch < 0x800) {
                    buf[pos++] = (byte) (0xC0 | (ch >> 6));
                    buf[pos++] = (byte) (0x80 | (ch & 0x3F));
                } else if (Character.isSurrogate(ch)) {
                    if (Character.isHighSurrogate(ch) && i + 1 < n && Character.isLowSurrogate(s.charAt(i + 1))) {
                        int cp = Character.toCodePoint(ch, s.charAt(++i));
                        buf[pos++] = (byte) (0xF0 | (cp >> 18));
                        buf[pos++] = (byte) (0x80 | ((cp >> 12) & 0x3F));
                        buf[pos++] = (byte) (0x80 | ((cp >> 6) & 0x3F));
                        buf[pos++] = (byte) (0x80 | (cp & 0x3F));
                    } else {
                        buf[pos++] = '?';
                    }
                } else {
                    buf[pos++] = (byte) (0xE0 | (ch >> 12));
                    buf[pos++] = (byte) (0x80 | ((ch >> 6) & 0x3F));
                    buf[pos++] = (byte) (0x80 | (ch & 0x3F));
                }
            }
        }

        private void ensure(int n) {
            if (buf.length - pos < n) {
                buf = Arrays.copyOf(buf, Math.max(buf.length * 2, pos + n));
            }
        }

        private void raw(byte[] b) {
            ensure(b.length);
            System.arraycopy(b, 0, buf, pos, b.length);
            pos += b.length;
        }

        void u8(int v) {
            ensure(1);
            buf[pos++] = Codec.u8("value", v);
        }

        void bool(boolean v) {
            u8(v ? 1 : 0);
        }

        void u16(int v) {
            short s = Codec.u16("value", v);
            ensure(2);
            buf[pos++] = (byte) (s >>> 8);
            buf[pos++] = (byte) s;
        }

        void i32(int v) {
            ensure(4);
            for (int shift = 24; shift >= 0; shift -= 8) {
                buf[pos++] = (byte) (v >>> shift);
            }
        }

        void u32(long v) {
            i32(Codec.u32("value", v));
        }

        void u64(long v) {
            ensure(8);
            for (int shift = 56; shift >= 0; shift -= 8) {
                buf[pos++] = (byte) (v >>> shift);
            }
        }

        void count(long n) {
            if (n > MAX_COUNT) {
                throw new IllegalArgumentException("a length of " + n + " cannot cross the boundary (at most 2^31 - 1)");
            }
            i32((int) n);
        }

        void bytes(byte[] b) {
            count(b.length);
            raw(b);
        }

        void string(String s) {
            int at = pos;
            i32(0);
            utf8(s);
            int n = pos - at - 4;
            for (int k = 0; k < 4; k++) {
                buf[at + k] = (byte) (n >>> (24 - 8 * k));
            }
        }

        <T> void list(List<T> items, BiConsumer<Writer, T> element) {
            count(items.size());
            for (T item : items) {
                element.accept(this, java.util.Objects.requireNonNull(item, "list element"));
            }
        }

        /** An optional argument: null is absent. */
        <T> void nullable(T value, BiConsumer<Writer, T> inner) {
            if (value == null) {
                u8(0);
            } else {
                u8(1);
                inner.accept(this, value);
            }
        }

        /** An optional record field. */
        <T> void optional(Optional<T> value, BiConsumer<Writer, T> inner) {
            nullable(value.orElse(null), inner);
        }

        byte[] finish() {
            return Arrays.copyOf(buf, pos);
        }
    }

    /** Reads one serialized result value, which must be consumed exactly. */
    static final class Reader {
        private final ByteBuffer data;

        Reader(byte[] data) {
            this.data = ByteBuffer.wrap(data);
        }

        private void need(int n) {
            if (n > data.remaining()) {
                throw new DecodeException("not enough bytes remaining in buffer (" + data.remaining() + " < " + n + ")");
            }
        }

        int u8() {
            need(1);
            return data.get() & 0xFF;
        }

        int u16() {
            need(2);
            return data.getShort() & 0xFFFF;
        }

        int i32() {
            need(4);
            return data.getInt();
        }

        long u32() {
            return Integer.toUnsignedLong(i32());
        }

        long u64() {
            need(8);
            return data.getLong();
        }

        int count() {
            int n = i32();
            if (n < 0) {
                throw new DecodeException("out of range integral type conversion attempted");
            }
            return n;
        }

        boolean bool() {
            int b = u8();
            if (b > 1) {
                throw new DecodeException("unexpected bool byte " + b);
            }
            return b == 1;
        }

        byte[] bytes() {
            int n = count();
            need(n);
            byte[] out = new byte[n];
            data.get(out);
            return out;
        }

        String string() {
            byte[] raw = bytes();
            try {
                return StandardCharsets.UTF_8.newDecoder()
                        .onMalformedInput(CodingErrorAction.REPORT)
                        .onUnmappableCharacter(CodingErrorAction.REPORT)
                        .decode(ByteBuffer.wrap(raw)).toString();
            } catch (CharacterCodingException e) {
                throw new DecodeException("invalid utf-8 in a string result: " + e.getMessage());
            }
        }

        <T> List<T> list(Function<Reader, T> element) {
            int n = count();
            List<T> out = new ArrayList<>(Math.min(n, data.remaining()));
            for (int i = 0; i < n; i++) {
                out.add(element.apply(this));
            }
            return Collections.unmodifiableList(out);
        }

        <T> Optional<T> optional(Function<Reader, T> inner) {
            int tag = u8();
            if (tag == 0) {
                return Optional.empty();
            }
            if (tag == 1) {
                return Optional.of(inner.apply(this));
            }
            throw new DecodeException("unexpected tag byte for Option");
        }

        void finish() {
            if (data.hasRemaining()) {
                throw new DecodeException("junk data left in buffer after lifting (count: " + data.remaining() + ")");
            }
        }
    }
}
