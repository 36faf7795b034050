package qorvik.provider;

import java.io.NotSerializableException;
import java.io.ObjectStreamException;
import java.security.Key;

/**
 * A key that stays on the token: the provider's operations use its handle. Its value leaves the
 * token only for a secret key that is extractable and not sensitive, through {@link #getEncoded}.
 */
abstract class TokenKey implements Key {
    private static final long serialVersionUID = 1L;

    final transient Token token;
    final transient long handle;
    /** The CKK_ key type. */
    final transient int keyType;
    private final String algorithm;
    /** Whether the key asks for its PIN on each use (CKA_ALWAYS_AUTHENTICATE). */
    final transient boolean alwaysAuthenticate;

    TokenKey(Token token, long handle, int keyType, String algorithm, boolean alwaysAuthenticate) {
        this.token = token;
        this.handle = handle;
        this.keyType = keyType;
        this.algorithm = algorithm;
        this.alwaysAuthenticate = alwaysAuthenticate;
    }

    @Override
    public String getAlgorithm() {
        return algorithm;
    }

    @Override
    public String getFormat() {
        return null;
    }

    @Override
    public byte[] getEncoded() {
        return null;
    }

    /** True when the key is an object of {@code t}'s token, usable by its sessions. */
    boolean belongsTo(Token t) {
        return token == t || (token.cryptoki == t.cryptoki
                && token.slot.getSlotID() == t.slot.getSlotID());
    }

    @Override
    public String toString() {
        return getClass().getSimpleName() + "[" + algorithm + ", object " + handle + " of "
                + token.displayName + "]";
    }

    /** A handle means nothing outside this process. */
    protected Object writeReplace() throws ObjectStreamException {
        throw new NotSerializableException("a key of the token cannot be serialised");
    }
}
