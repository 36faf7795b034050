package qorvik.params;

/** Parameters of CKM_RC5_ECB and CKM_RC5_MAC: word size in bytes and number of rounds. */
public class RC5Params {
    public int m_wordSize;
    public int m_rounds;

    public RC5Params() {
    }

    public RC5Params(int wordSize, int rounds) {
        m_wordSize = wordSize;
        m_rounds = rounds;
    }
}
