package qorvik.provider;

import java.lang.ref.Cleaner;
import java.security.InvalidKeyException;
import java.security.Key;

import javax.crypto.spec.SecretKeySpec;

/**
 * The key an engine works with, as a handle of its token. A key of another provider is imported
 * once and kept while the engine is initialised again with the same key and purpose, so that an
 * engine re-initialised per message costs no object creation; the import is destroyed when the
 * engine takes another key or is collected.
 */
final class HeldKey {
    private final Object owner;
    private Key key;
    private int purpose;
    private long handle;
    private Cleaner.Cleanable release;

    /** {@code owner} is the engine: the import ends at the latest when it is collected. */
    HeldKey(Object owner) {
        this.owner = owner;
    }

    /** The handle of {@code key} on {@code token} for {@code purpose} (a CKA_ flag). */
    long handle(Token token, Key key, int purpose) throws InvalidKeyException {
        if (this.key != null && purpose == this.purpose && sameKey(this.key, key)) {
            return handle;
        }
        release();
        TokenKeys.Use use = TokenKeys.use(token, key, purpose);
        this.release = Token.CLEANER.register(owner, use::close);
        this.key = key;
        this.purpose = purpose;
        this.handle = use.handle;
        return handle;
    }

    /** Destroys the import, if there is one; the next {@link #handle} imports again. */
    void release() {
        if (release != null) {
            release.clean();
            release = null;
        }
        key = null;
    }

    /** The same object, or a SecretKeySpec (whose value never changes) of the same value. */
    static boolean sameKey(Key held, Key given) {
        return held == given || (given instanceof SecretKeySpec && given.equals(held));
    }
}
