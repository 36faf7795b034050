package zentrel.keychain;

/** A keychain operation that failed: where it failed, the system's status and a message. */
public class KeyChainException extends Exception {
    private static final long serialVersionUID = 1L;

    private final String m_sWhere;
    private final int m_iStatus;

    public KeyChainException(String where, int status, String message) {
        super(message);
        m_sWhere = where;
        m_iStatus = status;
    }

    /** The operation that failed. */
    public String getWhere() {
        return m_sWhere;
    }

    /** The system's status code. */
    public int getStatus() {
        return m_iStatus;
    }

    @Override
    public String toString() {
        return m_sWhere + ": " + getMessage() + " (status " + m_iStatus + ")";
    }
}
