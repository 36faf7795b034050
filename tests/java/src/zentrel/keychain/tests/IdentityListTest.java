package zentrel.keychain.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zentrel.keychain.tests.Keychains.aliases;
import static zentrel.keychain.tests.Keychains.configure;
import static zentrel.keychain.tests.Keychains.configureDefault;
import static zentrel.keychain.tests.Keychains.identities;
import static zentrel.keychain.tests.Keychains.newKeychain;
import static zentrel.keychain.tests.Keychains.open;
import static zentrel.keychain.tests.Keychains.putEncryptedPair;
import static zentrel.keychain.tests.Keychains.putMismatched;
import static zentrel.keychain.tests.Keychains.putP12;
import static zentrel.keychain.tests.Keychains.putPair;
import static zentrel.keychain.tests.Keychains.putTraditionalPair;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.function.BiConsumer;
import java.util.stream.Stream;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

import zentrel.keychain.KeyChain;
import zentrel.keychain.KeyChainException;
import zentrel.keychain.KeyChainIdentity;

/** The signing identities of directory keychains: which files are identities, their order and attributes. */
class IdentityListTest {
    private static Keychains.KeyPair alpha;
    private static Keychains.KeyPair bravo;

    @BeforeAll
    static void makeKeys() {
        Keychains.load();
        alpha = Keychains.rsa("alpha", 2048);
        bravo = Keychains.rsa("bravo", 2048);
    }

    private static int compareBytes(String a, String b) {
        return Arrays.compareUnsigned(a.getBytes(StandardCharsets.UTF_8), b.getBytes(StandardCharsets.UTF_8));
    }

    @Test
    void identitiesComeInByteOrderOfTheirNames() {
        Path dir = newKeychain("order");
        List<String> names = List.of("b", "B", "a", "Z10", "Z2", "Z1", "é", "Zoë", "证书", "a.b", "a-b", "0");
        for (int i = 0; i < names.size(); i++) {
            if (i % 2 == 0) {
                putPair(dir, names.get(i), i % 4 == 0 ? alpha : bravo);
            } else {
                putP12(dir, names.get(i), i % 4 == 1 ? alpha : bravo, "");
            }
        }
        configureDefault(dir);
        KeyChain keychain = open(dir);
        KeyChainIdentity[] identities = identities(keychain);
        List<String> expected = new ArrayList<>(names);
        expected.sort(IdentityListTest::compareBytes);
        assertEquals(expected, aliases(identities));
        Set<Long> handles = new HashSet<>();
        for (KeyChainIdentity identity : identities) {
            String name = identity.getAlias();
            int index = names.indexOf(name);
            Keychains.KeyPair pair = index % 4 == 0 || index % 4 == 1 ? alpha : bravo;
            assertSame(keychain, identity.m_pKeyChain, name);
            assertNotEquals(0L, identity.m_hIdentity, name);
            assertTrue(handles.add(identity.m_hIdentity), name + ": a handle of its own");
            assertArrayEquals(pair.der(), identity.getAttribute(KeyChainIdentity.CERTIFICATE), name);
            assertArrayEquals(name.getBytes(StandardCharsets.UTF_8), identity.getAttribute(KeyChainIdentity.PRINT_NAME),
                    name);
        }
        keychain.ReleaseIdentityList(identities);
    }

    /** One way of putting an identity named NAME into a keychain, and what the bridge makes of it. */
    record Form(String description, BiConsumer<Path, String> put, Keychains.KeyPair listedWith) {
        @Override
        public String toString() {
            return description;
        }
    }

