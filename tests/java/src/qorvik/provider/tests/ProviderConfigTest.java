package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.io.StringReader;
import java.nio.charset.StandardCharsets;
import java.security.InvalidParameterException;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.ProviderException;
import java.security.Signature;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import java.util.TreeMap;
import java.util.function.Function;

import org.junit.jupiter.api.Test;

import qorvik.nat.CryptokiLock;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSlot;
import qorvik.provider.KelvaneProvider;

/**
 * Configurations of the provider, each route (a file, the inline "--" text, key-value pairs)
 * giving the same result: the refused ones with their exact message, the working ones sharing the
 * JVM's one module, and a provider for another module refused while that one is in use.
 */
class ProviderConfigTest {
    private static final String PIN_FORMS =
            "must be env:NAME, file:PATH or prompt (a PIN is never written in the configuration)";

    /** A way of handing a configuration text to the provider, and the name its messages give it. */
    private static final class Route {
        final String name;
        final Function<String, Provider> configure;
        final Function<String, String> source;

        Route(String name, Function<String, Provider> configure, Function<String, String> source) {
            this.name = name;
            this.configure = configure;
            this.source = source;
        }
    }

    private static int fileCount;

    private static String file(String text) {
        return ProviderSetup.write("ks-config-" + fileCount++ + ".cfg", text).toString();
    }

    private static List<Route> routes() {
        List<Route> routes = new ArrayList<>();
        // the file's path is only known once written: the route writes it and remembers it
        String[] lastFile = new String[1];
        routes.add(new Route("file", text -> {
            lastFile[0] = file(text);
            return new KelvaneProvider().configure(lastFile[0]);
        }, text -> lastFile[0]));
        routes.add(new Route("inline", text -> new KelvaneProvider().configure("--" + text.replace("\n", "\\n")),
                text -> "inline configuration"));
        routes.add(new Route("key-value pairs", text -> {
            Properties p = new Properties();
            try {
                p.load(new StringReader(text));
            } catch (IOException e) {
                throw new IllegalStateException(e);
            }
            Map<String, String> map = new TreeMap<>();
            p.stringPropertyNames().forEach(k -> map.put(k, p.getProperty(k)));
            return KelvaneProvider.configure(map);
        }, text -> "configuration"));
        return routes;
    }

    /** The shared token's slot: its index among the slots with a token, its ID, and that count. */
    private static long[] slotOfToken() throws Exception {
        ProviderSetup.provider();
        return CryptokiLock.call(() -> {
            NativeSlot[] slots = new NativeCryptoki().GetSlotList(true);
            for (int i = 0; i < slots.length; i++) {
                if (slots[i].J_GetTokenInfo().getLabel().trim().equals(ProviderSetup.tokenLabel())) {
                    return new long[] {i, Integer.toUnsignedLong(slots[i].getSlotID()), slots.length};
                }
            }
            throw new IllegalStateException("no token " + ProviderSetup.tokenLabel());
        });
    }

    private static String fill(String text) throws Exception {
        long[] slot = slotOfToken();
        return text.replace("%LIB%", ProviderSetup.softhsm())
                .replace("%LABEL%", ProviderSetup.tokenLabel())
                .replace("%SPY%", ProviderSetup.property("kelvane.spy"))
                .replace("%INDEX%", Long.toString(slot[0]))
                .replace("%SLOT%", Long.toString(slot[1]))
                .replace("%SLOTHEX%", "0x" + Long.toHexString(slot[1]))
                .replace("%COUNT%", Long.toString(slot[2]));
    }

