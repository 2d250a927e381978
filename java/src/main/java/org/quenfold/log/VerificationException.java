package org.quenfold.log;

import java.util.Collections;
import java.util.Map;

/**
 * The library rejected its input (call status 1). {@link #getMessage()} is
 * the library's exact one-line reason, for example "root mismatch: recomputed
 * root does not match the expected root"; {@link #kind()} the kind it
 * reports (null only for a message this binding does not know, from a newer
 * library). The extension library reports the kind and its fields itself;
 * for the core library's operations the kind is told from the message and
 * {@link #fields()} is empty.
 */
public final class VerificationException extends QuenfoldException {
    private static final long serialVersionUID = 1L;

    private final ErrorKind kind;
    private final transient Map<String, Object> fields;

    VerificationException(String message, ErrorKind kind, Map<String, Object> fields) {
        super(message);
        this.kind = kind != null ? kind : ErrorKind.of(message);
        this.fields = Collections.unmodifiableMap(fields);
    }

    VerificationException(String message) {
        this(message, null, Map.of());
    }

    public ErrorKind kind() {
        return kind;
    }

    /** The kind's fields by name (u64 and u32 as Long, text as String), in wire order. */
    public Map<String, Object> fields() {
        return fields;
    }
}
