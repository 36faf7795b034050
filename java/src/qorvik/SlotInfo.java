package qorvik;

/** Description of one slot; texts keep the blank padding of the module's fields. */
public class SlotInfo {
    private final String slotDescription;
    private final String manufacturerID;
    private final int flags;
    private final Version hardwareVersion;
    private final Version firmwareVersion;

    public SlotInfo(String slotDescription, String manufacturerID, int flags,
                    Version hardwareVersion, Version firmwareVersion) {
        this.slotDescription = slotDescription;
        this.manufacturerID = manufacturerID;
        this.flags = flags;
        this.hardwareVersion = hardwareVersion;
        this.firmwareVersion = firmwareVersion;
    }

    public String getSlotDescription() {
        return slotDescription;
    }

    public String getManufacturerID() {
        return manufacturerID;
    }

    public int getFlags() {
        return flags;
    }

    public Version getHardwareVersion() {
        return hardwareVersion;
    }

    public Version getFirmwareVersion() {
        return firmwareVersion;
    }
}
