package qorvik.params;

/** Key handles and IVs of CKM_SSL3_KEY_AND_MAC_DERIVE; the IV arrays may be null. */
public class SSL3KEYMATOUT {
    public int hClientMacSecret;
    public int hServerMacSecret;
    public int hClientKey;
    public int hServerKey;
    public byte[] ivClient;
    public byte[] ivServer;

    public SSL3KEYMATOUT() {
    }

    public SSL3KEYMATOUT(byte[] ivClient, byte[] ivServer) {
        this.ivClient = ivClient;
        this.ivServer = ivServer;
    }
}
