package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.NoSuchAlgorithmException;
import java.security.spec.ECGenParameterSpec;
import java.util.Arrays;
import java.util.stream.Stream;

import javax.crypto.KeyAgreement;
import javax.crypto.SecretKey;
import javax.crypto.ShortBufferException;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.provider.tests.SigningKeys.Kind;

/**
 * ECDH through the provider (a private key of the token, the other party's JDK public key)
 * agrees with the JDK's own ECDH on every curve, in both directions, with fresh peers; the secret
 * comes out in each form the API offers; wrong uses fail before anything reaches the token.
 */
class EcdhAgreementTest {
    @ParameterizedTest(name = "{0}")
    @EnumSource(value = Kind.class, names = {"P_256", "P_384", "P_521"})
    void agreesWithTheJdk(Kind curve) throws Exception {
        KeyPair token = SigningKeys.token(curve);
        KeyAgreement ours = KeyAgreement.getInstance("ECDH", SigningKeys.provider());
        ours.init(token.getPrivate());
        int fieldBytes = curve == Kind.P_256 ? 32 : curve == Kind.P_384 ? 48 : 66;
        // Several peers with the same initialised agreement: it is ready again after each secret.
        for (int peer = 0; peer < 4; peer++) {
            KeyPairGenerator g = KeyPairGenerator.getInstance("EC", "SunEC");
            g.initialize(curve.parameters);
            KeyPair other = g.generateKeyPair();

            ours.doPhase(other.getPublic(), true);
            byte[] secret = ours.generateSecret();

            KeyAgreement jdk = KeyAgreement.getInstance("ECDH", "SunEC");
            jdk.init(other.getPrivate());
            jdk.doPhase(token.getPublic(), true);
            byte[] expected = jdk.generateSecret();
            assertEquals(fieldBytes, expected.length);
            assertArrayEquals(expected, secret, curve + " peer " + peer + ": the token's secret differs");

            ours.doPhase(other.getPublic(), true);
            byte[] into = new byte[fieldBytes + 5];
            assertEquals(fieldBytes, ours.generateSecret(into, 3));
            assertArrayEquals(expected, Arrays.copyOfRange(into, 3, 3 + fieldBytes));
            assertEquals(0, into[0] | into[1] | into[2] | into[into.length - 2] | into[into.length - 1]);

            ours.doPhase(other.getPublic(), true);
            SecretKey aes = ours.generateSecret("AES");
            assertEquals("AES", aes.getAlgorithm());
            assertArrayEquals(Arrays.copyOf(expected, 32), aes.getEncoded());

            ours.doPhase(other.getPublic(), true);
            SecretKey premaster = ours.generateSecret("TlsPremasterSecret");
            assertArrayEquals(expected, premaster.getEncoded());
        }
    }

    /** Each misuse: what is done, and the exception it must end in. */
    static Stream<Arguments> misuses() throws Exception {
        KeyPair p256 = SigningKeys.token(Kind.P_256);
        KeyPair p384Jdk = SigningKeys.jdk(Kind.P_384);
        KeyPair p256Jdk = SigningKeys.jdk(Kind.P_256);
        KeyPair rsa = SigningKeys.token(Kind.RSA_2048);
        return Stream.of(
                Arguments.of("a peer on another curve", InvalidKeyException.class,
                        (Use) a -> { a.init(p256.getPrivate()); a.doPhase(p384Jdk.getPublic(), true); }),
                Arguments.of("an RSA peer", InvalidKeyException.class,
                        (Use) a -> { a.init(p256.getPrivate()); a.doPhase(rsa.getPublic(), true); }),
                Arguments.of("an RSA private key", InvalidKeyException.class,
                        (Use) a -> a.init(rsa.getPrivate())),
                Arguments.of("the JDK's private key", InvalidKeyException.class,
                        (Use) a -> a.init(p256Jdk.getPrivate())),
                Arguments.of("parameters", InvalidAlgorithmParameterException.class,
                        (Use) a -> a.init(p256.getPrivate(), new ECGenParameterSpec("secp256r1"))),
                Arguments.of("a phase that is not the last", IllegalStateException.class,
                        (Use) a -> { a.init(p256.getPrivate()); a.doPhase(p256Jdk.getPublic(), false); }),
                Arguments.of("a secret before any phase", IllegalStateException.class,
                        (Use) a -> { a.init(p256.getPrivate()); a.generateSecret(); }),
                Arguments.of("a second secret from one phase", IllegalStateException.class,
                        (Use) a -> {
                            a.init(p256.getPrivate());
                            a.doPhase(p256Jdk.getPublic(), true);
                            a.generateSecret();
                            a.generateSecret();
                        }),
                Arguments.of("a buffer too short", ShortBufferException.class,
                        (Use) a -> {
                            a.init(p256.getPrivate());
                            a.doPhase(p256Jdk.getPublic(), true);
                            a.generateSecret(new byte[40], 9);
                        }),
                Arguments.of("a key algorithm it cannot make", NoSuchAlgorithmException.class,
                        (Use) a -> {
                            a.init(p256.getPrivate());
                            a.doPhase(p256Jdk.getPublic(), true);
                            a.generateSecret("Blowfish");
                        }));
    }

    @FunctionalInterface
    interface Use {
        void on(KeyAgreement agreement) throws GeneralSecurityException;
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("misuses")
    void misusesFail(String what, Class<? extends Throwable> expected, Use use) throws Exception {
        KeyAgreement a = KeyAgreement.getInstance("ECDH", SigningKeys.provider());
        Throwable t = assertThrows(expected, () -> use.on(a), what);
        assertTrue(t.getMessage() != null && !t.getMessage().isEmpty(), what + ": no message");
    }

    /** A secret is taken once: after a short buffer, the secret is still there for a proper one. */
    @Test
    void aShortBufferKeepsTheSecret() throws Exception {
        KeyPair token = SigningKeys.token(Kind.P_256);
        KeyPair other = SigningKeys.jdk(Kind.P_256);
        KeyAgreement a = KeyAgreement.getInstance("ECDH", SigningKeys.provider());
        a.init(token.getPrivate());
        a.doPhase(other.getPublic(), true);
        assertThrows(ShortBufferException.class, () -> a.generateSecret(new byte[31], 0));
        KeyAgreement jdk = KeyAgreement.getInstance("ECDH", "SunEC");
        jdk.init(other.getPrivate());
        jdk.doPhase(token.getPublic(), true);
        assertArrayEquals(jdk.generateSecret(), a.generateSecret());
    }
}
