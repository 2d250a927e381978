package org.quenfold.log;

/** Base of every failure this binding reports. */
public class QuenfoldException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    QuenfoldException(String message) {
        super(message);
    }
}
