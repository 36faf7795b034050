package zentrel.keychain.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zentrel.keychain.tests.Keychains.BAD_PARAMETER;
import static zentrel.keychain.tests.Keychains.SIGN;
import static zentrel.keychain.tests.Keychains.UNSUPPORTED_ALGORITHM;
import static zentrel.keychain.tests.Keychains.assertKeyChainException;
import static zentrel.keychain.tests.Keychains.pattern;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import zentrel.keychain.KeyChain;
import zentrel.keychain.KeyChainException;
import zentrel.keychain.KeyChainIdentity;

/**
 * Signing with the identities of a directory keychain (RSA-2048 and RSA-4096, PEM pairs and
 * PKCS#12), every signature checked by the JDK and by openssl with the certificate the bridge
 * returned.
 */
class SignTest {
    private static final byte[] MESSAGE = pattern(1000);

    private static KeyChain keychain;
    private static KeyChainIdentity[] identities;
    private static final List<Keychains.KeyPair> PAIRS = new ArrayList<>();

    /** The identities of the suite's keychain, in their listing order, with the pair each holds. */
    private static final String[] NAMES = {"pair-2048", "pair-4096", "pkcs12-2048", "pkcs12-4096"};

    @BeforeAll
    static void makeKeychain() {
        Keychains.load();
        Keychains.KeyPair small = Keychains.rsa("alpha", 2048);
        Keychains.KeyPair big = Keychains.rsa("delta", 4096);
        Keychains.KeyPair other = Keychains.rsa("bravo", 2048);
        Path dir = Keychains.newKeychain("signing");
        Keychains.putPair(dir, NAMES[0], small);
        Keychains.putPair(dir, NAMES[1], big);
        Keychains.putP12(dir, NAMES[2], other, "");
        Keychains.putP12(dir, NAMES[3], big, "");
        PAIRS.addAll(List.of(small, big, other, big));
        Keychains.configureDefault(dir);
        keychain = Keychains.open(dir);
        identities = Keychains.identities(keychain);
        assertEquals(List.of(NAMES), Keychains.aliases(identities));
    }

    @AfterAll
    static void releaseIdentities() {
        keychain.ReleaseIdentityList(identities);
        for (KeyChainIdentity identity : identities) {
            assertEquals(0L, identity.m_hIdentity, "released");
        }
    }

    /** What the data handed to Sign is, made from the message. */
    enum Input {
        /** The message's SHA-1 digest: the signature is PKCS#1 v1.5 SHA-1 of the message. */
        SHA1_DIGEST,
        /** The message itself, hashed by the signer. */
        MESSAGE,
        /** A SHA-1 DigestInfo, signed as it is. */
        SHA1_DIGEST_INFO,
        /** A SHA-256 DigestInfo, signed as it is: the raw pair signs whatever it is given. */
        SHA256_DIGEST_INFO;

        byte[] of(byte[] message) {
            return switch (this) {
                case SHA1_DIGEST -> SignatureChecks.digest("SHA-1", message);
                case MESSAGE -> message.clone();
                case SHA1_DIGEST_INFO -> SignatureChecks.digestInfo("SHA-1", message);
                case SHA256_DIGEST_INFO -> SignatureChecks.digestInfo("SHA-256", message);
            };
        }
    }

    record Names(String digest, String signature, Input input) {
    }

    private static final List<Names> SIGNING_NAMES = List.of(
            new Names("SHA", "RSA", Input.SHA1_DIGEST),
            new Names("sha", "rsa", Input.SHA1_DIGEST),
            new Names("ShA", "rSa", Input.SHA1_DIGEST),
            new Names("", "SHA1withRSA", Input.MESSAGE),
            new Names("", "sha1withrsa", Input.MESSAGE),
            new Names("", "SHA1WITHRSA", Input.MESSAGE),
            // A digest name the bridge does not know counts as none.
            new Names("MD5", "SHA1withRSA", Input.MESSAGE),
            new Names("", "RSA", Input.SHA1_DIGEST_INFO),
            new Names("", "rsa", Input.SHA256_DIGEST_INFO),
            new Names("SHA-256", "RSA", Input.SHA256_DIGEST_INFO));

    static Stream<Arguments> everyIdentityWithEveryNamePair() {
        List<Arguments> rows = new ArrayList<>();
        for (int i = 0; i < NAMES.length; i++) {
            for (Names names : SIGNING_NAMES) {
                rows.add(Arguments.of(i, names));
            }
        }
        return rows.stream();
    }

