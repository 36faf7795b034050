package qorvik;

/** Key-size range and CKF_ flags of one mechanism of a slot. */
public class MechanismInfo {
    private final int minKeySize;
    private final int maxKeySize;
    private final int flags;

    public MechanismInfo(int minKeySize, int maxKeySize, int flags) {
        this.minKeySize = minKeySize;
        this.maxKeySize = maxKeySize;
        this.flags = flags;
    }

    public int getMinKeySize() {
        return minKeySize;
    }

    public int getMaxKeySize() {
        return maxKeySize;
    }

    public int getFlags() {
        return flags;
    }
}
