package qorvik.params;

/** Parameters of CKM_RC5_CBC and CKM_RC5_CBC_PAD: word size, rounds and an IV of any length. */
public class RC5CBCParams {
    public int m_wordSize;
    public int m_rounds;
    public byte[] m_iv;

    public RC5CBCParams() {
    }

    public RC5CBCParams(int wordSize, int rounds, byte[] iv) {
        m_wordSize = wordSize;
        m_rounds = rounds;
        m_iv = iv;
    }
}
