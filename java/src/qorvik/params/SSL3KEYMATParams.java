package qorvik.params;

/** Parameters of CKM_SSL3_KEY_AND_MAC_DERIVE. */
public class SSL3KEYMATParams {
    public int macSizeInBits;
    public int keySizeInBits;
    public int ivSizeInBits;
    public Boolean isExport;
    public SSL3RANDOMDATA randomInfo;
    public SSL3KEYMATOUT returnedKeyMaterial;

    public SSL3KEYMATParams() {
    }

    public SSL3KEYMATParams(int macSizeInBits, int keySizeInBits, int ivSizeInBits,
                            boolean isExport, SSL3RANDOMDATA randomInfo,
                            SSL3KEYMATOUT returnedKeyMaterial) {
        this.macSizeInBits = macSizeInBits;
        this.keySizeInBits = keySizeInBits;
        this.ivSizeInBits = ivSizeInBits;
        this.isExport = isExport;
        this.randomInfo = randomInfo;
        this.returnedKeyMaterial = returnedKeyMaterial;
    }
}
