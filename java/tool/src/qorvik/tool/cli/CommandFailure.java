package qorvik.tool.cli;

/**
 * A failure that is not a Cryptoki call's: no such token or key, an unreadable file, a PIN that
 * could not be read. Its message is shown after "kelvane: " and the command exits with 1.
 */
public class CommandFailure extends Exception {
    private static final long serialVersionUID = 1L;

    public CommandFailure(String message) {
        super(message);
    }

    public CommandFailure(String message, Throwable cause) {
        super(message, cause);
    }
}
