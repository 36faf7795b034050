package qorvik.provider;

import java.lang.ref.Cleaner;
import java.security.ProviderException;
import java.util.ArrayDeque;
import java.util.Arrays;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.nat.CryptokiLock;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/**
 * The token a provider works on: its slot, the user's login, and a small pool of sessions.
 *
 * <p>Every native call is made holding {@link CryptokiLock}. Sessions come from the pool and go
 * back when their operation ends, so a digest or a signature costs no session opening. One
 * session, never pooled, holds the login and the session objects (generated and imported keys),
 * which live as long as it does.
 */
final class Token {
    /** Idle sessions kept open; more are opened when threads need them, and closed on return. */
    static final int MAX_IDLE = 16;

    static final Cleaner CLEANER = Cleaner.create();

    /** Work on one session, made holding the module's lock. */
    @FunctionalInterface
    interface SessionCall<T> {
        T call(TokenSession session) throws CryptokiException;
    }

    final NativeCryptoki cryptoki;
    final NativeSlot slot;
    /** How messages and prompts name the token: its label, or the slot. */
    final String displayName;
    private final ProviderConfig config;
    private final ArrayDeque<TokenSession> idle = new ArrayDeque<>();
    private TokenSession home;
    /** The user's login, which the module keeps per token: shared with every provider of the slot. */
    private final SlotLogin login;
    private boolean readOnly;

    /** Whether the user is logged in to a slot's token, and with which PIN. */
    private static final class SlotLogin {
        /** Written holding the lock; read without it to keep the common path free of a second lock. */
        volatile boolean loggedIn;
        /** Guarded by the lock. */
        char[] userPin;
    }

    /** Slot ID to its login; the JVM holds one module, so the ID names the token. Guarded by the lock. */
    private static final java.util.Map<Integer, SlotLogin> LOGINS = new java.util.HashMap<>();

    private Token(ProviderConfig config, NativeCryptoki cryptoki, NativeSlot slot, String displayName) {
        this.config = config;
        this.cryptoki = cryptoki;
        this.slot = slot;
        this.displayName = displayName;
        this.login = CryptokiLock.call(() -> LOGINS.computeIfAbsent(slot.getSlotID(), id -> new SlotLogin()));
    }

    /** The token the configuration names, on the JVM's module. */
    static Token open(ProviderConfig config) {
        NativeCryptoki cryptoki = ModuleHub.acquire(config.library);
        try {
            return CryptokiLock.call(() -> {
                NativeSlot slot = SlotChoice.choose(cryptoki, config);
                String label = slot.J_GetTokenInfo().getLabel().trim();
                return new Token(config, cryptoki, slot, "token '" + label + "' (slot "
                        + Integer.toUnsignedString(slot.getSlotID()) + ")");
            });
        } catch (CryptokiException e) {
            throw new ProviderException("Kelvane: cannot reach the token of " + config.source + ": "
                    + Failures.describe(e), e);
        }
    }

    ProviderConfig config() {
        return config;
    }

    // Sessions

    /** An idle session, or a new one; logs the user in first when the configuration gives a PIN. */
    TokenSession borrow() throws CryptokiException {
        loginFromConfigIfNeeded();
        synchronized (idle) {
            TokenSession s = idle.pollFirst();
            if (s != null) {
                return s;
            }
        }
        return CryptokiLock.call(this::openSession);
    }

    /** Back to the pool; a session with an unfinished operation, or one too many, is closed. */
    void giveBack(TokenSession s) {
        if (!s.operationActive) {
            synchronized (idle) {
                if (idle.size() < MAX_IDLE) {
                    idle.addFirst(s);
                    return;
                }
            }
        }
        try {
            CryptokiLock.run(s.nat::J_CloseSession);
        } catch (CryptokiException e) {
            // The session is gone either way. If the module says all of them are, forget them.
            forgetLost(e);
        }
    }

