package qorvik.provider;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.ProviderException;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;

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
    private byte[] pending = new byte[64];
    private int pendingLength;
    private Token.Lease lease;

    TokenMac(Token token, String algorithm) {
        this.token = token;
        this.kind = Kind.of(algorithm);
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
        abandon();
        this.key = heldKey.handle(token, key, Ck.CKA_SIGN);
    }

    @Override
    protected void engineUpdate(byte input) {
        engineUpdate(new byte[] {input}, 0, 1);
    }

    @Override
    protected void engineUpdate(byte[] input, int offset, int len) {
        if (len == 0) {
            return;
        }
        if (lease == null && pendingLength + len <= TokenDigest.ONE_CALL_LIMIT) {
            int need = pendingLength + len;
            if (need > pending.length) {
                pending = Arrays.copyOf(pending,
                        Math.max(need, Math.min(2 * pending.length, TokenDigest.ONE_CALL_LIMIT)));
            }
            System.arraycopy(input, offset, pending, pendingLength, len);
            pendingLength = need;
            return;
        }
        try {
            if (lease == null) {
                lease = token.lease(this);
                TokenSession s = lease.session;
                byte[] data = pending;
                int n = pendingLength;
                long k = key;
                s.operationActive = true;
                CryptokiLock.run(() -> s.nat.J_SignUpdate(s.handle, true, kind.mechanism, k, data, 0, n));
                pendingLength = 0;
            }
            TokenSession s = lease.session;
            CryptokiLock.run(() -> s.nat.J_SignUpdate(s.handle, false, null, 0, input, offset, len));
        } catch (CryptokiException e) {
            abandon();
            throw Failures.provider(e);
        }
    }

    @Override
    protected byte[] engineDoFinal() {
        byte[] out = new byte[kind.length];
        try {
            if (lease == null) {
                byte[] data = pending;
                int n = pendingLength;
                long k = key;
                token.call(s -> s.nat.J_Sign(s.handle, true, kind.mechanism, k, data, 0, n, out, 0));
            } else {
                TokenSession s = lease.session;
                CryptokiLock.run(() -> s.nat.J_SignFinal(out, 0));
                s.operationActive = false;
            }
        } catch (CryptokiException e) {
            throw Failures.provider(e);
        } finally {
            abandon();
        }
        return out;
    }

    @Override
    protected void engineReset() {
        abandon();
    }

    private void abandon() {
        pendingLength = 0;
        if (lease != null) {
            lease.close();
            lease = null;
        }
    }
}
