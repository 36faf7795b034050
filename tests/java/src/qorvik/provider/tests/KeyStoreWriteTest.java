package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.ByteArrayOutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.cert.Certificate;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.Test;

/**
 * The key store's writes, step by step: certificates written and replaced, entries removed with
 * their objects, every other write refused. After each step a freshly loaded store and
 * pkcs11-tool (another process reading the token) must show the same.
 */
class KeyStoreWriteTest {
    private static final String REFUSED = "Kelvane: the key store writes certificates (setCertificateEntry) "
            + "and removes entries (deleteEntry); keys are not written to the token through it";

    /** One step on the store. */
    interface Step {
        void on(KeyStore ks) throws Exception;
    }

    private static Object[] row(String what, Step step, String failure, Map<String, String> after) {
        return new Object[] {what, step, failure, after};
    }

    /** The "kw-" certificates pkcs11-tool lists, by label, as their subjects. */
    private static Map<String, List<String>> listedByPkcs11Tool() {
        String out = KeyStoreFixture.run("pkcs11-tool", "--module", ProviderSetup.softhsm(), "--token-label",
                ProviderSetup.tokenLabel(), "--list-objects", "--type", "cert");
        Map<String, List<String>> listed = new TreeMap<>();
        String label = null;
        for (String line : out.split("\n")) {
            String t = line.trim();
            if (t.startsWith("label:")) {
                label = t.substring(6).trim();
            } else if (t.startsWith("subject:") && label != null && label.startsWith("kw-")) {
                listed.computeIfAbsent(label, k -> new ArrayList<>()).add(t.substring(8).replace("DN:", "").trim());
            }
        }
        return listed;
    }

    /** The certificate labelled {@code label} as pkcs11-tool reads it from the token. */
    private static byte[] readByPkcs11Tool(String label) throws Exception {
        Path file = ProviderSetup.workDir().resolve("kw-read.der");
        Files.deleteIfExists(file);
        KeyStoreFixture.run("pkcs11-tool", "--module", ProviderSetup.softhsm(), "--token-label",
                ProviderSetup.tokenLabel(), "--read-object", "--type", "cert", "--label", label, "--output-file",
                file.toString());
        return Files.readAllBytes(file);
    }

    @Test
    void writesReachTheTokenAndOthersAreRefused() throws Exception {
        KeyStoreFixture.World w = KeyStoreFixture.world();
        KeyStoreFixture.removeLabelled("kw-");
        try {
            writeSteps(w);
        } finally {
            KeyStoreFixture.removeLabelled("kw-");
        }
    }

