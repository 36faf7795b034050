package qorvik.provider;

import java.io.IOException;
import java.security.AuthProvider;
import java.security.InvalidParameterException;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.util.Arrays;
import java.util.List;
import java.util.Map;

import javax.security.auth.Subject;
import javax.security.auth.callback.Callback;
import javax.security.auth.callback.CallbackHandler;
import javax.security.auth.callback.PasswordCallback;
import javax.security.auth.callback.UnsupportedCallbackException;
import javax.security.auth.login.FailedLoginException;
import javax.security.auth.login.LoginException;

import qorvik.CryptokiException;

/**
 * A JCA provider over a PKCS#11 token, through the Kelvane bridge.
 *
 * <p>Made as the JDK's PKCS#11 provider is: the no-argument constructor gives the unconfigured
 * provider "Kelvane", and {@link #configure} returns a provider for the token a configuration
 * file names:
 *
 * <pre>
 * library = /usr/lib/softhsm/libsofthsm2.so
 * name = card            # the provider is then "Kelvane-card"
 * tokenLabel = signing   # or slot = ID, or slotListIndex = N
 * pin = env:CARD_PIN     # or file:PATH, or prompt
 * </pre>
 *
 * <pre>Provider p = new KelvaneProvider().configure("/etc/kelvane/card.cfg");</pre>
 *
 * The same works through java.security ({@code security.provider.N=qorvik.provider.KelvaneProvider
 * /etc/kelvane/card.cfg}) and keytool's or jarsigner's {@code -providerArg}.
 */
public final class KelvaneProvider extends AuthProvider {
    private static final long serialVersionUID = 1L;

    /** The unconfigured provider's name; a configured one with a {@code name} is "Kelvane-NAME". */
    public static final String BASE_NAME = "Kelvane";
    static final String VERSION = "1.2";

    private final transient Token token;
    private transient CallbackHandler defaultHandler;

    /** The unconfigured provider: no services until configured. */
    public KelvaneProvider() {
        super(BASE_NAME, VERSION, "Kelvane PKCS#11 provider (unconfigured)");
        this.token = null;
    }

    private KelvaneProvider(ProviderConfig config) {
        super(config.providerName(), VERSION, "Kelvane PKCS#11 provider for " + config.library);
        this.token = Token.open(config);
        Registrar registrar = this::register;
        SignatureServices.register(registrar);
        CipherServices.register(registrar);
        KeyStoreServices.register(registrar);
    }

    /**
     * A provider for the token the configuration {@code configArg} names: a file's path, or "--"
     * followed by the configuration's text. This provider itself stays as it is.
     */
    @Override
    public KelvaneProvider configure(String configArg) {
        return new KelvaneProvider(ProviderConfig.read(configArg));
    }

    /** A provider configured from key-value pairs, as a file would give them. */
    public static KelvaneProvider configure(Map<String, String> config) {
        return new KelvaneProvider(ProviderConfig.of(config));
    }

    @Override
    public boolean isConfigured() {
        return token != null;
    }

    /** Logs the user in, asking {@code handler} (else the handler set before) for the PIN. */
    @Override
    public void login(Subject subject, CallbackHandler handler) throws LoginException {
        Token t = configuredToken();
        CallbackHandler h = handler != null ? handler : defaultHandler;
        if (h == null) {
            throw new LoginException("Kelvane: no callback handler to ask for the PIN of " + t.displayName);
        }
        char[] pin = askPin(h, t);
        try {
            t.login(pin);
        } catch (CryptokiException e) {
            LoginException failure = e.getCode() == Ck.CKR_PIN_INCORRECT
                    ? new FailedLoginException(Failures.describe(e))
                    : new LoginException(Failures.describe(e));
            failure.initCause(e);
            throw failure;
        } finally {
            Arrays.fill(pin, '\0');
        }
    }

    @Override
    public void logout() throws LoginException {
        try {
            configuredToken().logout();
        } catch (CryptokiException e) {
            LoginException failure = new LoginException(Failures.describe(e));
            failure.initCause(e);
            throw failure;
        }
    }

    @Override
    public void setCallbackHandler(CallbackHandler handler) {
        this.defaultHandler = handler;
    }

    /** The token of a configured provider. */
    Token token() {
        return configuredToken();
    }

    /** The PIN a handler gives for {@code t}; a handler that gives none fails. */
    static char[] askPin(CallbackHandler handler, Token t) throws LoginException {
        PasswordCallback callback = new PasswordCallback("PIN for " + t.displayName + ": ", false);
        try {
            handler.handle(new Callback[] {callback});
        } catch (IOException | UnsupportedCallbackException e) {
            LoginException failure = new LoginException("Kelvane: the callback handler gave no PIN: " + e);
            failure.initCause(e);
            throw failure;
        }
        char[] pin = callback.getPassword();
        callback.clearPassword();
        if (pin == null) {
            throw new LoginException("Kelvane: the callback handler gave no PIN");
        }
        return pin;
    }

    private Token configuredToken() {
        if (token == null) {
            throw new IllegalStateException("the Kelvane provider is not configured: use configure(path)");
        }
        return token;
    }

    private void register(String type, String algorithm, List<String> aliases,
                          Map<String, String> attributes, Registrar.Factory factory) {
        putService(new EngineService(this, type, algorithm, aliases, attributes, factory));
    }

    /** A service whose engines are made for this provider's token. */
    private static final class EngineService extends Service {
        private final Registrar.Factory factory;
        private final Token token;

        EngineService(KelvaneProvider provider, String type, String algorithm, List<String> aliases,
                      Map<String, String> attributes, Registrar.Factory factory) {
            super(provider, type, algorithm, provider.getClass().getName() + "$" + type + "." + algorithm,
                    aliases, attributes);
            this.factory = factory;
            this.token = provider.token;
        }

        @Override
        public Object newInstance(Object constructorParameter) throws NoSuchAlgorithmException {
            try {
                return factory.make(token, getAlgorithm());
            } catch (ProviderException | InvalidParameterException e) {
                NoSuchAlgorithmException failure = new NoSuchAlgorithmException(
                        "Kelvane: cannot make " + getType() + "." + getAlgorithm() + ": " + e.getMessage());
                failure.initCause(e);
                throw failure;
            }
        }

        /** Keys of this token, and keys of other providers the engine imports, are supported. */
        @Override
        public boolean supportsParameter(Object parameter) {
            if (parameter instanceof TokenKey) {
                return ((TokenKey) parameter).belongsTo(token);
            }
            return !(parameter instanceof java.security.PrivateKey);
        }
    }
}
