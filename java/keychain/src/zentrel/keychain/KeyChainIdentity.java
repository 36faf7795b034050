package zentrel.keychain;

/** A signing identity of a keychain: a private key with its certificate. */
public class KeyChainIdentity {
    /** Selector of {@link #getAttribute(int)} for the certificate's encoded bytes. */
    public static final int CERTIFICATE = 256;
    /** Selector of {@link #getAttribute(int)} for the key's print name. */
    public static final int PRINT_NAME = 1;

    /** The identity's reference; 0 when this object holds none. */
    public long m_hIdentity;
    /** The keychain the identity belongs to. */
    public KeyChain m_pKeyChain;

    public KeyChainIdentity(long identity, KeyChain keyChain) {
        m_hIdentity = identity;
        m_pKeyChain = keyChain;
    }

    /**
     * Signs the data. The names are "SHA" (the data is already a SHA-1 digest) or "" for the
     * digest, and "RSA" or "SHA1withRSA" for the signature; case does not matter.
     */
    public native byte[] Sign(byte[] data, String digestAlgorithm, String signatureAlgorithm)
            throws KeyChainException;

    /** Not supported: always throws. */
    public native int Verify(byte[] data, byte[] signature) throws KeyChainException;

    /** The certificate's encoded bytes (selector 256) or an attribute of the key; null if none. */
    public native byte[] getAttribute(int selector);

    /** The identity's name, or null. */
    public native String getAlias();

    /** Takes one more reference to the identity. */
    public native void Lock();

    /** Drops one reference; the last one sets {@link #m_hIdentity} to 0. */
    public native void Release();

    public KeyChain getKeyChain() {
        return m_pKeyChain;
    }
}
