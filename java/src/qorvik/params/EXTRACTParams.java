package qorvik.params;

/** Parameter of CKM_EXTRACT_KEY_FROM_KEY: index of the first bit to extract. */
public class EXTRACTParams {
    public int parameter;

    public EXTRACTParams() {
    }

    public EXTRACTParams(int bitIndex) {
        parameter = bitIndex;
    }
}
