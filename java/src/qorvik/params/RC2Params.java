package qorvik.params;

/** Parameter of CKM_RC2_ECB and CKM_RC2_MAC: the effective key bits. */
public class RC2Params {
    public int parameter;

    public RC2Params() {
    }

    public RC2Params(int effectiveBits) {
        parameter = effectiveBits;
    }
}
