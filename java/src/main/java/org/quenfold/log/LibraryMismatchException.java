package org.quenfold.log;

/**
 * A shared library is not the interface this binding was generated for (its
 * contract version, a checksum, a metadata item or a symbol differs), or
 * cannot be found or loaded.
 */
public final class LibraryMismatchException extends QuenfoldException {
    private static final long serialVersionUID = 1L;

    LibraryMismatchException(String message) {
        super(message);
    }
}
