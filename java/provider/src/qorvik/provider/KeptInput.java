package qorvik.provider;

import java.util.Arrays;

import qorvik.CryptokiException;
import qorvik.nat.CryptokiLock;

/**
 * The input of an operation that takes its data as it comes (a digest, a MAC). Up to
 * {@link #ONE_CALL_LIMIT} bytes are kept here, so that a short message costs one native call on a
 * pooled session; past that the operation is started on a session leased for its owner and the
 * data goes to the token in parts.
 */
final class KeptInput {
    /** Input kept for a one-call operation; more than this goes to the token in parts. */
    static final int ONE_CALL_LIMIT = 16 * 1024;

    /** Starts the operation on {@code s}, with the input kept so far as its first part. */
    @FunctionalInterface
    interface Start {
        void start(TokenSession s, byte[] kept, int length) throws CryptokiException;
    }

    /** Hands the running operation one more part. */
    @FunctionalInterface
    interface Part {
        void part(TokenSession s, byte[] data, int offset, int len) throws CryptokiException;
    }

    private final Start start;
    private final Part part;
    private byte[] kept = new byte[64];
    private int length;
    /** The session of an operation running in parts, or null while the input is kept here. */
    private Token.Lease lease;

    KeptInput(Start start, Part part) {
        this.start = start;
        this.part = part;
    }

    /**
     * Keeps {@code len} bytes of {@code input}, or hands them to the token, leasing a session for
     * {@code owner} when the input first outgrows the limit. A failure drops the operation.
     */
    void add(Token token, Object owner, byte[] input, int offset, int len) throws CryptokiException {
        if (len == 0) {
            return;
        }
        if (lease == null && length + len <= ONE_CALL_LIMIT) {
            int need = length + len;
            if (need > kept.length) {
                kept = Arrays.copyOf(kept, Math.max(need, Math.min(2 * kept.length, ONE_CALL_LIMIT)));
            }
            System.arraycopy(input, offset, kept, length, len);
            length = need;
            return;
        }
        try {
            if (lease == null) {
                lease = token.lease(owner);
                TokenSession s = lease.session;
                byte[] data = kept;
                int n = length;
                s.operationActive = true;
                CryptokiLock.run(() -> start.start(s, data, n));
                length = 0;
            }
            TokenSession s = lease.session;
            CryptokiLock.run(() -> part.part(s, input, offset, len));
        } catch (CryptokiException e) {
            reset();
            throw e;
        }
    }

    /** True once the operation runs on the token in parts. */
    boolean streaming() {
        return lease != null;
    }

    /** The operation over the whole kept input, in one call on {@code s}. */
    @FunctionalInterface
    interface Whole {
        void run(TokenSession s, byte[] kept, int length) throws CryptokiException;
    }

    /** The last step of the operation running in parts on {@code s}. */
    @FunctionalInterface
    interface Last {
        void run(TokenSession s) throws CryptokiException;
    }

    /**
     * Ends the operation: over the kept input in one call on a pooled session, or by the last step
     * of the one running in parts. Back to the start either way.
     */
    void finish(Token token, Whole whole, Last last) throws CryptokiException {
        try {
            if (lease == null) {
                byte[] data = kept;
                int n = length;
                token.call(s -> {
                    whole.run(s, data, n);
                    return null;
                });
            } else {
                TokenSession s = lease.session;
                CryptokiLock.run(() -> last.run(s));
                s.operationActive = false;
            }
        } finally {
            reset();
        }
    }

    /** Back to the start: kept input dropped, a leased session given back (closed if its operation runs). */
    void reset() {
        length = 0;
        if (lease != null) {
            Token.Lease l = lease;
            lease = null;
            l.close();
        }
    }

    /** A copy holding the same kept input; only while not streaming (the caller checks). */
    KeptInput copy() {
        KeptInput c = new KeptInput(start, part);
        c.kept = kept.clone();
        c.length = length;
        return c;
    }
}
