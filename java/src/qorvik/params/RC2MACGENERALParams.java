package qorvik.params;

/** Parameters of CKM_RC2_MAC_GENERAL: effective key bits and MAC length in bytes. */
public class RC2MACGENERALParams {
    public int m_effectiveBits;
    public int m_macLength;

    public RC2MACGENERALParams() {
    }

    public RC2MACGENERALParams(int effectiveBits, int macLength) {
        m_effectiveBits = effectiveBits;
        m_macLength = macLength;
    }
}
