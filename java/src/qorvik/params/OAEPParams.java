package qorvik.params;

/** Parameters of CKM_RSA_PKCS_OAEP: hash, mask generation function and encoding source. */
public class OAEPParams {
    public int m_hashAlg;
    public int m_mgf;
    public int m_source;
    /** May be null: no source data. */
    public byte[] m_sourceData;

    public OAEPParams() {
    }

    public OAEPParams(int hashAlg, int mgf, int source, byte[] sourceData) {
        m_hashAlg = hashAlg;
        m_mgf = mgf;
        m_source = source;
        m_sourceData = sourceData;
    }
}
