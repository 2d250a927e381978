package org.quenfold.log;

import com.sun.jna.Memory;
import com.sun.jna.Pointer;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.function.Consumer;
import java.util.function.Function;

/**
 * One call of an export: the caller's RustCallStatus (a zeroed per-thread
 * record), the buffers made for its arguments and the handles it borrows.
 * Used as {@code try (Call c = Call.core()) { ... }} by the generated code:
 * buffers made before the export is reached are released by close() (the
 * export takes over the others), borrowed handles are given back, and
 * check() turns a non-zero status into the exception it stands for.
 */
final class Call implements AutoCloseable {
    // RustCallStatus: int8 code, then the RustBuffer error_buf at offset 8.
    private static final int STATUS_SIZE = 32;
    private static final ThreadLocal<Memory> STATUS = ThreadLocal.withInitial(() -> new Memory(STATUS_SIZE));
    // The argument records of the thread's calls, by position, reused: JNA
    // gives each record native memory of its own (with a cleaner), which
    // costs more than the rest of a buffer argument. A call's arguments are
    // made one after another and consumed by its export before the thread
    // makes another call's.
    private static final ThreadLocal<List<RustBuffer.ByValue>> ARGUMENTS = ThreadLocal.withInitial(ArrayList::new);

    private final Libraries.Boundary boundary;
    private final Memory status;
    private List<RustBuffer.ByValue> pending;
    private List<Handle> borrowed;
    private boolean handedOver;

    private Call(Libraries.Boundary boundary) {
        this.boundary = boundary;
        this.status = STATUS.get();
        status.setByte(0, (byte) 0);
    }

    static Call core() {
        return new Call(Libraries.core());
    }

    static Call extension() {
        return new Call(Libraries.extension());
    }

    Pointer status() {
        return status;
    }

    /** One serialized argument, written by {@code value} into the thread's writer. */
    RustBuffer.ByValue buffer(Consumer<Codec.Writer> value) {
        Codec.Writer w = Codec.Writer.reused();
        value.accept(w);
        return buffer(w.array(), w.size());
    }

    /** A string argument: its raw UTF-8. */
    RustBuffer.ByValue text(String value) {
        Codec.Writer w = Codec.Writer.reused();
        w.utf8(value);
        return buffer(w.array(), w.size());
    }

    /** A library-owned copy of {@code data}, for one argument. */
    RustBuffer.ByValue buffer(byte[] data) {
        return buffer(data, data.length);
    }

    private RustBuffer.ByValue buffer(byte[] data, int length) {
        RustBuffer.ByValue allocated = boundary.alloc(length, status);
        checkStatus();
        List<RustBuffer.ByValue> records = ARGUMENTS.get();
        int position = pending == null ? 0 : pending.size();
        if (position == records.size()) {
            records.add(new RustBuffer.ByValue());
        }
        RustBuffer.ByValue arg = records.get(position);
        arg.capacity = allocated.capacity;
        arg.len = allocated.len;
        arg.data = allocated.data;
        if (length > 0) {
            arg.data.write(0, data, 0, length);
        }
        if (pending == null) {
            pending = new ArrayList<>(4);
        }
        pending.add(arg);
        return arg;
    }

    /** The handle of {@code object}, kept from release until this call ends. */
    long borrow(Handle object) {
        long handle = object.borrow();
        if (borrowed == null) {
            borrowed = new ArrayList<>(2);
        }
        borrowed.add(object);
        return handle;
    }

    /** After the export returned: its status, thrown when not 0. */
    void check() {
        handedOver = true;
        checkStatus();
    }

    int scalar(int value) {
        check();
        return value;
    }

    long scalar(long value) {
        check();
        return value;
    }

    long handle(long value) {
        check();
        return value;
    }

    /** A result buffer, copied out, released, then decoded exactly. */
    <T> T lift(RustBuffer.ByValue out, Function<Codec.Reader, T> read) {
        check();
        Codec.Reader r = new Codec.Reader(take(out));
        try {
            T value = read.apply(r);
            r.finish();
            return value;
        } catch (Codec.DecodeException e) {
            throw new InternalFailureException("undecodable result: " + e.getMessage());
        }
    }

    /** A string result: its raw UTF-8. */
    String liftString(RustBuffer.ByValue out) {
        check();
        return new String(take(out), StandardCharsets.UTF_8);
    }

    private byte[] take(RustBuffer out) {
        return boundary.take(out.capacity, out.len, out.data);
    }

    private void checkStatus() {
        byte code = status.getByte(0);
        if (code == 0) {
            return;
        }
        byte[] payload = boundary.take(status.getLong(8), status.getLong(16), status.getPointer(24));
        status.setByte(0, (byte) 0);
        throw boundary.failure(code, payload);
    }

    @Override
    public void close() {
        if (pending != null && !handedOver) {
            for (RustBuffer.ByValue b : pending) {
                boundary.take(b.capacity, b.len, b.data);
            }
        }
        if (borrowed != null) {
            for (Handle h : borrowed) {
                h.giveBack();
            }
        }
    }
}
