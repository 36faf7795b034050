package qorvik.provider;

import qorvik.nat.NativeSession;

/**
 * One open session of the token. A session carries at most one operation at a time: whoever
 * holds it (a {@link Token.Lease} or a {@link Token#call}) is its only user until it is given
 * back. {@link #operationActive} says whether a multi-part operation was started and not finished;
 * such a session is closed rather than pooled, which ends the operation in the module.
 */
final class TokenSession {
    final NativeSession nat;
    /** The session handle, as the methods with a session argument take it. */
    final long handle;
    boolean operationActive;

    TokenSession(NativeSession nat) {
        this.nat = nat;
        this.handle = nat.getSessionHandle();
    }

    @Override
    public String toString() {
        return "session " + handle;
    }
}
