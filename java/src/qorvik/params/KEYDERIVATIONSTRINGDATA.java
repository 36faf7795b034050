package qorvik.params;

/** Data of the concatenation and XOR key derivations (CKM_CONCATENATE_*, CKM_XOR_BASE_AND_DATA). */
public class KEYDERIVATIONSTRINGDATA {
    public byte[] data;

    public KEYDERIVATIONSTRINGDATA() {
    }

    public KEYDERIVATIONSTRINGDATA(byte[] data) {
        this.data = data;
    }
}
