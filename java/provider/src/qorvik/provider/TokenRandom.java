package qorvik.provider;

import java.security.ProviderException;
import java.security.SecureRandomSpi;

import qorvik.CryptokiException;

/**
 * SecureRandom "PKCS11": the token's generator, one native call per request on a pooled session.
 * Safe for several threads at once (each request borrows its own session). A seed is handed to the
 * token when it takes seeds; a token that refuses them keeps its own and the seed is ignored.
 */
final class TokenRandom extends SecureRandomSpi {
    private static final long serialVersionUID = 1L;
    private static final byte[] NOTHING = new byte[0];

    private final transient Token token;
    /** Set once the token has refused a seed: later seeds are ignored without asking again. */
    private volatile boolean seedRefused;

    TokenRandom(Token token, String algorithm) {
        this.token = token;
    }

    @Override
    protected void engineNextBytes(byte[] bytes) {
        if (bytes.length == 0) {
            return;
        }
        try {
            token.call(s -> {
                s.nat.J_GenerateRandom(s.handle, false, null, bytes, 0, bytes.length);
                return null;
            });
        } catch (CryptokiException e) {
            throw Failures.provider(e);
        }
    }

    @Override
    protected void engineSetSeed(byte[] seed) {
        if (seedRefused || seed == null || seed.length == 0) {
            return;
        }
        try {
            token.call(s -> {
                s.nat.J_GenerateRandom(s.handle, true, seed, NOTHING, 0, 0);
                return null;
            });
        } catch (CryptokiException e) {
            if (e.getFunctionName().equals("J_SeedRandom")
                    && (e.getCode() == Ck.CKR_RANDOM_SEED_NOT_SUPPORTED
                            || e.getCode() == Ck.CKR_FUNCTION_NOT_SUPPORTED)) {
                seedRefused = true;
                return;
            }
            throw Failures.provider(e);
        }
    }

    @Override
    protected byte[] engineGenerateSeed(int numBytes) {
        if (numBytes < 0) {
            throw new IllegalArgumentException("a seed of " + numBytes + " bytes");
        }
        byte[] seed = new byte[numBytes];
        engineNextBytes(seed);
        return seed;
    }

    /** The token's generator is not serialised with the object. */
    private Object writeReplace() throws java.io.ObjectStreamException {
        throw new java.io.NotSerializableException("the token's generator cannot be serialised");
    }
}
