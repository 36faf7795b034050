package qorvik.params;

/**
 * Parameters of the password-based encryption mechanisms (CKM_PBE_*). The module receives
 * one byte per character; the init vector may be null.
 */
public class PBEParams {
    public char[] m_initVector;
    public char[] m_password;
    public char[] m_salt;
    public int m_iteration;

    public PBEParams() {
    }

    public PBEParams(char[] initVector, char[] password, char[] salt, int iteration) {
        m_initVector = initVector;
        m_password = password;
        m_salt = salt;
        m_iteration = iteration;
    }
}
