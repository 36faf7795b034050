package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.math.BigInteger;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidParameterException;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.interfaces.ECKey;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.EdECPublicKey;
import java.security.interfaces.RSAKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.DSAParameterSpec;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.RSAKeyGenParameterSpec;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.Attribute;
import qorvik.nat.NativeSession;

/**
 * Key pairs generated on the token: each way of choosing the size or curve gives the key asked
 * for, whose private half stays on the token (no encoding, usable for signing, a session object
 * and never a token object) and is gone from the token once the application drops it.
 */
class KeyPairGeneratorTest {
    private static final int CKA_CLASS = 0x0;
    private static final int CKA_TOKEN = 0x1;
    private static final int CKO_PRIVATE_KEY = 3;

    /** algorithm, how it is initialised (null: the default, Integer: a size, else parameters), expected size or curve. */
    static Stream<Arguments> choices() throws Exception {
        return Stream.of(
                Arguments.of("RSA", null, "2048 65537"),
                Arguments.of("RSA", 1024, "1024 65537"),
                Arguments.of("RSA", 3072, "3072 65537"),
                Arguments.of("RSA", new RSAKeyGenParameterSpec(2048, BigInteger.valueOf(3)), "2048 3"),
                Arguments.of("RSA", new RSAKeyGenParameterSpec(1536, BigInteger.valueOf(65539)), "1536 65539"),
                Arguments.of("EC", null, "secp256r1"),
                Arguments.of("EC", 256, "secp256r1"),
                Arguments.of("EC", 384, "secp384r1"),
                Arguments.of("EC", 521, "secp521r1"),
                Arguments.of("EC", new ECGenParameterSpec("secp384r1"), "secp384r1"),
                Arguments.of("EC", new ECGenParameterSpec("NIST P-521"), "secp521r1"),
                Arguments.of("EC", new ECGenParameterSpec("1.2.840.10045.3.1.7"), "secp256r1"),
                Arguments.of("EC", SigningKeys.paramsOf("secp384r1"), "secp384r1"),
                Arguments.of("Ed25519", null, "Ed25519"),
                Arguments.of("Ed25519", 255, "Ed25519"));
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("choices")
    void generatesTheKeyAskedFor(String algorithm, Object init, String expected) throws Exception {
        KeyPairGenerator g = KeyPairGenerator.getInstance(algorithm, SigningKeys.provider());
        if (init instanceof Integer) {
            g.initialize((Integer) init);
        } else if (init != null) {
            g.initialize((AlgorithmParameterSpec) init);
        }
        KeyPair pair = g.generateKeyPair();
        PrivateKey priv = pair.getPrivate();
        assertNull(priv.getEncoded(), "the private key's value left the token");
        assertNull(priv.getFormat());
        String got;
        String signWith;
        switch (algorithm) {
            case "RSA": {
                RSAPublicKey pub = assertInstanceOf(RSAPublicKey.class, pair.getPublic());
                assertEquals(pub.getModulus(), assertInstanceOf(RSAKey.class, priv).getModulus());
                got = pub.getModulus().bitLength() + " " + pub.getPublicExponent();
                signWith = "SHA256withRSA";
                break;
            }
            case "EC": {
                ECPublicKey pub = assertInstanceOf(ECPublicKey.class, pair.getPublic());
                got = SigningKeys.curveName(pub.getParams());
                assertEquals(got, SigningKeys.curveName(assertInstanceOf(ECKey.class, priv).getParams()));
                signWith = "SHA256withECDSA";
                break;
            }
            default:
                got = assertInstanceOf(EdECPublicKey.class, pair.getPublic()).getParams().getName();
                signWith = "Ed25519";
        }
        assertEquals(expected, got);
        // The halves belong together: the token's signature passes the JDK with the public half.
        Signature s = Signature.getInstance(signWith, SigningKeys.provider());
        s.initSign(priv);
        s.update(expected.getBytes(java.nio.charset.StandardCharsets.UTF_8));
        byte[] sig = s.sign();
        Signature v = Signature.getInstance(signWith, SigningKeys.judge(signWith));
        v.initVerify(pair.getPublic());
        v.update(expected.getBytes(java.nio.charset.StandardCharsets.UTF_8));
        assertTrue(v.verify(sig), algorithm + " " + init + ": the halves do not match");
    }

    static Stream<Arguments> refusals() {
        return Stream.of(
                Arguments.of("RSA", 511, InvalidParameterException.class),
                Arguments.of("RSA", 16385, InvalidParameterException.class),
                Arguments.of("RSA", new RSAKeyGenParameterSpec(2048, BigInteger.valueOf(4)),
                        InvalidAlgorithmParameterException.class),
                Arguments.of("RSA", new RSAKeyGenParameterSpec(2048, BigInteger.ONE),
                        InvalidAlgorithmParameterException.class),
                Arguments.of("RSA", new ECGenParameterSpec("secp256r1"), InvalidAlgorithmParameterException.class),
                Arguments.of("EC", 255, InvalidParameterException.class),
                Arguments.of("EC", 2048, InvalidParameterException.class),
                Arguments.of("EC", new ECGenParameterSpec("no-such-curve"), InvalidAlgorithmParameterException.class),
                Arguments.of("EC", new RSAKeyGenParameterSpec(2048, RSAKeyGenParameterSpec.F4),
                        InvalidAlgorithmParameterException.class),
                Arguments.of("EC", new DSAParameterSpec(BigInteger.TEN, BigInteger.TWO, BigInteger.ONE),
                        InvalidAlgorithmParameterException.class),
                Arguments.of("Ed25519", 256, InvalidParameterException.class),
                Arguments.of("Ed25519", new ECGenParameterSpec("secp256r1"), InvalidAlgorithmParameterException.class));
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("refusals")
    void refusesWhatItCannotMake(String algorithm, Object init, Class<? extends Exception> expected)
            throws Exception {
        KeyPairGenerator g = KeyPairGenerator.getInstance(algorithm, SigningKeys.provider());
        Exception e = assertThrows(expected, () -> {
            if (init instanceof Integer) {
                g.initialize((Integer) init);
            } else {
                g.initialize((AlgorithmParameterSpec) init);
            }
        });
        assertTrue(e.getMessage() != null && !e.getMessage().isEmpty());
    }

    /**
     * Generated keys are session objects: the token's own objects do not grow, and once the
     * application drops the keys their session objects are destroyed (within a generous wait for
     * the collector).
     */
    @Test
    void generatedKeysAreSessionObjectsDestroyedWhenDropped() throws Exception {
        int tokenBefore = privateKeys(true);
        int sessionBefore = privateKeys(false);
        List<KeyPair> held = new ArrayList<>();
        KeyPairGenerator g = KeyPairGenerator.getInstance("EC", SigningKeys.provider());
        for (int i = 0; i < 20; i++) {
            held.add(g.generateKeyPair());
        }
        assertEquals(tokenBefore, privateKeys(true), "generated keys became token objects");
        assertTrue(privateKeys(false) >= sessionBefore + 20, "the generated keys are not session objects");
        held.clear();
        long deadline = System.nanoTime() + 60_000_000_000L;
        int now = privateKeys(false);
        while (now > sessionBefore && System.nanoTime() < deadline) {
            System.gc();
            Thread.sleep(100);
            now = privateKeys(false);
        }
        assertTrue(now <= sessionBefore, "dropped keys left " + (now - sessionBefore) + " objects on the token");
    }

    private static int privateKeys(boolean tokenObjects) throws Exception {
        return SigningKeys.onToken((NativeSession s) -> {
            long[] found = s.J_FindObjects(new Attribute[] {
                new Attribute(CKA_CLASS, CKO_PRIVATE_KEY), new Attribute(CKA_TOKEN, tokenObjects)});
            return found == null ? 0 : found.length;
        });
    }
}
