package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.security.AuthProvider;
import java.security.KeyStore;
import java.security.Provider;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

import javax.security.auth.callback.CallbackHandler;
import javax.security.auth.callback.PasswordCallback;
import javax.security.auth.callback.UnsupportedCallbackException;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Test;

import qorvik.CryptokiException;
import qorvik.provider.KelvaneProvider;

/**
 * Who logs in when a key store is loaded: the password or the callback handler given to load,
 * ahead of the configuration's 'pin'; a wrong PIN fails with the module's CKR_PIN_INCORRECT as
 * cause, also while the token is logged in already (by another provider of it).
 */
class KeyStoreLoginTest {
    private static final String NO_PIN = "none";
    private static final String WRONG_PIN_FILE = "wrong";
    private static final String SHARED = "shared";

    /** A load of the key store. */
    interface Load {
        void into(KeyStore ks) throws Exception;
    }

    private static Load password(String pin) {
        return ks -> ks.load(null, pin == null ? null : pin.toCharArray());
    }

    private static Load protection(KeyStore.ProtectionParameter p) {
        return ks -> ks.load(() -> p);
    }

    /** A handler answering {@code pin}, counting its calls and keeping the prompts. */
    private static final class Handler implements CallbackHandler {
        final String pin;
        final List<String> prompts = new ArrayList<>();

        Handler(String pin) {
            this.pin = pin;
        }

        @Override
        public void handle(javax.security.auth.callback.Callback[] callbacks)
                throws UnsupportedCallbackException {
            PasswordCallback c = (PasswordCallback) callbacks[0];
            prompts.add(c.getPrompt());
            if (pin.equals("refuse")) {
                throw new UnsupportedCallbackException(c, "no PIN here");
            }
            c.setPassword(pin.equals("nothing") ? null : pin.toCharArray());
        }
    }

    private static final Map<String, Provider> PROVIDERS = new java.util.HashMap<>();

    /** The providers of the table, made once: each holds a session of its own. */
    private static Provider provider(String which) {
        return PROVIDERS.computeIfAbsent(which, KeyStoreLoginTest::configure);
    }

    private static Provider configure(String which) {
        switch (which) {
            case SHARED:
                return ProviderSetup.provider();
            case NO_PIN:
                return KelvaneProvider.configure(Map.of("library", ProviderSetup.softhsm(),
                        "name", "ks-nopin", "tokenLabel", ProviderSetup.tokenLabel()));
            default:
                return KelvaneProvider.configure(Map.of("library", ProviderSetup.softhsm(),
                        "name", "ks-wrongpin", "tokenLabel", ProviderSetup.tokenLabel(),
                        "pin", "file:" + ProviderSetup.write("ks-wrong.pin", "9999\n")));
        }
    }

    @AfterAll
    static void loginAgain() {
        KeyStoreFixture.login();
    }

    @Test
    void passwordAndHandlerBeforeTheConfiguredPin() throws Exception {
        KeyStoreFixture.world();
        String tokenName = "token '" + ProviderSetup.tokenLabel() + "' (slot ";
        Handler right = new Handler(ProviderSetup.USER_PIN);
        Handler wrong = new Handler("9999");
        Handler refusing = new Handler("refuse");
        Handler empty = new Handler("nothing");
        Map<String, String> full = KeyStoreTest.fullView();
        Map<String, String> visible = KeyStoreTest.publicView();
        String loginFailed = "Kelvane: cannot log in to " + tokenName;
        String readFailed = "Kelvane: cannot read the objects of " + tokenName;
        Object[][] table = {
            // provider, logged in before, load, the entries seen | the failure's message start, handler
            {NO_PIN, false, password(null), visible, null},
            {NO_PIN, false, password(""), visible, null},
            {NO_PIN, false, password(ProviderSetup.USER_PIN), full, null},
            {NO_PIN, false, protection(null), visible, null},
            {NO_PIN, false, password("9999"), loginFailed, null},
            {NO_PIN, true, password("9999"), loginFailed, null},
            {NO_PIN, false, protection(new KeyStore.CallbackHandlerProtection(wrong)), loginFailed, wrong},
            {NO_PIN, false, protection(new KeyStore.CallbackHandlerProtection(refusing)),
                "Kelvane: the callback handler gave no PIN: ", refusing},
            {NO_PIN, false, protection(new KeyStore.CallbackHandlerProtection(empty)),
                "Kelvane: the callback handler gave no PIN", empty},
            {WRONG_PIN_FILE, false, password(null), readFailed, null},
            {WRONG_PIN_FILE, false, password(ProviderSetup.USER_PIN), full, null},
            {WRONG_PIN_FILE, false, protection(new KeyStore.PasswordProtection("1234".toCharArray())), full, null},
            {WRONG_PIN_FILE, false, protection(new KeyStore.CallbackHandlerProtection(right)), full, right},
            {WRONG_PIN_FILE, true, password("9999"), loginFailed, null},
            // the configured PIN logs in again after another provider of the token logged out
            {SHARED, false, password(null), full, null},
            {SHARED, true, password(null), full, null},
        };
        int row = 0;
        for (Object[] r : table) {
            String what = "row " + row++ + " (" + r[0] + ", logged in before: " + r[1] + ")";
            Provider p = provider((String) r[0]);
            if ((Boolean) r[1]) {
                KeyStoreFixture.login();
            } else {
                ((AuthProvider) ProviderSetup.provider()).logout();
            }
            Handler handler = (Handler) r[4];
            int promptsBefore = handler == null ? 0 : handler.prompts.size();
            KeyStore ks = KeyStore.getInstance("Kelvane", p);
            if (r[3] instanceof Map) {
                ((Load) r[2]).into(ks);
                @SuppressWarnings("unchecked")
                Map<String, String> expected = (Map<String, String>) r[3];
                KeyStoreTest.assertView(expected, KeyStoreTest.view(ks, "ks-"));
            } else {
                IOException e = assertThrows(IOException.class, () -> ((Load) r[2]).into(ks), what);
                assertTrue(e.getMessage().startsWith((String) r[3]), what + ": " + e.getMessage());
                if (r[3] == loginFailed || r[3] == readFailed) {
                    CryptokiException c = cause(e);
                    assertNotNull(c, what + ": the module's failure is in the cause chain");
                    assertEquals(KeyStoreFixture.CKR_PIN_INCORRECT, c.getCode(), what);
                    assertEquals("J_Login", c.getFunctionName(), what);
                    assertTrue(e.getMessage().endsWith("J_Login failed: 0xA0: " + c.getMessage()), what);
                }
            }
            if (handler != null) {
                assertEquals(promptsBefore + 1, handler.prompts.size(), what + ": the handler is asked once");
                assertTrue(handler.prompts.get(promptsBefore).startsWith("PIN for " + tokenName), what);
            }
        }
    }

    private static CryptokiException cause(Throwable t) {
        for (Throwable c = t; c != null; c = c.getCause()) {
            if (c instanceof CryptokiException) {
                return (CryptokiException) c;
            }
        }
        return null;
    }

    @Test
    void aStreamIsRefused() throws Exception {
        KeyStore ks = KeyStore.getInstance("Kelvane", ProviderSetup.provider());
        IOException e = assertThrows(IOException.class,
                () -> ks.load(new ByteArrayInputStream(new byte[0]), null));
        assertEquals("Kelvane: the key store is the token itself; load it with a null stream", e.getMessage());
        IllegalArgumentException other = assertThrows(IllegalArgumentException.class,
                () -> ks.load(() -> new KeyStore.PasswordProtection(null)));
        assertEquals("Kelvane: the PasswordProtection holds no password", other.getMessage());
    }
}
