package qorvik.tool.cli;

import java.io.Console;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

import qorvik.CryptokiException;
import qorvik.TokenInfo;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/**
 * What one run of a subcommand shares: the streams, the environment, the module (loaded and
 * initialised on first use: the --module given, or the user's own SoftHSM2 token), the chosen
 * token's slot and the sessions opened on it. Closing it closes the sessions and finalises the
 * module.
 */
public final class CommandContext implements AutoCloseable {
    public static final int CKF_RW_SESSION = 0x2;
    public static final int CKF_SERIAL_SESSION = 0x4;
    public static final byte CKU_SO = 0;
    public static final byte CKU_USER = 1;
    private static final int CKF_TOKEN_INITIALIZED = 0x400;

    private final Kelvane options;
    private final NativeCryptoki cryptoki = new NativeCryptoki();
    private final List<NativeSession> sessions = new ArrayList<>();
    private String modulePath;
    private boolean initialized;
    private NativeSlot slot;
    private NativeSlot defaultSlot;

    CommandContext(Kelvane options) {
        this.options = options;
    }

    public PrintStream out() {
        return options.out;
    }

    public PrintStream err() {
        return options.err;
    }

    public Map<String, String> env() {
        return options.env;
    }

    /** The terminal, or null when standard input or output is not one. */
    public Console console() {
        return options.console;
    }

    /** True when no --module was given and the user's own token is in use. */
    public boolean defaultToken() {
        return options.module == null;
    }

    /** The module, loaded and initialised. */
    public NativeCryptoki cryptoki() throws CryptokiException, CommandFailure {
        if (!initialized) {
            String module = options.module;
            if (module == null) {
                DefaultToken.prepare(options.env);
                module = DefaultToken.module();
            }
            try {
                NativeCryptoki.loadNative();
            } catch (UnsatisfiedLinkError e) {
                throw new CommandFailure("cannot load the bridge (libkelvane): " + e.getMessage(), e);
            }
            NativeCryptoki.loadCryptokiLibrary(module);
            cryptoki.Initialize(null);
            initialized = true;
            modulePath = NativeCryptoki.getLastLoadedLibraryFullPath();
            if (options.module == null) {
                // Made on first use, whatever the subcommand.
                defaultSlot = DefaultToken.slot(cryptoki, options.env, options.err);
            }
        }
        return cryptoki;
    }

    /** Where the module was loaded from; loads it when not loaded yet. */
    public String modulePath() throws CryptokiException, CommandFailure {
        cryptoki();
        return modulePath;
    }

    /**
     * The slot of the token chosen by --slot or --token; without them, the default token's, or
     * for a given module the first slot holding an initialised token.
     */
    public NativeSlot slot() throws CryptokiException, CommandFailure {
        if (slot != null) {
            return slot;
        }
        NativeCryptoki module = cryptoki();
        if (options.slot != null) {
            slot = slotById(module, options.slot);
        } else if (options.token != null) {
            slot = slotByLabel(module, options.token);
        } else if (defaultToken()) {
            slot = defaultSlot;
        } else {
            for (NativeSlot candidate : module.GetSlotList(true)) {
                if ((candidate.J_GetTokenInfo().getFlags() & CKF_TOKEN_INITIALIZED) != 0) {
                    slot = candidate;
                    break;
                }
            }
            if (slot == null) {
                throw new CommandFailure("no initialised token in the module's slots "
                        + "(init-token --slot ID makes one)");
            }
        }
        return slot;
    }

    /** The slot with this ID, whether or not it holds a token. */
    public NativeSlot slotById(NativeCryptoki module, long id)
            throws CryptokiException, CommandFailure {
        for (NativeSlot candidate : module.GetSlotList(false)) {
            if (Integer.toUnsignedLong(candidate.getSlotID()) == id) {
                return candidate;
            }
        }
        throw new CommandFailure("no slot with ID " + id);
    }

    private static NativeSlot slotByLabel(NativeCryptoki module, String label)
            throws CryptokiException, CommandFailure {
        NativeSlot found = null;
        for (NativeSlot candidate : module.GetSlotList(true)) {
            TokenInfo info = candidate.J_GetTokenInfo();
            if (info.getLabel().trim().equals(label.trim())) {
                if (found != null) {
                    throw new CommandFailure("more than one token labelled '" + label
                            + "': choose one with --slot");
                }
                found = candidate;
            }
        }
        if (found == null) {
            throw new CommandFailure("no token labelled '" + label + "'");
        }
        return found;
    }

    /** A session on the chosen token with nobody logged in; closed with the context. */
    public NativeSession openSession(boolean readWrite) throws CryptokiException, CommandFailure {
        return remember(slot().J_OpenSession(flags(readWrite)));
    }

    /** A session on the chosen token with the user logged in, the PIN read from its source. */
    public NativeSession userSession(boolean readWrite) throws CryptokiException, CommandFailure {
        NativeSlot chosen = slot();
        String pin = userPin().read(options.env, options.console);
        NativeSession session = remember(chosen.J_OpenSession(flags(readWrite)));
        session.J_Login(CKU_USER, pin);
        return session;
    }

    /** Where the user PIN comes from, as the global options say. */
    public PinSource userPin() {
        return new PinSource("User PIN", options.pin, options.pinVariable(), options.pinFile);
    }

    /** Keeps {@code session} to be closed with the context. */
    public NativeSession remember(NativeSession session) {
        sessions.add(session);
        return session;
    }

    /** Closes the sessions, then finalises the module; the first failure is thrown. */
    @Override
    public void close() throws CryptokiException {
        CryptokiException first = null;
        for (NativeSession session : sessions) {
            try {
                session.J_CloseSession();
            } catch (CryptokiException e) {
                // already closed by the subcommand, or by a logout of all sessions
            }
        }
        sessions.clear();
        if (initialized) {
            initialized = false;
            try {
                cryptoki.Finalize(null);
            } catch (CryptokiException e) {
                first = e;
            }
        }
        if (first != null) {
            throw first;
        }
    }

    private static int flags(boolean readWrite) {
        return CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
    }
}