    static Stream<Form> forms() {
        makeKeys();
        return Stream.of(
                new Form("PKCS#8 key and certificate", (dir, name) -> putPair(dir, name, alpha), alpha),
                new Form("traditional RSA key and certificate", (dir, name) -> putTraditionalPair(dir, name, alpha),
                        alpha),
                new Form("PKCS#12 with the empty password", (dir, name) -> putP12(dir, name, alpha, ""), alpha),
                new Form("PKCS#12 and a pair of the same name: the PKCS#12 wins", (dir, name) -> {
                    putPair(dir, name, alpha);
                    putP12(dir, name, bravo, "");
                }, bravo),
                new Form("PKCS#12 with a password", (dir, name) -> putP12(dir, name, alpha, "secret"), null),
                new Form("PKCS#8-encrypted key", (dir, name) -> putEncryptedPair(dir, name, alpha, false), null),
                new Form("PEM-encrypted traditional key", (dir, name) -> putEncryptedPair(dir, name, alpha, true),
                        null),
                new Form("key of one pair, certificate of another", (dir, name) -> putMismatched(dir, name, alpha,
                        bravo), null),
                new Form("key without certificate", (dir, name) -> copy(alpha.key(), dir.resolve(name + ".key")),
                        null),
                new Form("certificate without key",
                        (dir, name) -> copy(alpha.certificate(), dir.resolve(name + ".crt")), null),
                new Form("PKCS#12 that is not one", (dir, name) -> Keychains.write(dir.resolve(name + ".p12"),
                        Keychains.pattern(2000)), null),
                new Form("key file that is not PEM", (dir, name) -> {
                    Keychains.write(dir.resolve(name + ".key"), "not a key\n".getBytes(StandardCharsets.UTF_8));
                    copy(alpha.certificate(), dir.resolve(name + ".crt"));
                }, null),
                new Form("certificate file that is not PEM", (dir, name) -> {
                    copy(alpha.key(), dir.resolve(name + ".key"));
                    Keychains.write(dir.resolve(name + ".crt"), alpha.der());
                }, null),
                new Form("directory named like a PKCS#12", (dir, name) -> mkdir(dir.resolve(name + ".p12")), null),
                new Form("other file types", (dir, name) -> {
                    copy(alpha.certificate(), dir.resolve(name + ".pem"));
                    copy(alpha.key(), dir.resolve(name + ".txt"));
                }, null));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("forms")
    void whichFilesAreIdentities(Form form) {
        // Alone in a keychain, and between two identities that are always listed.
        Path alone = newKeychain("alone");
        form.put().accept(alone, "middle");
        Path among = newKeychain("among");
        putPair(among, "first", alpha);
        form.put().accept(among, "middle");
        putP12(among, "zlast", bravo, "");
        configureDefault(alone, among);

        KeyChain lonely = open(alone);
        KeyChainIdentity[] found = lonely.GetIdentityList();
        KeyChain crowded = open(among);
        KeyChainIdentity[] identities = identities(crowded);
        if (form.listedWith() == null) {
            assertNull(found, "alone: nothing is listed");
            assertEquals(List.of("first", "zlast"), aliases(identities));
        } else {
            assertEquals(List.of("middle"), aliases(found));
            assertArrayEquals(form.listedWith().der(), found[0].getAttribute(KeyChainIdentity.CERTIFICATE));
            lonely.ReleaseIdentityList(found);
            assertEquals(List.of("first", "middle", "zlast"), aliases(identities));
            assertArrayEquals(form.listedWith().der(), identities[1].getAttribute(KeyChainIdentity.CERTIFICATE));
        }
        crowded.ReleaseIdentityList(identities);
    }

    @Test
    void keychainsWithoutIdentitiesGiveNull() throws IOException {
        Path empty = newKeychain("empty");
        Path others = newKeychain("others");
        Files.writeString(others.resolve("README.txt"), "no identities here\n");
        copy(alpha.der(), others.resolve("alpha.der"));
        Path userOnly = newKeychain("user-only");
        putPair(userOnly, "hidden", alpha);
        Path unlisted = newKeychain("unlisted");
        putPair(unlisted, "hidden", alpha);
        Path missing = Keychains.work().resolve("no-such-directory");
        configure("default " + empty, "default " + others, "default " + missing, "user " + userOnly);

        assertNull(open(empty).GetIdentityList(), "an empty directory");
        assertNull(open(others).GetIdentityList(), "a directory without identity files");
        assertNull(new KeyChain(missing.toString()).GetIdentityList(), "a listed directory that does not exist");
        assertNull(new KeyChain(userOnly.toString()).GetIdentityList(), "a keychain of the user list only");
        assertNull(new KeyChain(unlisted.toString()).GetIdentityList(), "a keychain of no list");
        assertNull(new KeyChain(unlisted + "/").GetIdentityList(), "a path spelled otherwise");
    }

    @ParameterizedTest
    @ValueSource(ints = {99, 100, 101, 150})
    void moreThanAHundredIdentitiesAreAllReturned(int count) throws KeyChainException {
        Path dir = newKeychain("many-" + count);
        List<String> names = new ArrayList<>();
        for (int i = count - 1; i >= 0; i--) {
            String name = String.format("id-%04d", i);
            if (i % 3 == 0) {
                putP12(dir, name, bravo, "");
            } else {
                putPair(dir, name, alpha);
            }
            names.add(0, name);
        }
        configureDefault(dir);
        KeyChain keychain = open(dir);
        KeyChainIdentity[] identities = identities(keychain);
        assertEquals(names, aliases(identities));
        Set<Long> handles = new HashSet<>();
        for (KeyChainIdentity identity : identities) {
            assertTrue(handles.add(identity.m_hIdentity), "distinct handles");
        }
        byte[] message = Keychains.pattern(300);
        for (int index : new int[] {0, 98, 99, 100, count - 1}) {
            if (index >= count) {
                continue;
            }
            byte[] der = index % 3 == 0 ? bravo.der() : alpha.der();
            assertArrayEquals(der, identities[index].getAttribute(KeyChainIdentity.CERTIFICATE), names.get(index));
            byte[] signature = identities[index].Sign(message, "", "SHA1withRSA");
            assertTrue(SignatureChecks.jdkVerifies(der, "SHA1withRSA", message, signature), names.get(index));
        }
        keychain.ReleaseIdentityList(identities);
        for (KeyChainIdentity identity : identities) {
            assertEquals(0L, identity.m_hIdentity, identity + " released");
        }
    }

    @Test
    void attributesBySelector() {
        Path dir = newKeychain("attributes");
        putPair(dir, "pem-pair", alpha);
        putP12(dir, "pkcs12", bravo, "");
        putPair(dir, "Ünïcødé 证书", alpha);
        configureDefault(dir);
        KeyChain keychain = open(dir);
        KeyChainIdentity[] identities = identities(keychain);
        int[] nothing = {0, 2, 3, 6, 7, 255, 257, 512, -1, -256, 0x10001, 0x10100, Integer.MIN_VALUE,
            Integer.MAX_VALUE};
        for (KeyChainIdentity identity : identities) {
            String name = identity.getAlias();
            byte[] der = name.equals("pkcs12") ? bravo.der() : alpha.der();
            // The DER openssl wrote, and the same bytes again from a fresh array every time.
            byte[] certificate = identity.getAttribute(256);
            assertArrayEquals(der, certificate, name);
            Arrays.fill(certificate, (byte) 0);
            assertArrayEquals(der, identity.getAttribute(256), name + ": a fresh array each time");
            assertEquals(SignatureChecks.certificate(der), SignatureChecks.certificate(identity.getAttribute(256)));
            byte[] printName = name.getBytes(StandardCharsets.UTF_8);
            assertArrayEquals(printName, identity.getAttribute(1), name);
            for (int selector : nothing) {
                assertNull(identity.getAttribute(selector), name + ": attribute " + selector);
            }
        }
        keychain.ReleaseIdentityList(identities);
    }

    @Test
    void repeatedUseKeepsNoFileDescriptors() throws KeyChainException, IOException {
        Path dir = newKeychain("descriptors");
        putPair(dir, "pair", alpha);
        putP12(dir, "pkcs12", bravo, "");
        configure("default " + dir, "user " + dir);
        byte[] message = Keychains.pattern(64);
        Runnable round = () -> {
            try {
                KeyChain keychain = Keychains.open(dir);
                for (int domain = 1; domain <= 5; domain++) {
                    zentrel.keychain.KeyChainLib.GetKeyChainList(domain);
                }
                KeyChainIdentity[] identities = identities(keychain);
                for (KeyChainIdentity identity : identities) {
                    identity.Sign(message, "", "SHA1withRSA");
                    identity.getAttribute(256);
                    identity.getAlias();
                }
                keychain.ReleaseIdentityList(identities);
            } catch (KeyChainException e) {
                throw new AssertionError(e);
            }
        };
        for (int i = 0; i < 10; i++) {
            round.run();
        }
        long before = openDescriptors();
        int rounds = 200;
        for (int i = 0; i < rounds; i++) {
            round.run();
        }
        long grown = openDescriptors() - before;
        assertTrue(grown < 5, "open file descriptors grew by " + grown + " over " + rounds + " rounds");
    }

    private static long openDescriptors() throws IOException {
        try (Stream<Path> entries = Files.list(Path.of("/proc/self/fd"))) {
            return entries.count();
        }
    }

    private static void copy(Path from, Path to) {
        try {
            Files.copy(from, to);
        } catch (IOException e) {
            throw new java.io.UncheckedIOException(e);
        }
    }

    private static void copy(byte[] bytes, Path to) {
        Keychains.write(to, bytes);
    }

    private static void mkdir(Path dir) {
        try {
            Files.createDirectories(dir);
        } catch (IOException e) {
            throw new java.io.UncheckedIOException(e);
        }
    }
}
