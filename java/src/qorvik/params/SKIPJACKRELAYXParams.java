package qorvik.params;

/** Parameters of CKM_SKIPJACK_RELAYX: the old wrapping and the new one. */
public class SKIPJACKRELAYXParams {
    public byte[] m_oldWrappedX;
    public byte[] m_oldPassword;
    public byte[] m_oldPublicData;
    public byte[] m_oldRandomA;
    public byte[] m_newPassword;
    public byte[] m_newPublicData;
    public byte[] m_newRandomA;

    public SKIPJACKRELAYXParams() {
    }

    public SKIPJACKRELAYXParams(byte[] oldWrappedX, byte[] oldPassword, byte[] oldPublicData,
                                byte[] oldRandomA, byte[] newPassword, byte[] newPublicData,
                                byte[] newRandomA) {
        m_oldWrappedX = oldWrappedX;
        m_oldPassword = oldPassword;
        m_oldPublicData = oldPublicData;
        m_oldRandomA = oldRandomA;
        m_newPassword = newPassword;
        m_newPublicData = newPublicData;
        m_newRandomA = newRandomA;
    }
}
