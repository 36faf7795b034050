package qorvik.provider;

import java.security.DigestException;
import java.security.MessageDigestSpi;
import java.security.ProviderException;
import java.util.Arrays;

import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.nat.CryptokiLock;

/**
 * MessageDigest on the token. Input is kept here until it passes {@link #ONE_CALL_LIMIT}, so that a
 * short message costs one native call (start, digest, result) on a pooled session; past that the
 * digest runs in parts on a session the engine leases until the result is taken.
 */
final class TokenDigest extends MessageDigestSpi implements Cloneable {
    /** Input kept for a one-call digest; more than this goes to the token in parts. */
    static final int ONE_CALL_LIMIT = 16 * 1024;

    /** The digests: JCA name, mechanism, length in bytes. */
    enum Kind {
        MD5("MD5", Ck.CKM_MD5, 16),
        SHA1("SHA-1", Ck.CKM_SHA_1, 20),
        SHA224("SHA-224", Ck.CKM_SHA224, 28),
        SHA256("SHA-256", Ck.CKM_SHA256, 32),
        SHA384("SHA-384", Ck.CKM_SHA384, 48),
        SHA512("SHA-512", Ck.CKM_SHA512, 64);

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
            throw new ProviderException("Kelvane: no digest " + jcaName);
        }
    }

    private final Token token;
    private final Kind kind;
    private byte[] pending = new byte[64];
    private int pendingLength;
    /** The session of a digest running in parts, or null while the input is kept here. */
    private Token.Lease lease;

    TokenDigest(Token token, String algorithm) {
        this.token = token;
        this.kind = Kind.of(algorithm);
    }

    @Override
    protected int engineGetDigestLength() {
        return kind.length;
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
        if (lease == null && pendingLength + len <= ONE_CALL_LIMIT) {
            keep(input, offset, len);
            return;
        }
        try {
            if (lease == null) {
                start();
            }
            TokenSession s = lease.session;
            CryptokiLock.run(() -> s.nat.J_DigestUpdate(s.handle, false, null, input, offset, len));
        } catch (CryptokiException e) {
            abandon();
            throw Failures.provider(e);
        }
    }

    @Override
    protected byte[] engineDigest() {
        byte[] out = new byte[kind.length];
        try {
            finish(out, 0);
        } catch (DigestException e) {
            throw new ProviderException(e.getMessage(), e.getCause());
        }
        return out;
    }

    @Override
    protected int engineDigest(byte[] buf, int offset, int len) throws DigestException {
        if (len < kind.length) {
            throw new DigestException("the output needs " + kind.length + " bytes, " + len + " given");
        }
        finish(buf, offset);
        return kind.length;
    }

    @Override
    protected void engineReset() {
        abandon();
    }

    /** A copy of a digest whose input is still kept here; one running on the token cannot be copied. */
    @Override
    public Object clone() throws CloneNotSupportedException {
        if (lease != null) {
            throw new CloneNotSupportedException("a digest running on the token cannot be copied");
        }
        TokenDigest copy = (TokenDigest) super.clone();
        copy.pending = pending.clone();
        return copy;
    }

    private void finish(byte[] out, int offset) throws DigestException {
        try {
            if (lease == null) {
                byte[] data = pending;
                int n = pendingLength;
                token.call(s -> s.nat.J_Digest(s.handle, true, kind.mechanism, data, 0, n, out, offset));
            } else {
                TokenSession s = lease.session;
                CryptokiLock.run(() -> s.nat.J_DigestFinal(out, offset));
                s.operationActive = false;
            }
        } catch (CryptokiException e) {
            DigestException failure = new DigestException(Failures.describe(e));
            failure.initCause(e);
            throw failure;
        } finally {
            abandon();
        }
    }

    /** Leases a session and hands it the input kept so far as the first part. */
    private void start() throws CryptokiException {
        lease = token.lease(this);
        TokenSession s = lease.session;
        byte[] data = pending;
        int n = pendingLength;
        s.operationActive = true;
        CryptokiLock.run(() -> s.nat.J_DigestUpdate(s.handle, true, kind.mechanism, data, 0, n));
        pendingLength = 0;
    }

    /** Back to the start: kept input dropped, a leased session given back (closed if its digest runs). */
    private void abandon() {
        pendingLength = 0;
        if (lease != null) {
            lease.close();
            lease = null;
        }
    }

    private void keep(byte[] input, int offset, int len) {
        int need = pendingLength + len;
        if (need > pending.length) {
            pending = Arrays.copyOf(pending, Math.max(need, Math.min(2 * pending.length, ONE_CALL_LIMIT)));
        }
        System.arraycopy(input, offset, pending, pendingLength, len);
        pendingLength = need;
    }
}
