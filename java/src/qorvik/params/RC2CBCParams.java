package qorvik.params;

/** Parameters of CKM_RC2_CBC and CKM_RC2_CBC_PAD: effective key bits and an 8-byte IV. */
public class RC2CBCParams {
    public int m_effectiveBits;
    public byte[] m_iv;

    public RC2CBCParams() {
    }

    public RC2CBCParams(int effectiveBits, byte[] iv) {
        m_effectiveBits = effectiveBits;
        m_iv = iv;
    }
}
