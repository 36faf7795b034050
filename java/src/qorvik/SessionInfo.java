package qorvik;

/** State of an open session: its slot, CKS_ state, CKF_ flags and the device error code. */
public class SessionInfo {
    private final int slotID;
    private final int state;
    private final int flags;
    private final int deviceError;

    public SessionInfo(int slotID, int state, int flags, int deviceError) {
        this.slotID = slotID;
        this.state = state;
        this.flags = flags;
        this.deviceError = deviceError;
    }

    public int getSlotID() {
        return slotID;
    }

    public int getState() {
        return state;
    }

    public int getFlags() {
        return flags;
    }

    public int getDeviceError() {
        return deviceError;
    }
}
