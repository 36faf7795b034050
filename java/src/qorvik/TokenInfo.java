package qorvik;

/**
 * Description of the token in a slot. Counts the module reports as unavailable arrive as -1;
 * texts keep the blank padding of the module's fields.
 */
public class TokenInfo {
    private final String label;
    private final String manufacturerID;
    private final String model;
    private final String serialNumber;
    private final int flags;
    private final int maxSessionCount;
    private final int maxRwSessionCount;
    private final int rwSessionCount;
    private final int maxPinLen;
    private final int minPinLen;
    private final int totalPublicMemory;
    private final int freePublicMemory;
    private final int totalPrivateMemory;
    private final int freePrivateMemory;
    private final Version hardwareVersion;
    private final Version firmwareVersion;
    private final String utcTime;

    public TokenInfo(String label, String manufacturerID, String model, String serialNumber,
                     int flags, int maxSessionCount, int maxRwSessionCount, int rwSessionCount,
                     int maxPinLen, int minPinLen, int totalPublicMemory, int freePublicMemory,
                     int totalPrivateMemory, int freePrivateMemory,
                     Version hardwareVersion, Version firmwareVersion, String utcTime) {
        this.label = label;
        this.manufacturerID = manufacturerID;
        this.model = model;
        this.serialNumber = serialNumber;
        this.flags = flags;
        this.maxSessionCount = maxSessionCount;
        this.maxRwSessionCount = maxRwSessionCount;
        this.rwSessionCount = rwSessionCount;
        this.maxPinLen = maxPinLen;
        this.minPinLen = minPinLen;
        this.totalPublicMemory = totalPublicMemory;
        this.freePublicMemory = freePublicMemory;
        this.totalPrivateMemory = totalPrivateMemory;
        this.freePrivateMemory = freePrivateMemory;
        this.hardwareVersion = hardwareVersion;
        this.firmwareVersion = firmwareVersion;
        this.utcTime = utcTime;
    }

    public String getLabel() {
        return label;
    }

    public String getManufacturerID() {
        return manufacturerID;
    }

    public String getModel() {
        return model;
    }

    public String getSerialNumber() {
        return serialNumber;
    }

    public int getFlags() {
        return flags;
    }

    public int getMaxSessionCount() {
        return maxSessionCount;
    }

    public int getMaxRwSessionCount() {
        return maxRwSessionCount;
    }

    public int getRwSessionCount() {
        return rwSessionCount;
    }

    public int getMaxPinLen() {
        return maxPinLen;
    }

    public int getMinPinLen() {
        return minPinLen;
    }

    public int getTotalPublicMemory() {
        return totalPublicMemory;
    }

    public int getFreePublicMemory() {
        return freePublicMemory;
    }

    public int getTotalPrivateMemory() {
        return totalPrivateMemory;
    }

    public int getFreePrivateMemory() {
        return freePrivateMemory;
    }

    public Version getHardwareVersion() {
        return hardwareVersion;
    }

    public Version getFirmwareVersion() {
        return firmwareVersion;
    }

    public String getUtcTime() {
        return utcTime;
    }
}
