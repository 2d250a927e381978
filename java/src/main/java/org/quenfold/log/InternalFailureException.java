package org.quenfold.log;

/**
 * The call failed inside the library (call status 2: an argument that could
 * not be lifted, a broken buffer invariant, another internal fault), or a
 * result could not be decoded. The message is the library's raw text.
 */
public final class InternalFailureException extends QuenfoldException {
    private static final long serialVersionUID = 1L;

    InternalFailureException(String message) {
        super(message);
    }
}
