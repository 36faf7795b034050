package qorvik.tool.cli;

import qorvik.CryptokiException;

/**
 * How a failed call reads on the command's standard error: the operation, the code and its name
 * ("J_Login failed: 0xA0 CKR_PIN_INCORRECT"), or, when the bridge itself refused the call, the
 * operation and the bridge's text ("J_Sign failed: Array offset or length out of range").
 */
public final class Failures {
    /** The code under which the bridge reports its own failures, with a text of its own. */
    private static final int CKR_GENERAL_ERROR = 0x5;
    /** The bridge's description of CKR_GENERAL_ERROR when a module returned it. */
    private static final String GENERAL_ERROR_TEXT = "GENERAL ERROR";

    private Failures() {
    }

    public static String describe(CryptokiException e) {
        return e.getFunctionName() + " failed: " + (isBridgeFailure(e)
                ? e.getMessage() : describeCode(e.getCode()));
    }

    /** "0xA0 CKR_PIN_INCORRECT", "0x63 (unknown)", "0x80000001 CKR_VENDOR_DEFINED+0x1". */
    public static String describeCode(int code) {
        return Names.hex(code) + " " + Names.returnValue(code);
    }

    /**
     * True when the failure is the bridge's own (a range check, a conversion, a module that
     * could not be loaded) rather than a code a module returned: the bridge then reports
     * CKR_GENERAL_ERROR with its own text instead of the code's description.
     */
    static boolean isBridgeFailure(CryptokiException e) {
        String text = e.getMessage();
        return e.getCode() == CKR_GENERAL_ERROR && text != null
                && !text.trim().equals(GENERAL_ERROR_TEXT);
    }
}
