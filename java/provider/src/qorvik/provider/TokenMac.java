package qorvik.provider;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.ProviderException;
import java.security.spec.AlgorithmParameterSpec;

import javax.crypto.MacSpi;
import javax.crypto.SecretKey;

import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.nat.CryptokiLock;

/**
 * HMAC on the token, shaped as {@link TokenDigest}: a short message is one native call on a pooled
 * session, a long one runs in parts on a leased session. A key of another provider (a
 * SecretKeySpec) is imported as a session object and kept while the engine uses it.
 */
final class TokenMac extends MacSpi {
    /** The MACs: JCA name, mechanism, length in bytes. */
    enum Kind {
        HMAC_SHA256("HmacSHA256", Ck.CKM_SHA256_HMAC, 32),
        HMAC_SHA384("HmacSHA384", Ck.CKM_SHA384_HMAC, 48),
        HMAC_SHA512("HmacSHA512", Ck.CKM_SHA512_HMAC, 64);

        final String jcaName;
        final Mechanism mechanism;
        final int length;

        Kind(String jcaName, int mechanism, int length) {
            this.jcaName = jcaName;
            this.mechanism = new Mechanism(mechanism);
            this.length = length;
        }

        static Kind of(String jcaName) {
            for (Kind k : values()) {
                if (k.jcaName.equals(jcaName)) {
                    return k;
                }
            }
            throw new ProviderException("Kelvane: no MAC " + jcaName);
        }
    }

    private final Token token;
    private final Kind kind;
    private final HeldKey heldKey = new HeldKey(this);
    private long key;
    private final KeptInput input;

    TokenMac(Token token, String algorithm) {
        this.token = token;
        this.kind = Kind.of(algorithm);
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
        try {
            if (!input.streaming()) {
                byte[] data = input.kept();
                int n = input.length();
                long k = key;
                token.call(s -> s.nat.J_Sign(s.handle, true, kind.mechanism, k, data, 0, n, out, 0));
            } else {
                TokenSession s = input.session();
                CryptokiLock.run(() -> s.nat.J_SignFinal(out, 0));
                s.operationActive = false;
            }
        } catch (CryptokiException e) {
            throw Failures.provider(e);
        } finally {
            input.reset();
        }
        return out;
    }

    @Override
    protected void engineReset() {
        input.reset();
    }
}
