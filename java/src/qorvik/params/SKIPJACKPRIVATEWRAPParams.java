package qorvik.params;

/** Parameters of CKM_SKIPJACK_PRIVATE_WRAP; prime P is as long as base G. */
public class SKIPJACKPRIVATEWRAPParams {
    public byte[] m_password;
    public byte[] m_publicData;
    public byte[] m_randomA;
    public byte[] m_primeP;
    public byte[] m_baseG;
    public byte[] m_subPrimeQ;

    public SKIPJACKPRIVATEWRAPParams() {
    }

    public SKIPJACKPRIVATEWRAPParams(byte[] password, byte[] publicData, byte[] randomA,
                                     byte[] primeP, byte[] baseG, byte[] subPrimeQ) {
        m_password = password;
        m_publicData = publicData;
        m_randomA = randomA;
        m_primeP = primeP;
        m_baseG = baseG;
        m_subPrimeQ = subPrimeQ;
    }
}
