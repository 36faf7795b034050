package qorvik.params;

/** Parameters of CKM_ECDH1_DERIVE and CKM_ECDH1_COFACTOR_DERIVE. */
public class ECDH1DeriveParams {
    /** The key derivation function, such as CKD_NULL. */
    public int m_kdf;
    /** May be null: no shared data. */
    public byte[] m_sharedData;
    /** The other party's public point. */
    public byte[] m_publicData;

    public ECDH1DeriveParams() {
    }

    public ECDH1DeriveParams(int kdf, byte[] sharedData, byte[] publicData) {
        m_kdf = kdf;
        m_sharedData = sharedData;
        m_publicData = publicData;
    }
}
