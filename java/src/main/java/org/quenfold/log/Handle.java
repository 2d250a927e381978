package org.quenfold.log;

import java.lang.ref.Cleaner;

/**
 * Base of the extension's object classes: one handle of the extension
 * library. Objects are immutable and may be shared between threads.
 *
 * <p>A call borrows the handle for its whole duration (the library also takes
 * its own reference at entry). {@link #close()} may come from any thread at
 * any time: it refuses new calls at once, and the handle is released when
 * the last call in flight gives it back, never under a running call. An
 * object that is never closed is released when it is collected.
 */
public abstract class Handle implements AutoCloseable {
    private static final Cleaner CLEANER = Cleaner.create();

    /** Releases one handle through its object's free export. */
    interface Release {
        void release(long handle);
    }

    /** The handle's state, shared with the cleaner: it must not refer to the object. */
    private static final class State implements Runnable {
        private final String type;
        private final Release release;
        private long handle;
        private int inFlight;
        private boolean closed;

        State(String type, long handle, Release release) {
            this.type = type;
            this.handle = handle;
            this.release = release;
        }

        synchronized long borrow() {
            if (closed) {
                throw new IllegalStateException("this " + type + " was closed");
            }
            inFlight++;
            return handle;
        }

        void giveBack() {
            long free;
            synchronized (this) {
                inFlight--;
                free = takeIfIdle();
            }
            releaseNow(free);
        }

        @Override
        public void run() {
            long free;
            synchronized (this) {
                closed = true;
                free = takeIfIdle();
            }
            releaseNow(free);
        }

        private long takeIfIdle() {
            if (!closed || inFlight > 0 || handle == 0) {
                return 0;
            }
            long h = handle;
            handle = 0;
            return h;
        }

        private void releaseNow(long h) {
            if (h != 0) {
                release.release(h);
            }
        }
    }

    private final State state;
    private final Cleaner.Cleanable cleanable;

    Handle(String type, long handle, Release release) {
        this.state = new State(type, handle, release);
        this.cleanable = CLEANER.register(this, state);
    }

    long borrow() {
        return state.borrow();
    }

    void giveBack() {
        state.giveBack();
    }

    /** Releases the handle (once its calls in flight have returned); closing twice releases once. */
    @Override
    public void close() {
        cleanable.clean();
    }
}