    @Test
    void refusedConfigurations() throws Exception {
        String known = " (known: library, name, slot, slotListIndex, tokenLabel, pin, signerPin)";
        String[][] table = {
            // configuration, the message after "Kelvane: SOURCE: "
            {"library=%LIB%\ncolour=blue", "unknown key colour" + known},
            {"library=%LIB%\nsize=3\ncolour=blue", "unknown key colour, size" + known},
            {"Library=%LIB%", "unknown key Library" + known},
            {"name=card", "no 'library' (the PKCS#11 module's path)"},
            {"library=   \nname=card", "no 'library' (the PKCS#11 module's path)"},
            {"library=%LIB%\nname=my card", "'name' may hold letters, digits, '_', '.' and '-' only: my card"},
            {"library=%LIB%\nname=card/1", "'name' may hold letters, digits, '_', '.' and '-' only: card/1"},
            {"library=%LIB%\nslot=0\ntokenLabel=%LABEL%",
                "give at most one of 'slot', 'slotListIndex' and 'tokenLabel'"},
            {"library=%LIB%\nslot=0\nslotListIndex=0", "give at most one of 'slot', 'slotListIndex' and 'tokenLabel'"},
            {"library=%LIB%\nslotListIndex=0\ntokenLabel=%LABEL%",
                "give at most one of 'slot', 'slotListIndex' and 'tokenLabel'"},
            {"library=%LIB%\nslot=first", "'slot' is not a number: first"},
            {"library=%LIB%\nslot=-1", "'slot' out of range: -1"},
            {"library=%LIB%\nslot=4294967296", "'slot' out of range: 4294967296"},
            {"library=%LIB%\nslotListIndex=-2", "'slotListIndex' is negative: -2"},
            {"library=%LIB%\nslotListIndex=second", "'slotListIndex' is not a number: second"},
            {"library=%LIB%\npin=1234", "'pin' " + PIN_FORMS},
            {"library=%LIB%\npin=env:", "'pin' " + PIN_FORMS},
            {"library=%LIB%\npin=file:", "'pin' " + PIN_FORMS},
            {"library=%LIB%\npin=Prompt", "'pin' " + PIN_FORMS},
            {"library=%LIB%\nsignerPin=5678", "'signerPin' " + PIN_FORMS},
        };
        for (Route route : routes()) {
            for (String[] row : table) {
                String text = fill(row[0]);
                String what = route.name + ": " + row[0];
                InvalidParameterException e = assertThrows(InvalidParameterException.class,
                        () -> route.configure.apply(text), what);
                assertEquals("Kelvane: " + route.source.apply(text) + ": " + row[1], e.getMessage(), what);
            }
        }
    }

    @Test
    void unreadableConfigurations() throws Exception {
        String missing = ProviderSetup.workDir().resolve("ks-no-such.cfg").toString();
        String[][] table = {
            // argument of configure, message
            {null, "Kelvane: no configuration given"},
            {"", "Kelvane: no configuration given"},
            {"   ", "Kelvane: no configuration given"},
            {missing, "Kelvane: cannot read configuration " + missing + ": java.nio.file.NoSuchFileException: "
                + missing},
            {"--library=x\\u12", "Kelvane: malformed configuration --library=x\\u12: Malformed \\uxxxx encoding."},
        };
        for (String[] row : table) {
            InvalidParameterException e = assertThrows(InvalidParameterException.class,
                    () -> new KelvaneProvider().configure(row[0]), row[0]);
            assertEquals(row[1], e.getMessage(), row[0]);
        }
    }

    @Test
    void configurationsTheTokenRefuses() throws Exception {
        String otherModule = "cannot use the module %s: this JVM already uses the module " + ProviderSetup.softhsm()
                + ", and the bridge holds one module per process";
        String[][] table = {
            // configuration, message: "%S" stands for "Kelvane: SOURCE: "
            {"library=%LIB%\nslot=4242", "%Sthe module has no slot 4242"},
            {"library=%LIB%\nslotListIndex=%COUNT%", "%SslotListIndex %COUNT% but the module has %COUNT% slot(s) "
                + "with a token"},
            {"library=%LIB%\ntokenLabel=ks-no-such-token", "%Sno token labelled 'ks-no-such-token'"},
            {"library=%SPY%\ntokenLabel=%LABEL%", "Kelvane: " + String.format(otherModule, "%SPY%")},
            {"library=/nonexistent/libmodule.so",
                "Kelvane: " + String.format(otherModule, "/nonexistent/libmodule.so")},
        };
        for (Route route : routes()) {
            for (String[] row : table) {
                String text = fill(row[0]);
                String what = route.name + ": " + row[0];
                ProviderException e = assertThrows(ProviderException.class, () -> route.configure.apply(text), what);
                String expected = fill(row[1]).replace("%S", "Kelvane: " + route.source.apply(text) + ": ");
                assertEquals(expected, e.getMessage(), what);
            }
        }
    }

