package qorvik.tool.cli;

/** The command's exit statuses. */
public final class ExitCodes {
    public static final int OK = 0;
    /** A Cryptoki call or a step of the command failed. */
    public static final int FAILURE = 1;
    /** The command line was wrong: unknown option, missing or malformed argument. */
    public static final int USAGE = 2;
    /** The signature was checked and does not match the data. */
    public static final int BAD_SIGNATURE = 3;

    private ExitCodes() {
    }
}
