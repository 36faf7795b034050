package qorvik.params;

/** Parameters of CKM_AES_GCM: the IV (any length), additional authenticated data and tag size. */
public class GCMParams {
    public byte[] m_iv;
    /** May be null: no additional authenticated data. */
    public byte[] m_aad;
    public int m_tagBits;

    public GCMParams() {
    }

    public GCMParams(byte[] iv, byte[] aad, int tagBits) {
        m_iv = iv;
        m_aad = aad;
        m_tagBits = tagBits;
    }
}
