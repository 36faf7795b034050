package qorvik.params;

/**
 * Parameters of the CBC key derivations by encryption (CKM_AES_CBC_ENCRYPT_DATA with a 16-byte
 * IV, CKM_DES_CBC_ENCRYPT_DATA and CKM_DES3_CBC_ENCRYPT_DATA with an 8-byte IV).
 */
public class CBCEncryptDataParams {
    public byte[] m_iv;
    public byte[] m_data;

    public CBCEncryptDataParams() {
    }

    public CBCEncryptDataParams(byte[] iv, byte[] data) {
        m_iv = iv;
        m_data = data;
    }
}
