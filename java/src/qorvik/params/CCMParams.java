package qorvik.params;

/** Parameters of CKM_AES_CCM: data length, nonce, additional authenticated data and MAC length. */
public class CCMParams {
    public int m_dataLen;
    public byte[] m_nonce;
    /** May be null: no additional authenticated data. */
    public byte[] m_aad;
    public int m_macLen;

    public CCMParams() {
    }

    public CCMParams(int dataLen, byte[] nonce, byte[] aad, int macLen) {
        m_dataLen = dataLen;
        m_nonce = nonce;
        m_aad = aad;
        m_macLen = macLen;
    }
}
