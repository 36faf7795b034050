package zentrel.keychain.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zentrel.keychain.tests.Keychains.SIGN;
import static zentrel.keychain.tests.Keychains.assertKeyChainException;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

import zentrel.keychain.KeyChain;
import zentrel.keychain.KeyChainException;
import zentrel.keychain.KeyChainIdentity;

/**
 * What an identity object holds: one reference from its listing and one per Lock; each Release or
 * list release drops one it holds and nothing more, and the last one clears m_hIdentity.
 */
class ReferenceTest {
    private static final byte[] DIGEST = SignatureChecks.digest("SHA-1", Keychains.pattern(100));

    private static Keychains.KeyPair alpha;
    private static KeyChain keychain;

    @BeforeAll
    static void makeKeychain() {
        Keychains.load();
        alpha = Keychains.rsa("alpha", 2048);
        Keychains.KeyPair bravo = Keychains.rsa("bravo", 2048);
        Path dir = Keychains.newKeychain("references");
        Keychains.putPair(dir, "one", alpha);
        Keychains.putP12(dir, "two", bravo, "");
        Keychains.putPair(dir, "ключ", alpha);
        Keychains.configureDefault(dir);
        keychain = Keychains.open(dir);
    }

    @AfterAll
    static void noPin() {
        keychain.setPin(null);
    }

    /** Asserts what an object that holds {@code held} references can do. */
    private static void assertHolds(KeyChainIdentity identity, long handle, int held, String what)
            throws KeyChainException {
        if (held > 0) {
            assertEquals(handle, identity.m_hIdentity, what + ": the handle is kept");
            byte[] signature = identity.Sign(DIGEST, "SHA", "RSA");
            assertArrayEquals(SignatureChecks.digestInfo("SHA-1", Keychains.pattern(100)),
                    SignatureChecks.jdkRecovers(identity.getAttribute(256), signature), what);
            assertEquals("one", identity.getAlias(), what);
        } else {
            assertEquals(0L, identity.m_hIdentity, what + ": the last release clears the handle");
            assertKeyChainException(SIGN, 0, "Sign Failed", () -> identity.Sign(DIGEST, "SHA", "RSA"));
            assertNull(identity.getAttribute(256), what);
            assertNull(identity.getAttribute(1), what);
            assertNull(identity.getAlias(), what);
        }
    }

    /**
     * Every sequence of up to five Lock (L), Release (R) and list releases (X) on an identity
     * followed by releases until none is held: each step is checked against the count it should
     * leave, and no release past the last ever drops anything (the other identities of the same
     * keychain, listed again, still sign).
     */
    @Test
    void everySequenceOfLocksAndReleases() throws KeyChainException {
        List<String> sequences = new ArrayList<>(List.of(""));
        for (int length = 1; length <= 5; length++) {
            List<String> longer = new ArrayList<>();
            for (String sequence : sequences) {
                if (sequence.length() == length - 1) {
                    for (char step : new char[] {'L', 'R', 'X'}) {
                        longer.add(sequence + step);
                    }
                }
            }
            sequences.addAll(longer);
        }
        int played = 0;
        for (String sequence : sequences) {
            KeyChainIdentity[] identities = Keychains.identities(keychain);
            KeyChainIdentity identity = identities[0];
            long handle = identity.m_hIdentity;
            assertNotEquals(0L, handle);
            int held = 1;
            for (int i = 0; i < sequence.length(); i++) {
                switch (sequence.charAt(i)) {
                    case 'L' -> identity.Lock();
                    case 'R' -> identity.Release();
                    default -> keychain.ReleaseIdentityList(new KeyChainIdentity[] {identity});
                }
                if (held > 0) {
                    held += sequence.charAt(i) == 'L' ? 1 : -1;
                }
                if (i == sequence.length() - 1 || held == 0) {
                    assertHolds(identity, handle, held, sequence + " after step " + (i + 1));
                }
            }
            // The list release drops one reference of each element: the rest are dropped here.
            keychain.ReleaseIdentityList(identities);
            held = Math.max(held - 1, 0);
            while (held > 0) {
                assertNotEquals(0L, identity.m_hIdentity, sequence + ": still held");
                identity.Release();
                held--;
            }
            assertHolds(identity, handle, 0, sequence + " at the end");
            for (KeyChainIdentity other : identities) {
                assertEquals(0L, other.m_hIdentity, sequence + ": " + other + " released with the list");
            }
            played++;
        }
        assertEquals(1 + 3 + 9 + 27 + 81 + 243, played);
    }

