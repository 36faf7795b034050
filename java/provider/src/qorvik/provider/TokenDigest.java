package qorvik.provider;

import java.security.DigestException;
import java.security.MessageDigestSpi;
import java.security.ProviderException;

import qorvik.CryptokiException;
import qorvik.Mechanism;

/**
 * MessageDigest on the token. Input is kept here (see {@link KeptInput}), so that a short message
 * costs one native call (start, digest, result) on a pooled session; past that the digest runs in
 * parts on a session the engine leases until the result is taken.
 */
final class TokenDigest extends MessageDigestSpi implements Cloneable {

    private final Token token;
    private final Hashing kind;
    private KeptInput input;

    TokenDigest(Token token, String algorithm) {
        this.token = token;
        this.kind = Hashing.of(algorithm);
        Mechanism mechanism = kind.mechanism;
        this.input = new KeptInput(
                (s, kept, n) -> s.nat.J_DigestUpdate(s.handle, true, mechanism, kept, 0, n),
                (s, data, off, len) -> s.nat.J_DigestUpdate(s.handle, false, null, data, off, len));
    }

    @Override
    protected int engineGetDigestLength() {
        return kind.length;
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
        input.reset();
    }

    /** A copy of a digest whose input is still kept here; one running on the token cannot be copied. */
    @Override
    public Object clone() throws CloneNotSupportedException {
        if (input.streaming()) {
            throw new CloneNotSupportedException("a digest running on the token cannot be copied");
        }
        TokenDigest copy = (TokenDigest) super.clone();
        copy.input = input.copy();
        return copy;
    }

    private void finish(byte[] out, int offset) throws DigestException {
        try {
            input.finish(token,
                    (s, data, n) -> s.nat.J_Digest(s.handle, true, kind.mechanism, data, 0, n, out, offset),
                    s -> s.nat.J_DigestFinal(out, offset));
        } catch (CryptokiException e) {
            DigestException failure = new DigestException(Failures.describe(e));
            failure.initCause(e);
            throw failure;
        }
    }
}
