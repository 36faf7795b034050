package qorvik.provider;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.spec.AlgorithmParameterSpec;

import javax.crypto.MacSpi;
import javax.crypto.SecretKey;

import qorvik.CryptokiException;
import qorvik.Mechanism;

/**
 * HMAC on the token, shaped as {@link TokenDigest}: a short message is one native call on a pooled
 * session, a long one runs in parts on a leased session. A key of another provider (a
 * SecretKeySpec) is imported as a session object and kept while the engine uses it.
 */
final class TokenMac extends MacSpi {
    private final Token token;
    private final Hashing kind;
    private final HeldKey heldKey = new HeldKey(this);
    private long key;
    private final KeptInput input;

    TokenMac(Token token, String algorithm) {
        this.token = token;
        this.kind = Hashing.of(algorithm);
        Mechanism mechanism = kind.mechanism;
        this.input = new KeptInput(
                (s, kept, n) -> s.nat.J_SignUpdate(s.handle, true, mechanism, key, kept, 0, n),
                (s, data, off, len) -> s.nat.J_SignUpdate(s.handle, false, null, 0, data, off, len));
    }

    @Override
    protected int engineGetMacLength() {
        return kind.length;
    }

    @Override
    protected void engineInit(Key key, AlgorithmParameterSpec params)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null) {
            throw new InvalidAlgorithmParameterException(kind.jcaName + " takes no parameters");
        }
        if (!(key instanceof SecretKey)) {
            throw new InvalidKeyException(kind.jcaName + " needs a secret key, not "
                    + (key == null ? "null" : key.getClass().getName()));
        }
        input.reset();
        this.key = heldKey.handle(token, key, Ck.CKA_SIGN);
    }

    @Override
    protected void engineUpdate(byte b) {
        engineUpdate(new byte[] {b}, 0, 1);
    }

    @Override
    protected void engineUpdate(byte[] data, int offset, int len) {
        try {
            input.add(token, this, data, offset, len);
        } catch (CryptokiException e) {
            throw Failures.provider(e);
        }
    }

    @Override
    protected byte[] engineDoFinal() {
        byte[] out = new byte[kind.length];
        long k = key;
        try {
            input.finish(token,
                    (s, data, n) -> s.nat.J_Sign(s.handle, true, kind.mechanism, k, data, 0, n, out, 0),
                    s -> s.nat.J_SignFinal(out, 0));
        } catch (CryptokiException e) {
            throw Failures.provider(e);
        }
        return out;
    }

    @Override
    protected void engineReset() {
        input.reset();
    }
}
