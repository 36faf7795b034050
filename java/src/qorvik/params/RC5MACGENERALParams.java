package qorvik.params;

/** Parameters of CKM_RC5_MAC_GENERAL: word size, rounds and MAC length in bytes. */
public class RC5MACGENERALParams {
    public int m_wordSize;
    public int m_rounds;
    public int m_macLength;

    public RC5MACGENERALParams() {
    }

    public RC5MACGENERALParams(int wordSize, int rounds, int macLength) {
        m_wordSize = wordSize;
        m_rounds = rounds;
        m_macLength = macLength;
    }
}
