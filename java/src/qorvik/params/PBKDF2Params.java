package qorvik.params;

/**
 * Parameters of CKM_PKCS5_PBKD2. The module receives the password as UTF-8; the salt source
 * data and the pseudo-random function's data may be null.
 */
public class PBKDF2Params {
    /** The salt source, such as CKZ_SALT_SPECIFIED. */
    public int m_saltSource;
    public byte[] m_saltSourceData;
    public int m_iterations;
    /** The pseudo-random function, such as CKP_PKCS5_PBKD2_HMAC_SHA256. */
    public int m_prf;
    public byte[] m_prfData;
    public char[] m_password;

    public PBKDF2Params() {
    }

    public PBKDF2Params(int saltSource, byte[] saltSourceData, int iterations, int prf,
            byte[] prfData, char[] password) {
        m_saltSource = saltSource;
        m_saltSourceData = saltSourceData;
        m_iterations = iterations;
        m_prf = prf;
        m_prfData = prfData;
        m_password = password;
    }
}