    @ParameterizedTest(name = "{index}: identity {0}, {1}")
    @MethodSource("everyIdentityWithEveryNamePair")
    void signaturesVerifyWithTheReturnedCertificate(int index, Names names) throws KeyChainException {
        KeyChainIdentity identity = identities[index];
        Keychains.KeyPair pair = PAIRS.get(index);
        byte[] data = names.input().of(MESSAGE);
        byte[] handed = data.clone();
        byte[] signature = identity.Sign(data, names.digest(), names.signature());
        assertArrayEquals(handed, data, "Sign leaves its data as it was");
        assertEquals(pair.bits() / 8, signature.length, "a signature as long as the modulus");

        byte[] certificate = identity.getAttribute(KeyChainIdentity.CERTIFICATE);
        assertArrayEquals(pair.der(), certificate, "the certificate openssl made");
        switch (names.input()) {
            case SHA1_DIGEST, MESSAGE -> {
                SignatureChecks.assertSha1Signature(certificate, MESSAGE, signature);
                assertArrayEquals(SignatureChecks.opensslSignsSha1(pair.key(), MESSAGE), signature,
                        "the signature openssl makes with the same key");
            }
            case SHA1_DIGEST_INFO -> {
                SignatureChecks.assertRecovers(certificate, data, signature);
                SignatureChecks.assertSha1Signature(certificate, MESSAGE, signature);
            }
            case SHA256_DIGEST_INFO -> {
                SignatureChecks.assertRecovers(certificate, data, signature);
                assertTrue(SignatureChecks.jdkVerifies(certificate, "SHA256withRSA", MESSAGE, signature));
                assertTrue(SignatureChecks.opensslVerifies(SignatureChecks.opensslPublicKey(certificate), "sha256",
                        MESSAGE, signature));
            }
        }
    }

    static Stream<Arguments> unsupportedNamePairs() {
        String[][] pairs = {
            {"SHA", "SHA1withRSA"}, {"SHA", ""}, {"", ""}, {"SHA", "SHA"}, {"RSA", "RSA"}, {"SHA1withRSA", "RSA"},
            {"RSA", "SHA1withRSA"}, {"sha1withrsa", "sha1withrsa"}, {"", "SHA256withRSA"}, {"", "SHA1"},
            {"SHA", "DSA"}, {"", "RSA "}, {"", " RSA"}, {"", "SHA1withRSA\u0000"}, {"", "RSA\u0000"},
            {"SHA", "RSA\u0000SHA"},
        };
        List<Arguments> rows = new ArrayList<>();
        for (String[] pair : pairs) {
            for (int index : new int[] {0, 3}) {
                rows.add(Arguments.of(index, pair[0], pair[1]));
            }
        }
        return rows.stream();
    }

    @ParameterizedTest(name = "identity {0}: \"{1}\" + \"{2}\"")
    @MethodSource("unsupportedNamePairs")
    void otherNamePairsFailWithStatusMinus4(int index, String digest, String signature) {
        assertKeyChainException(SIGN, UNSUPPORTED_ALGORITHM, "Sign Failed",
                () -> identities[index].Sign(SignatureChecks.digest("SHA-1", MESSAGE), digest, signature));
    }

    /** A data length for one name pair and key size, and whether the signer takes it. */
    record Length(int identity, String digest, String signature, int length, boolean signs) {
    }

