package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.security.Key;
import java.security.KeyStore;
import java.security.interfaces.ECKey;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAKey;
import java.security.interfaces.RSAPublicKey;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;
import java.util.TreeSet;

import javax.crypto.SecretKey;

import org.junit.jupiter.api.Test;

/**
 * KeyStore "Kelvane" over the token's objects: aliases, pairing by CKA_ID, chains completed from
 * the token's certificates, secret keys and trusted certificates, each judged against the
 * certificates openssl made.
 */
class KeyStoreTest {
    /** Loads the provider's key store with {@code pin}. */
    static KeyStore load(java.security.Provider provider, String pin) throws Exception {
        KeyStore ks = KeyStore.getInstance("Kelvane", provider);
        ks.load(null, pin == null ? null : pin.toCharArray());
        return ks;
    }

    /** How an entry reads: "key:CN=a>CN=b" (its chain), "cert:CN=a", "secret:AES". */
    static String describe(KeyStore ks, String alias) throws Exception {
        List<String> kinds = new ArrayList<>();
        for (Class<? extends KeyStore.Entry> c : List.of(KeyStore.PrivateKeyEntry.class,
                KeyStore.SecretKeyEntry.class, KeyStore.TrustedCertificateEntry.class)) {
            if (ks.entryInstanceOf(alias, c)) {
                kinds.add(c.getSimpleName());
            }
        }
        assertEquals(1, kinds.size(), alias + " is of exactly one kind: " + kinds);
        assertEquals(ks.isCertificateEntry(alias), kinds.get(0).equals("TrustedCertificateEntry"), alias);
        assertEquals(ks.isKeyEntry(alias), !ks.isCertificateEntry(alias), alias);
        switch (kinds.get(0)) {
            case "PrivateKeyEntry": {
                Certificate[] chain = ks.getCertificateChain(alias);
                assertEquals(chain[0], ks.getCertificate(alias), alias);
                KeyStore.Entry entry = ks.getEntry(alias, null);
                assertArrayEquals(chain, ((KeyStore.PrivateKeyEntry) entry).getCertificateChain(), alias);
                List<String> names = new ArrayList<>();
                for (Certificate c : chain) {
                    names.add(((X509Certificate) c).getSubjectX500Principal().getName());
                }
                assertKeyMatches(alias, ks.getKey(alias, null), (X509Certificate) chain[0]);
                assertEquals(((X509Certificate) chain[0]).getNotBefore(), ks.getCreationDate(alias), alias);
                return "key:" + String.join(">", names);
            }
            case "SecretKeyEntry": {
                Key key = ks.getKey(alias, null);
                assertTrue(key instanceof SecretKey, alias);
                assertNull(key.getEncoded(), alias + ": a sensitive key's value stays on the token");
                assertNull(ks.getCertificate(alias), alias);
                assertNull(ks.getCertificateChain(alias), alias);
                assertNotNull(ks.getCreationDate(alias), alias);
                return "secret:" + key.getAlgorithm();
            }
            default: {
                X509Certificate c = (X509Certificate) ks.getCertificate(alias);
                assertNull(ks.getKey(alias, null), alias);
                assertNull(ks.getCertificateChain(alias), alias);
                assertEquals(c.getNotBefore(), ks.getCreationDate(alias), alias);
                assertEquals(c, ((KeyStore.TrustedCertificateEntry) ks.getEntry(alias, null))
                        .getTrustedCertificate(), alias);
                return "cert:" + c.getSubjectX500Principal().getName();
            }
        }
    }

    /** The private key's public half is the certificate's. */
    private static void assertKeyMatches(String alias, Key key, X509Certificate cert) {
        if (cert.getPublicKey() instanceof RSAPublicKey) {
            assertEquals("RSA", key.getAlgorithm(), alias);
            assertEquals(((RSAPublicKey) cert.getPublicKey()).getModulus(), ((RSAKey) key).getModulus(), alias);
        } else {
            assertEquals("EC", key.getAlgorithm(), alias);
            assertEquals(((ECPublicKey) cert.getPublicKey()).getParams().getOrder(),
                    ((ECKey) key).getParams().getOrder(), alias);
        }
        assertNull(key.getEncoded(), alias + ": a private key's value stays on the token");
    }

    /** The entries whose aliases start with {@code prefix}, described; checks size and aliases agree. */
    static Map<String, String> view(KeyStore ks, String prefix) throws Exception {
        Map<String, String> view = new TreeMap<>();
        List<String> aliases = Collections.list(ks.aliases());
        assertEquals(ks.size(), aliases.size());
        for (String alias : aliases) {
            assertTrue(ks.containsAlias(alias), alias);
            if (alias.startsWith(prefix)) {
                view.put(alias, describe(ks, alias));
            }
        }
        return view;
    }