    /**
     * Runs {@code work} on a pooled session, holding the module's lock for its whole length. A
     * session whose work failed is closed rather than pooled: the failure may have left an
     * operation started on it. When the failure says the token's sessions or its login are gone
     * (sessions closed behind the provider's back, a token taken out and put back, a logout by
     * another user of the module), they are forgotten and the work is tried once more on a new
     * session, logged in again with the configured PIN.
     */
    <T> T call(SessionCall<T> work) throws CryptokiException {
        try {
            return callOnce(work);
        } catch (CryptokiException e) {
            if (!forgetLost(e)) {
                throw e;
            }
            return callOnce(work);
        }
    }

    private <T> T callOnce(SessionCall<T> work) throws CryptokiException {
        TokenSession s = borrow();
        try {
            return CryptokiLock.call(() -> work.call(s));
        } catch (CryptokiException | RuntimeException | Error e) {
            s.operationActive = true;
            throw e;
        } finally {
            giveBack(s);
        }
    }

    /** Runs {@code work} on the session holding the session objects; a lost session as in {@link #call}. */
    <T> T callHome(SessionCall<T> work) throws CryptokiException {
        try {
            loginFromConfigIfNeeded();
            return CryptokiLock.call(() -> work.call(home()));
        } catch (CryptokiException e) {
            if (!forgetLost(e)) {
                throw e;
            }
            loginFromConfigIfNeeded();
            return CryptokiLock.call(() -> work.call(home()));
        }
    }

    /**
     * After a failure: when it says the token's sessions are gone, forgets the home session (and
     * with it the session objects, which the module has dropped), the idle sessions and the login;
     * when it says the user is no longer logged in although the provider logged in, forgets the
     * login. Returns whether the same work may now succeed: the sessions were lost, or the login
     * was and the configuration gives the PIN to make it again.
     */
    private boolean forgetLost(CryptokiException e) {
        int code = e.getCode();
        boolean sessionsLost = code == Ck.CKR_SESSION_HANDLE_INVALID || code == Ck.CKR_SESSION_CLOSED
                || code == Ck.CKR_DEVICE_REMOVED || code == Ck.CKR_TOKEN_NOT_PRESENT;
        if (!sessionsLost && code != Ck.CKR_USER_NOT_LOGGED_IN) {
            return false;
        }
        return CryptokiLock.call(() -> {
            if (sessionsLost) {
                TokenSession lost = home;
                home = null;
                java.util.List<TokenSession> idleLost;
                synchronized (idle) {
                    idleLost = new java.util.ArrayList<>(idle);
                    idle.clear();
                }
                if (lost != null) {
                    idleLost.add(lost);
                }
                for (TokenSession s : idleLost) {
                    try {
                        s.nat.J_CloseSession();
                    } catch (CryptokiException gone) {
                        // Already gone with the others.
                    }
                }
            }
            boolean wasLoggedIn = login.loggedIn;
            login.loggedIn = false;
            wipeUserPin();
            return sessionsLost || (wasLoggedIn && config.pin != null);
        });
    }

    /**
     * A session for an operation of several calls, held by {@code owner} until {@link Lease#close}.
     * If the owner is dropped without closing, the session is given back (closed, if its operation
     * was left unfinished) when the owner is collected.
     */
    Lease lease(Object owner) throws CryptokiException {
        return new Lease(owner, this, borrow());
    }

    /** A session lent to an engine for one operation. */
    static final class Lease implements AutoCloseable {
        final TokenSession session;
        private final Cleaner.Cleanable cleanable;

        private Lease(Object owner, Token token, TokenSession session) {
            this.session = session;
            // The action refers to the token and the session, never to the owner.
            this.cleanable = CLEANER.register(owner, () -> token.giveBack(session));
        }

        /** Gives the session back; the second and later calls do nothing. */
        @Override
        public void close() {
            cleanable.clean();
        }
    }

    // Session objects

    /** Creates a session object (CKA_TOKEN false is the caller's) and returns its handle. */
    long createObject(Attribute[] template) throws CryptokiException {
        return callHome(s -> s.nat.J_CreateObject(template));
    }

    /** Destroys {@code handle} when {@code owner} is collected (for session objects). */
    void destroyWhenUnreachable(Object owner, long handle) {
        CLEANER.register(owner, () -> {
            try {
                destroyObject(handle);
            } catch (CryptokiException | RuntimeException e) {
                // A collected key's object is gone with its session at the latest.
            }
        });
    }