    static Stream<Length> dataLengths() {
        List<Length> rows = new ArrayList<>();
        // Hashed by the signer: any length.
        for (int length : new int[] {0, 1, 55, 56, 63, 64, 65, 1000, 1 << 20}) {
            rows.add(new Length(0, "", "SHA1withRSA", length, true));
            rows.add(new Length(3, "", "SHA1withRSA", length, true));
        }
        // A SHA-1 digest is 20 bytes.
        for (int length : new int[] {0, 19, 20, 21, 32}) {
            rows.add(new Length(0, "SHA", "RSA", length, length == 20));
            rows.add(new Length(1, "SHA", "RSA", length, length == 20));
        }
        // As given, inside PKCS#1 v1.5 padding: at most the modulus length less 11 bytes.
        for (int length : new int[] {1, 36, 200, 245, 246, 256, 257, 1000}) {
            rows.add(new Length(0, "", "RSA", length, length <= 245));
        }
        for (int length : new int[] {1, 245, 256, 300, 501, 502, 512, 513}) {
            rows.add(new Length(1, "", "RSA", length, length <= 501));
        }
        return rows.stream();
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("dataLengths")
    void signsTheLengthsThePairTakes(Length row) throws KeyChainException {
        KeyChainIdentity identity = identities[row.identity()];
        byte[] data = pattern(row.length());
        if (!row.signs()) {
            KeyChainException e = assertThrows(KeyChainException.class,
                    () -> identity.Sign(data, row.digest(), row.signature()));
            assertEquals(SIGN, e.getWhere());
            assertEquals("Sign Failed", e.getMessage());
            assertNotEquals(0, e.getStatus(), "a failed signing reports its status");
            return;
        }
        byte[] signature = identity.Sign(data, row.digest(), row.signature());
        byte[] certificate = identity.getAttribute(KeyChainIdentity.CERTIFICATE);
        assertEquals(PAIRS.get(row.identity()).bits() / 8, signature.length);
        if (row.signature().equals("RSA") && row.digest().isEmpty()) {
            assertArrayEquals(data, SignatureChecks.jdkRecovers(certificate, signature));
        } else if (row.digest().isEmpty()) {
            assertTrue(SignatureChecks.jdkVerifies(certificate, "SHA1withRSA", data, signature));
        } else {
            byte[] info = SignatureChecks.digestInfo("SHA-1", new byte[0]);
            System.arraycopy(data, 0, info, info.length - 20, 20);
            assertArrayEquals(info, SignatureChecks.jdkRecovers(certificate, signature));
        }
    }

    @Test
    void theKeychainPinDoesNotChangeSigning() throws KeyChainException {
        // PKCS#1 v1.5 is deterministic: a PIN that reached the signer could only fail or match.
        byte[] data = SignatureChecks.digest("SHA-1", MESSAGE);
        for (KeyChainIdentity identity : identities) {
            byte[] without = identity.Sign(data, "SHA", "RSA");
            for (String pin : new String[] {"1234", "", "pïn ✓", "wrong"}) {
                keychain.setPin(pin);
                try {
                    assertArrayEquals(without, identity.Sign(data, "SHA", "RSA"), "PIN '" + pin + "'");
                } finally {
                    keychain.setPin(null);
                }
            }
        }
    }

    @Test
    void nullArgumentsAreRefused() {
        KeyChainIdentity identity = identities[0];
        byte[] data = SignatureChecks.digest("SHA-1", MESSAGE);
        record Row(byte[] data, String digest, String signature, String message) {
        }
        List<Row> rows = List.of(new Row(null, "SHA", "RSA", "Data is NULL"),
                new Row(null, "", "SHA1withRSA", "Data is NULL"),
                new Row(data, null, "RSA", "Algorithm name is NULL"),
                new Row(data, "SHA", null, "Algorithm name is NULL"),
                new Row(data, null, null, "Algorithm name is NULL"),
                new Row(data, "", null, "Algorithm name is NULL"));
        for (Row row : rows) {
            assertKeyChainException(SIGN, BAD_PARAMETER, row.message(),
                    () -> identity.Sign(row.data(), row.digest(), row.signature()));
        }
        KeyChain owner = identity.m_pKeyChain;
        identity.m_pKeyChain = null;
        try {
            assertKeyChainException(SIGN, BAD_PARAMETER, "Identity has no keychain",
                    () -> identity.Sign(data, "SHA", "RSA"));
        } finally {
            identity.m_pKeyChain = owner;
        }
        // None of it cost the identity anything.
        SignatureChecks.assertRecovers(identity.getAttribute(256), SignatureChecks.digestInfo("SHA-1", MESSAGE),
                assertDoesNotFail(() -> identity.Sign(data, "SHA", "RSA")));
    }

    @Test
    void verifyIsRefusedAlways() {
        byte[] data = SignatureChecks.digest("SHA-1", MESSAGE);
        byte[][][] arguments = {{null, null}, {new byte[0], new byte[0]}, {data, null}, {data, new byte[256]}};
        List<KeyChainIdentity> everyone = new ArrayList<>(List.of(identities));
        everyone.add(new KeyChainIdentity(0, keychain));
        everyone.add(new KeyChainIdentity(0, null));
        for (KeyChainIdentity identity : everyone) {
            for (byte[][] pair : arguments) {
                assertKeyChainException("KeyChainIdentity::Verify", -1, "Verify Not Implemented",
                        () -> identity.Verify(pair[0], pair[1]));
            }
        }
    }

    @Test
    void anIdentityWithoutHandleHasNothing() {
        byte[] data = SignatureChecks.digest("SHA-1", MESSAGE);
        KeyChainIdentity none = new KeyChainIdentity(0, keychain);
        for (Names names : SIGNING_NAMES) {
            assertKeyChainException(SIGN, 0, "Sign Failed",
                    () -> none.Sign(names.input().of(MESSAGE), names.digest(), names.signature()));
        }
        for (int selector : new int[] {256, 1, 0, 2}) {
            assertNull(none.getAttribute(selector), "attribute " + selector);
        }
        assertNull(none.getAlias());
        none.Lock();
        none.Release();
        assertEquals(0L, none.m_hIdentity);
        assertKeyChainException(SIGN, 0, "Sign Failed", () -> none.Sign(data, "SHA", "RSA"));
    }

    private interface Signing {
        byte[] sign() throws KeyChainException;
    }

    private static byte[] assertDoesNotFail(Signing signing) {
        try {
            return signing.sign();
        } catch (KeyChainException e) {
            throw new AssertionError("signing failed: " + e, e);
        }
    }
}