    @Test
    void workingConfigurationsShareTheModule() throws Exception {
        KeyStoreFixture.World w = KeyStoreFixture.world();
        KeyStoreFixture.login();
        String parent = ProviderSetup.softhsm().replaceFirst("/[^/]+/[^/]+$", "");
        String spelled = ProviderSetup.softhsm().replace(parent, parent + "/.");
        String[][] table = {
            // configuration, the provider's name
            {"library=%LIB%\ntokenLabel=%LABEL%\nname=ks-label", "Kelvane-ks-label"},
            {"library=%LIB%\nslot=%SLOT%\nname=ks-slot", "Kelvane-ks-slot"},
            {"library=%LIB%\nslot=%SLOTHEX%", "Kelvane"},
            {"library=%LIB%\nslotListIndex=%INDEX%\nname=ks.index_1", "Kelvane-ks.index_1"},
            {"library = " + spelled + "  \n  tokenLabel = %LABEL%  \nname = ks-spelled", "Kelvane-ks-spelled"},
            {"# a comment\nlibrary=%LIB%\ntokenLabel=%LABEL%\npin=env:KS_NOT_SET\nsignerPin=prompt\nname=ks-pins",
                "Kelvane-ks-pins"},
        };
        Signature jdk = Signature.getInstance("SHA256withRSA");
        byte[] data = "signed through each configured provider".getBytes(StandardCharsets.UTF_8);
        List<Provider> made = new ArrayList<>();
        for (Route route : routes()) {
            for (String[] row : table) {
                String text = fill(row[0]);
                String what = route.name + ": " + row[0];
                Provider p = route.configure.apply(text);
                made.add(p);
                assertEquals(row[1], p.getName(), what);
                assertTrue(p.isConfigured(), what);
                KeyStore ks = KeyStore.getInstance("Kelvane", p);
                ks.load(null, ProviderSetup.USER_PIN.toCharArray());
                PrivateKey key = (PrivateKey) ks.getKey("ks-rsa", null);
                Signature s = Signature.getInstance("SHA256withRSA", p);
                s.initSign(key);
                s.update(data);
                byte[] signature = s.sign();
                jdk.initVerify(w.rsa.cert);
                jdk.update(data);
                assertTrue(jdk.verify(signature), what);
            }
        }
        // A key of one provider signs through another: they share the module and the token
        KeyStore first = KeyStore.getInstance("Kelvane", made.get(0));
        first.load(null, null);
        PrivateKey key = (PrivateKey) first.getKey("ks-ec", null);
        for (Provider p : made) {
            Signature s = Signature.getInstance("SHA256withECDSA", p);
            s.initSign(key);
            s.update(data);
            Signature check = Signature.getInstance("SHA256withECDSA");
            check.initVerify(w.ec.cert);
            check.update(data);
            assertTrue(check.verify(s.sign()), p.getName());
        }
    }

    @Test
    void theUnconfiguredProvider() {
        KelvaneProvider p = new KelvaneProvider();
        assertEquals("Kelvane", p.getName());
        assertFalse(p.isConfigured());
        assertEquals(0, p.getServices().size());
        IllegalStateException e = assertThrows(IllegalStateException.class, () -> p.login(null, null));
        assertEquals("the Kelvane provider is not configured: use configure(path)", e.getMessage());
    }
}