    void destroyObject(long handle) throws CryptokiException {
        callHome(s -> {
            s.nat.J_DestroyObject(handle);
            return null;
        });
    }

    // Login

    boolean loggedIn() {
        return login.loggedIn;
    }

    /**
     * Logs the user in with {@code pin}. Already logged in with the same PIN: nothing to do;
     * with another, the user is logged out and in again, so a wrong PIN is never taken for right.
     * The login is the token's, shared by every provider of the slot; one made outside the
     * providers (a program using the bridge directly) is likewise ended and made again with
     * {@code pin}.
     */
    void login(char[] pin) throws CryptokiException {
        CryptokiLock.run(() -> {
            if (login.loggedIn && Arrays.equals(pin, login.userPin)) {
                return;
            }
            TokenSession s = home();
            if (login.loggedIn) {
                login.loggedIn = false;
                wipeUserPin();
                s.nat.J_Logout();
            }
            try {
                s.nat.J_Login(Ck.CKU_USER, new String(pin));
            } catch (CryptokiException e) {
                if (e.getCode() != Ck.CKR_USER_ALREADY_LOGGED_IN) {
                    throw e;
                }
                s.nat.J_Logout();
                s.nat.J_Login(Ck.CKU_USER, new String(pin));
            }
            login.userPin = pin.clone();
            login.loggedIn = true;
        });
    }

    void logout() throws CryptokiException {
        CryptokiLock.run(() -> {
            if (!login.loggedIn) {
                return;
            }
            login.loggedIn = false;
            wipeUserPin();
            home().nat.J_Logout();
        });
    }

    /** The second authentication of a key that asks for it on each use: a context-specific login. */
    void contextLogin(TokenSession s) throws CryptokiException, PinSource.PinUnavailable {
        char[] pin;
        if (config.signerPin != null) {
            pin = config.signerPin.read(displayName);
        } else {
            pin = CryptokiLock.call(() -> login.userPin == null ? null : login.userPin.clone());
            if (pin == null) {
                throw new PinSource.PinUnavailable("the key asks for its PIN on each use, and neither "
                        + "'signerPin' nor a login PIN is known");
            }
        }
        try {
            char[] given = pin;
            CryptokiLock.run(() -> s.nat.J_Login(Ck.CKU_CONTEXT_SPECIFIC, new String(given)));
        } finally {
            Arrays.fill(pin, '\0');
        }
    }

    /**
     * Logs in with the configuration's PIN unless the slot is logged in. The PIN is read (a prompt
     * waits for the user) holding only the slot's login, never the module's lock, so other tokens'
     * work goes on meanwhile; threads of the same slot wait for the one login.
     */
    private void loginFromConfigIfNeeded() throws CryptokiException {
        if (config.pin == null || login.loggedIn) {
            return;
        }
        synchronized (login) {
            if (login.loggedIn) {
                return;
            }
            char[] pin;
            try {
                pin = config.pin.read(displayName);
            } catch (PinSource.PinUnavailable e) {
                throw new ProviderException("Kelvane: cannot log in to " + displayName + ": "
                        + e.getMessage(), e);
            }
            try {
                login(pin);
            } finally {
                Arrays.fill(pin, '\0');
            }
        }
    }

    private void wipeUserPin() {
        if (login.userPin != null) {
            Arrays.fill(login.userPin, '\0');
            login.userPin = null;
        }
    }

    /** Called holding the lock. */
    private TokenSession home() throws CryptokiException {
        if (home == null) {
            home = openSession();
        }
        return home;
    }

    /** Called holding the lock: read-write where the token allows it, read-only otherwise. */
    private TokenSession openSession() throws CryptokiException {
        if (!readOnly) {
            try {
                return new TokenSession(slot.J_OpenSession(Ck.CKF_SERIAL_SESSION | Ck.CKF_RW_SESSION));
            } catch (CryptokiException e) {
                if (e.getCode() != Ck.CKR_TOKEN_WRITE_PROTECTED) {
                    throw e;
                }
                readOnly = true;
            }
        }
        NativeSession nat = slot.J_OpenSession(Ck.CKF_SERIAL_SESSION);
        return new TokenSession(nat);
    }
}
