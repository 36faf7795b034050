package qorvik;

/** A Cryptoki version number; built by the bridge with the minor number first. */
public class Version {
    public final int m_majorVersion;
    public final int m_minorVersion;

    public Version(int minor, int major) {
        this.m_minorVersion = minor;
        this.m_majorVersion = major;
    }

    public int getMajor() {
        return m_majorVersion;
    }

    public int getMinor() {
        return m_minorVersion;
    }

    @Override
    public boolean equals(Object o) {
        return o instanceof Version v
                && v.m_majorVersion == m_majorVersion && v.m_minorVersion == m_minorVersion;
    }

    @Override
    public int hashCode() {
        return m_majorVersion * 256 + m_minorVersion;
    }

    @Override
    public String toString() {
        return m_majorVersion + "." + m_minorVersion;
    }
}