    /**
     * The two copies labelled "ks-dup" without an ID share label and ID, so they are "ks-dup#"
     * and "ks-dup##2" in the order the token lists them: compared as a set.
     */
    static void assertView(Map<String, String> expected, Map<String, String> actual) {
        Map<String, String> e = new TreeMap<>(expected);
        Map<String, String> a = new TreeMap<>(actual);
        Set<String> expectedDups = new TreeSet<>();
        Set<String> actualDups = new TreeSet<>();
        e.keySet().removeIf(k -> k.startsWith("ks-dup") && expectedDups.add(expected.get(k)));
        a.keySet().removeIf(k -> k.startsWith("ks-dup") && actualDups.add(actual.get(k)));
        assertEquals(e, a);
        assertEquals(expectedDups, actualDups);
        assertEquals(expected.keySet().stream().filter(k -> k.startsWith("ks-dup")).count(),
                actual.keySet().stream().filter(k -> k.startsWith("ks-dup")).count());
    }

    static String cn(KeyStoreFixture.Identity... chain) {
        List<String> names = new ArrayList<>();
        for (KeyStoreFixture.Identity i : chain) {
            names.add("CN=" + i.name);
        }
        return String.join(">", names);
    }

    /** What a logged-in user sees. */
    static Map<String, String> fullView() {
        KeyStoreFixture.World w = KeyStoreFixture.world();
        return Map.of(
                "ks-rsa", "key:" + cn(w.rsa, w.intermediate, w.root),
                "ks-ec", "key:" + cn(w.ec, w.root),
                "ks-root", "cert:" + cn(w.root),
                "ks-intermediate", "cert:" + cn(w.intermediate),
                "ks-twin#0a03", "secret:AES",
                "ks-twin#0a04", "cert:" + cn(w.twin),
                "ks-aes", "secret:AES",
                "ks-dup#", "cert:" + cn(w.root),
                "ks-dup##2", "cert:" + cn(w.intermediate));
    }

    /**
     * What is seen without a login: private keys and secret keys are private objects, so the
     * certificates stand alone (and "ks-twin" is no longer shared).
     */
    static Map<String, String> publicView() {
        KeyStoreFixture.World w = KeyStoreFixture.world();
        return Map.of(
                "ks-rsa", "cert:" + cn(w.rsa),
                "ks-ec-cert", "cert:" + cn(w.ec),
                "ks-root", "cert:" + cn(w.root),
                "ks-intermediate", "cert:" + cn(w.intermediate),
                "ks-twin", "cert:" + cn(w.twin),
                "ks-dup#", "cert:" + cn(w.root),
                "ks-dup##2", "cert:" + cn(w.intermediate));
    }

    @Test
    void entriesAsTheTokenHoldsThem() throws Exception {
        KeyStoreFixture.world();
        KeyStore ks = load(ProviderSetup.provider(), ProviderSetup.USER_PIN);
        assertView(fullView(), view(ks, "ks-"));
    }

    @Test
    void certificateAliasLookup() throws Exception {
        KeyStoreFixture.World w = KeyStoreFixture.world();
        KeyStore ks = load(ProviderSetup.provider(), ProviderSetup.USER_PIN);
        Object[][] table = {
            // certificate, its alias: a trusted certificate before a key entry's own
            {w.rsa.cert, "ks-rsa"},
            {w.ec.cert, "ks-ec"},
            {w.twin.cert, "ks-twin#0a04"},
            {w.lonely.cert, null},
        };
        for (Object[] row : table) {
            assertEquals(row[1], ks.getCertificateAlias((Certificate) row[0]), String.valueOf(row[1]));
        }
        String rootAlias = ks.getCertificateAlias(w.root.cert);
        assertTrue(Set.of("ks-root", "ks-dup#", "ks-dup##2").contains(rootAlias), rootAlias);
        assertEquals(w.root.cert, ks.getCertificate(rootAlias));
    }

    @Test
    void unknownAliasesHoldNothing() throws Exception {
        KeyStoreFixture.world();
        KeyStore ks = load(ProviderSetup.provider(), ProviderSetup.USER_PIN);
        // a private key without a certificate, a key's certificate under its own label, and no alias
        for (String alias : new String[] {"ks-lonely", "ks-ec-cert", "ks-twin", "ks-dup", "ks-nothing"}) {
            assertTrue(!ks.containsAlias(alias) && !ks.isKeyEntry(alias) && !ks.isCertificateEntry(alias)
                    && ks.getKey(alias, null) == null && ks.getCertificate(alias) == null
                    && ks.getEntry(alias, null) == null && ks.getCreationDate(alias) == null, alias);
        }
    }
}
