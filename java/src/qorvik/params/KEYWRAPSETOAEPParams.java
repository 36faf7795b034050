package qorvik.params;

/** Parameters of CKM_KEY_WRAP_SET_OAEP: the block contents byte and the concatenated data X. */
public class KEYWRAPSETOAEPParams {
    public byte m_bBC;
    public byte[] m_xData;

    public KEYWRAPSETOAEPParams() {
    }

    public KEYWRAPSETOAEPParams(byte bBC, byte[] xData) {
        m_bBC = bBC;
        m_xData = xData;
    }
}
