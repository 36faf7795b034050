package qorvik.params;

/** Parameters of the RSA-PSS mechanisms (CKM_RSA_PKCS_PSS, CKM_SHA*_RSA_PKCS_PSS). */
public class PSSParams {
    /** The hash mechanism, such as CKM_SHA256. */
    public int m_hashAlg;
    /** The mask generation function, such as CKG_MGF1_SHA256. */
    public int m_mgf;
    /** The salt length in bytes. */
    public int m_sLen;

    public PSSParams() {
    }

    public PSSParams(int hashAlg, int mgf, int sLen) {
        m_hashAlg = hashAlg;
        m_mgf = mgf;
        m_sLen = sLen;
    }
}