    @Test
    void objectsHoldTheirOwnReferencesNotTheirAddresses() throws KeyChainException {
        KeyChainIdentity[] first = Keychains.identities(keychain);
        KeyChainIdentity[] second = Keychains.identities(keychain);
        // A copy made in Java holds nothing: releasing it drops none of the original's references.
        KeyChainIdentity copy = new KeyChainIdentity(second[0].m_hIdentity, keychain);
        for (int i = 0; i < 3; i++) {
            copy.Release();
            keychain.ReleaseIdentityList(new KeyChainIdentity[] {copy});
        }
        assertHolds(second[0], second[0].m_hIdentity, 1, "after releases of a copy");

        keychain.ReleaseIdentityList(first);
        keychain.ReleaseIdentityList(first);
        for (KeyChainIdentity identity : first) {
            assertEquals(0L, identity.m_hIdentity);
        }
        for (KeyChainIdentity identity : second) {
            assertNotEquals(0L, identity.m_hIdentity, "another listing keeps its own");
            assertTrue(identity.Sign(DIGEST, "SHA", "RSA").length == 256);
        }
        keychain.ReleaseIdentityList(second);
        for (KeyChainIdentity identity : second) {
            assertEquals(0L, identity.m_hIdentity);
        }
    }

    @Test
    void listReleasesSkipWhatTheyCannotRelease() throws KeyChainException {
        KeyChainIdentity[] identities = Keychains.identities(keychain);
        KeyChainIdentity none = new KeyChainIdentity(0, keychain);
        KeyChainIdentity[] mixed = {null, none, identities[1], null, new KeyChainIdentity(0, null)};
        keychain.ReleaseIdentityList(mixed);
        assertEquals(0L, identities[1].m_hIdentity, "the real element is released");
        assertEquals(0L, none.m_hIdentity);
        keychain.ReleaseIdentityList(new KeyChainIdentity[0]);
        keychain.ReleaseIdentityList(null);
        assertHolds(identities[0], identities[0].m_hIdentity, 1, "untouched by the other releases");
        assertEquals("ключ", identities[2].getAlias());
        assertArrayEquals("ключ".getBytes(StandardCharsets.UTF_8), identities[2].getAttribute(1));
        keychain.ReleaseIdentityList(identities);
        for (KeyChainIdentity identity : identities) {
            assertEquals(0L, identity.m_hIdentity);
        }
    }

    @Test
    void locksAndReleasesFromManyThreadsBalance() throws Exception {
        int threads = 6;
        int rounds = 150;
        KeyChainIdentity[] identities = Keychains.identities(keychain);
        KeyChainIdentity shared = identities[0];
        long handle = shared.m_hIdentity;
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        try {
            List<Future<Integer>> results = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                int thread = t;
                results.add(pool.submit(() -> {
                    int signed = 0;
                    for (int i = 0; i < rounds; i++) {
                        // Every thread locks the shared identity, signs and releases, and lists
                        // and releases identities of its own.
                        shared.Lock();
                        if (i % 2 == thread % 2) {
                            shared.Lock();
                            shared.Release();
                        }
                        signed += shared.Sign(DIGEST, "SHA", "RSA").length == 256 ? 1 : 0;
                        KeyChainIdentity[] own = keychain.GetIdentityList();
                        own[thread % own.length].Lock();
                        own[thread % own.length].Release();
                        keychain.ReleaseIdentityList(own);
                        if (own[thread % own.length].m_hIdentity != 0) {
                            throw new AssertionError("a listed identity outlived its list");
                        }
                        shared.Release();
                    }
                    return signed;
                }));
            }
            for (Future<Integer> result : results) {
                assertEquals(rounds, result.get(120, TimeUnit.SECONDS));
            }
        } finally {
            pool.shutdownNow();
        }
        // Back to the one reference of its listing.
        assertHolds(shared, handle, 1, "after the threads");
        keychain.ReleaseIdentityList(identities);
        assertHolds(shared, handle, 0, "after the list release");
    }
}
