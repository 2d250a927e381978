package org.quenfold.log;

import com.sun.jna.Pointer;
import com.sun.jna.Structure;

/**
 * The libraries' owned buffer: capacity, length and data pointer (C layout,
 * 24 bytes). Every non-scalar argument and result crosses the boundary in one,
 * by value.
 */
@Structure.FieldOrder({"capacity", "len", "data"})
public class RustBuffer extends Structure {
    public long capacity;
    public long len;
    public Pointer data;

    public RustBuffer() {}

    public RustBuffer(Pointer memory) {
        super(memory);
    }

    /**
     * The by-value form. The fields are copied to and from native memory
     * directly instead of through JNA's reflective field walk, and the
     * Pointer constructor lets JNA wrap a returned value without looking for
     * a constructor that is not there: together they take a returned buffer
     * from about 10 µs to about 1 µs. A returned instance wraps memory that
     * JNA releases after the call, so it is read once and never passed back;
     * arguments are instances of their own.
     */
    public static final class ByValue extends RustBuffer implements Structure.ByValue {
        public ByValue() {}

        public ByValue(Pointer memory) {
            super(memory);
        }

        @Override
        public void autoRead() {
            Pointer p = getPointer();
            capacity = p.getLong(0);
            len = p.getLong(8);
            data = p.getPointer(16);
        }

        @Override
        public void autoWrite() {
            Pointer p = getPointer();
            p.setLong(0, capacity);
            p.setLong(8, len);
            p.setPointer(16, data);
        }
    }
}
