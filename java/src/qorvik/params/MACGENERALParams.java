package qorvik.params;

/** Parameter of the general-length MAC and HMAC mechanisms: the MAC length in bytes. */
public class MACGENERALParams {
    public int m_parameter;

    public MACGENERALParams() {
    }

    public MACGENERALParams(int macLength) {
        m_parameter = macLength;
    }
}
