package qorvik;

/** Defective stand-in: the constructor takes one packed long instead of (minor, major). */
public class Version {
    public final int m_majorVersion;
    public final int m_minorVersion;

    public Version(long packed) {
        this.m_majorVersion = (int) (packed >>> 8) & 0xFF;
        this.m_minorVersion = (int) packed & 0xFF;
    }
}
