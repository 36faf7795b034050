package qorvik.tool;

/** A failure that is not a Cryptoki call's: a missing token or key, an unreadable file. */
final class ToolFailure extends Exception {
    private static final long serialVersionUID = 1L;

    ToolFailure(String message) {
        super(message);
    }

    ToolFailure(String message, Throwable cause) {
        super(message, cause);
    }
}
