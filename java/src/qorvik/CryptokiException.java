package qorvik;

/**
 * Failure of a Cryptoki call made through the native bridge: the name of the failing
 * operation, the numeric code (a CK_RV, or 5 for the bridge's own failures) and a text.
 */
public class CryptokiException extends Exception {
    private static final long serialVersionUID = 1L;

    private final String functionName;
    private final int code;

    public CryptokiException(String functionName, int code, String message) {
        super(message);
        this.functionName = functionName;
        this.code = code;
    }

    /** The operation that failed, such as "J_Encrypt". */
    public String getFunctionName() {
        return functionName;
    }

    /** The CK_RV the module returned, or CKR_GENERAL_ERROR (5) for a failure of the bridge. */
    public int getCode() {
        return code;
    }

    @Override
    public String toString() {
        return getClass().getName() + ": " + functionName + " failed (0x"
                + Integer.toHexString(code) + "): " + getMessage();
    }
}
