package qorvik;

/** General information about the loaded Cryptoki module and the bridge. */
public class Info {
    private final Version cryptokiVersion;
    private final int flags;
    private final String libraryDescription;
    private final Version libraryVersion;
    private final String manufacturerID;

    /**
     * The two texts are the module's 32-character fields with their blank padding;
     * {@code libraryVersion} is the bridge's own version, not the module's.
     */
    public Info(Version cryptokiVersion, int flags, String libraryDescription,
                Version libraryVersion, String manufacturerID) {
        this.cryptokiVersion = cryptokiVersion;
        this.flags = flags;
        this.libraryDescription = libraryDescription;
        this.libraryVersion = libraryVersion;
        this.manufacturerID = manufacturerID;
    }

    public Version getCryptokiVersion() {
        return cryptokiVersion;
    }

    public int getFlags() {
        return flags;
    }

    public String getLibraryDescription() {
        return libraryDescription;
    }

    public Version getLibraryVersion() {
        return libraryVersion;
    }

    public String getManufacturerID() {
        return manufacturerID;
    }
}
