package qorvik.params;

/** Parameters of CKM_AES_CTR: how many bits of the counter block count, and the block itself. */
public class AESCTRParams {
    public int m_counterBits;
    /** The initial counter block: exactly 16 bytes. */
    public byte[] m_counterBlock;

    public AESCTRParams() {
    }

    public AESCTRParams(int counterBits, byte[] counterBlock) {
        m_counterBits = counterBits;
        m_counterBlock = counterBlock;
    }
}
