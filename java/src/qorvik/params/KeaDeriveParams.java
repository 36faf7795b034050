package qorvik.params;

/** Parameters of CKM_KEA_KEY_DERIVE; random B is as long as random A. */
public class KeaDeriveParams {
    public Boolean isSender;
    public byte[] randomA;
    public byte[] randomB;
    public byte[] publicData;

    public KeaDeriveParams() {
    }

    public KeaDeriveParams(boolean isSender, byte[] randomA, byte[] randomB, byte[] publicData) {
        this.isSender = isSender;
        this.randomA = randomA;
        this.randomB = randomB;
        this.publicData = publicData;
    }
}
