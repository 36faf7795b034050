package qorvik.tool;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/** A read-only session with the user logged in, closed when done. */
final class UserSession implements AutoCloseable {
    static final int CKF_SERIAL_SESSION = 0x4;
    static final byte CKU_USER = 1;
    static final int CKA_CLASS = 0x0;
    static final int CKA_LABEL = 0x3;
    static final int CKO_PUBLIC_KEY = 2;
    static final int CKO_PRIVATE_KEY = 3;

    private final NativeSession session;
    private boolean open = true;

    private UserSession(NativeSession session) {
        this.session = session;
    }

    /** Opens the session and logs the user in; the PIN goes to the module and nowhere else. */
    static UserSession open(NativeSlot slot, String pin) throws CryptokiException {
        return new UserSession(slot.J_OpenSession(CKF_SERIAL_SESSION, CKU_USER, pin));
    }

    long handle() {
        return session.getSessionHandle();
    }

    long privateKey(String label) throws CryptokiException, ToolFailure {
        return onlyObject(CKO_PRIVATE_KEY, "private key", label);
    }

    long publicKey(String label) throws CryptokiException, ToolFailure {
        return onlyObject(CKO_PUBLIC_KEY, "public key", label);
    }

    byte[] sign(Mechanism mechanism, long key, byte[] data) throws CryptokiException {
        return session.J_Sign(handle(), true, mechanism, key, data, 0, data.length);
    }

    /** Returns normally only when the module accepts the signature. */
    void verify(Mechanism mechanism, long key, byte[] data, byte[] signature)
            throws CryptokiException {
        session.J_Verify(handle(), true, mechanism, key, data, 0, data.length,
                signature, 0, signature.length);
    }

    @Override
    public void close() throws CryptokiException {
        if (open) {
            open = false;
            session.J_CloseSession();
        }
    }

    /** The handle of the one object of this class and label; none or several is a failure. */
    private long onlyObject(int objectClass, String what, String label)
            throws CryptokiException, ToolFailure {
        long[] found = session.J_FindObjects(new Attribute[] {
            new Attribute(CKA_CLASS, objectClass),
            new Attribute(CKA_LABEL, label),
        });
        // The search hands back null, not an empty array, when nothing matched.
        if (found == null || found.length == 0) {
            throw new ToolFailure("no " + what + " labelled '" + label + "' on the token");
        }
        if (found.length > 1) {
            throw new ToolFailure(found.length + " " + what + "s labelled '" + label
                    + "' on the token, expected one");
        }
        return found[0];
    }
}
