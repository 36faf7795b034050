package zentrel.keychain;

/** A keychain, named by its path. */
public class KeyChain {
    /** The keychain's path. */
    public String m_sPath;
    /** The keychain's PIN for signing, or null. */
    public String m_sPin;

    public KeyChain(String path) {
        m_sPath = path;
    }

    public String getPath() {
        return m_sPath;
    }

    public void setPin(String pin) {
        m_sPin = pin;
    }

    /**
     * The signing identities of this keychain, or null when it has none or cannot be opened. Each
     * holds a reference to its identity until {@link #ReleaseIdentityList} or {@link
     * KeyChainIdentity#Release()} drops it.
     */
    public native KeyChainIdentity[] GetIdentityList();

    /** Drops one reference of every identity in the array. */
    public native void ReleaseIdentityList(KeyChainIdentity[] identities);

    @Override
    public String toString() {
        return "KeyChain[" + m_sPath + "]";
    }
}