    private static void writeSteps(KeyStoreFixture.World w) throws Exception {
        KeyStoreFixture.Identity signer = KeyStoreFixture.selfSigned("kw-signer", "rsa");
        KeyStoreFixture.onToken(s -> {
            KeyStoreFixture.putKeyPair(s, signer, "kw-key", new byte[] {0x0b, 0x01});
            KeyStoreFixture.putCertificate(s, signer.cert, "kw-key", new byte[] {0x0b, 0x01}, true);
            KeyStoreFixture.putCertificate(s, w.twin.cert, "kw-pair", new byte[] {0x0b, 0x02}, true);
            KeyStoreFixture.putCertificate(s, w.root.cert, "kw-pair", new byte[] {0x0b, 0x03}, true);
            return null;
        });
        String key = "key:CN=kw-signer";
        String root = "cert:CN=ks-root";
        String twin = "cert:CN=ks-twin-ca";
        String ec = "cert:CN=ks-ec";
        Map<String, String> start = Map.of("kw-key", key, "kw-pair#0b02", twin, "kw-pair#0b03", root);
        Object[][] steps = {
            row("a new certificate", ks -> ks.setCertificateEntry("kw-added", w.root.cert), null,
                    Map.of("kw-key", key, "kw-pair#0b02", twin, "kw-pair#0b03", root, "kw-added", root)),
            row("the certificate replaced", ks -> ks.setCertificateEntry("kw-added", w.ec.cert), null,
                    Map.of("kw-key", key, "kw-pair#0b02", twin, "kw-pair#0b03", root, "kw-added", ec)),
            row("a shared label's certificate replaced", ks -> ks.setCertificateEntry("kw-pair#0b03", w.ec.cert),
                    null, Map.of("kw-key", key, "kw-pair#0b02", twin, "kw-pair#0b03", ec, "kw-added", ec)),
            row("through setEntry", ks -> ks.setEntry("kw-entry", new KeyStore.TrustedCertificateEntry(w.twin.cert),
                    null), null,
                    Map.of("kw-key", key, "kw-pair#0b02", twin, "kw-pair#0b03", ec, "kw-added", ec,
                            "kw-entry", twin)),
            row("a certificate on a key entry", ks -> ks.setCertificateEntry("kw-key", w.root.cert),
                    "Kelvane: kw-key is a key entry; a certificate entry replaces only a trusted certificate", null),
            row("a certificate under a shared label", ks -> ks.setCertificateEntry("kw-pair", w.root.cert),
                    "Kelvane: the label kw-pair is shared by entries already (their aliases are kw-pair#ID); "
                    + "choose another alias", null),
            row("a private key", ks -> ks.setKeyEntry("kw-new", ks.getKey("kw-key", null), null,
                    new Certificate[] {signer.cert}), REFUSED, null),
            row("an encoded key", ks -> ks.setKeyEntry("kw-new", new byte[16], new Certificate[] {signer.cert}),
                    REFUSED, null),
            row("a PrivateKeyEntry", ks -> ks.setEntry("kw-new", ks.getEntry("kw-key", null),
                    new KeyStore.PasswordProtection(new char[0])), REFUSED, null),
            row("a SecretKeyEntry", ks -> ks.setEntry("kw-new",
                    new KeyStore.SecretKeyEntry(new SecretKeySpec(new byte[16], "AES")),
                    new KeyStore.PasswordProtection(new char[0])), REFUSED, null),
            row("a trusted certificate removed", ks -> ks.deleteEntry("kw-added"), null,
                    Map.of("kw-key", key, "kw-pair#0b02", twin, "kw-pair#0b03", ec, "kw-entry", twin)),
            row("a shared label's entry removed: the other keeps its alias", ks -> ks.deleteEntry("kw-pair#0b03"),
                    null, Map.of("kw-key", key, "kw-pair", twin, "kw-entry", twin)),
            row("an unknown alias removed", ks -> ks.deleteEntry("kw-nothing"), null,
                    Map.of("kw-key", key, "kw-pair", twin, "kw-entry", twin)),
            row("a key entry removed", ks -> ks.deleteEntry("kw-key"), null,
                    Map.of("kw-pair", twin, "kw-entry", twin)),
            row("stored to no stream", ks -> ks.store(null, null), null,
                    Map.of("kw-pair", twin, "kw-entry", twin)),
        };
        KeyStore ks = KeyStoreTest.load(ProviderSetup.provider(), ProviderSetup.USER_PIN);
        assertEquals(start, KeyStoreTest.view(ks, "kw-"));
        Map<String, String> current = start;
        for (Object[] r : steps) {
            String what = (String) r[0];
            Step step = (Step) r[1];
            if (r[2] != null) {
                Exception e = org.junit.jupiter.api.Assertions.assertThrows(java.security.KeyStoreException.class,
                        () -> step.on(ks), what);
                assertEquals(r[2], e.getMessage(), what);
            } else {
                step.on(ks);
                @SuppressWarnings("unchecked")
                Map<String, String> after = (Map<String, String>) r[3];
                current = after;
            }
            assertEquals(current, KeyStoreTest.view(ks, "kw-"), what + ": the store itself");
            KeyStore fresh = KeyStoreTest.load(ProviderSetup.provider(), ProviderSetup.USER_PIN);
            assertEquals(current, KeyStoreTest.view(fresh, "kw-"), what + ": a store loaded again");
            Map<String, List<String>> expectedCerts = new TreeMap<>();
            for (Map.Entry<String, String> e : current.entrySet()) {
                String label = e.getKey().replaceAll("#.*", "");
                String subject = e.getValue().startsWith("key:CN=kw-signer") ? "CN=kw-signer"
                        : e.getValue().substring("cert:".length());
                expectedCerts.computeIfAbsent(label, k -> new ArrayList<>()).add(subject);
            }
            Map<String, List<String>> listed = listedByPkcs11Tool();
            listed.values().forEach(l -> l.sort(null));
            expectedCerts.values().forEach(l -> l.sort(null));
            assertEquals(expectedCerts, listed, what + ": pkcs11-tool's listing");
        }
        // pkcs11-tool reads back the very certificate written through setEntry
        assertArrayEquals(w.twin.cert.getEncoded(), readByPkcs11Tool("kw-entry"));

        // The key entry took its private key, certificate and public key with it
        byte[] id = {0x0b, 0x01};
        for (int objectClass : new int[] {KeyStoreFixture.CKO_PRIVATE_KEY, KeyStoreFixture.CKO_PUBLIC_KEY,
            KeyStoreFixture.CKO_CERTIFICATE}) {
            assertEquals(List.of(), KeyStoreFixture.labelsWithId(objectClass, id), "class " + objectClass);
        }

        java.io.IOException e = org.junit.jupiter.api.Assertions.assertThrows(java.io.IOException.class,
                () -> ks.store(new ByteArrayOutputStream(), null));
        assertEquals("Kelvane: the key store is the token itself and is not written to a stream; store it with "
                + "a null stream", e.getMessage());
    }
}
