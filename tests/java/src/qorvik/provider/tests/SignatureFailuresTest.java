package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.math.BigInteger;
import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.KeyPair;
import java.security.Signature;
import java.security.SignatureException;
import java.security.interfaces.ECPublicKey;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECParameterSpec;
import java.security.spec.ECPoint;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.stream.Stream;

import javax.crypto.KeyAgreement;

import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.CryptokiException;
import qorvik.provider.tests.SigningKeys.Kind;

/**
 * What goes wrong, and how it is told. A failure of the token reaches the caller as the
 * exception the JCA method declares, whose cause is the bridge's CryptokiException with the
 * function that failed and its code, and whose message names both; the engine and the session
 * pool work again afterwards. Wrong keys and parameters, and malformed ECDSA signatures, are
 * refused before anything reaches the token.
 */
class SignatureFailuresTest {
    private static final int CKR_GENERAL_ERROR = 0x5;
    private static final int CKR_ARGUMENTS_BAD = 0x7;
    private static final int CKR_MECHANISM_INVALID = 0x70;

    @FunctionalInterface
    interface Step {
        void run() throws Exception;
    }

    private static final byte[] SHORT = "short".getBytes(java.nio.charset.StandardCharsets.US_ASCII);

    private static PSSParameterSpec pss(String digest, MGF1ParameterSpec mgf, int salt) {
        return new PSSParameterSpec(digest, "MGF1", mgf, salt, 1);
    }

    /** What fails on the token: algorithm, parameters, data length, the exception, the function and code. */
    static Stream<Arguments> tokenFailures() {
        return Stream.of(
                // More data than the key's modulus holds: the module answers with a general error.
                Arguments.of("NONEwithRSA", null, 246, "J_Sign", CKR_GENERAL_ERROR),
                Arguments.of("NONEwithRSA", null, 4000, "J_Sign", CKR_GENERAL_ERROR),
                // A salt one byte too long for RSA-2048, in one call and past the multi-part threshold.
                Arguments.of("RSASSA-PSS", pss("SHA-256", MGF1ParameterSpec.SHA256, 256 - 32 - 1), 10,
                        "J_SignInit", CKR_MECHANISM_INVALID),
                Arguments.of("RSASSA-PSS", pss("SHA-256", MGF1ParameterSpec.SHA256, 256 - 32 - 1), 100_000,
                        "J_SignInit", CKR_MECHANISM_INVALID),
                // The module wants MGF1 over the message's digest.
                Arguments.of("RSASSA-PSS", pss("SHA-256", MGF1ParameterSpec.SHA1, 32), 10,
                        "J_SignInit", CKR_ARGUMENTS_BAD),
                Arguments.of("RSASSA-PSS", pss("SHA-512", MGF1ParameterSpec.SHA256, 64), 100_000,
                        "J_SignInit", CKR_ARGUMENTS_BAD));
    }

    @ParameterizedTest(name = "{0} {2} bytes: {3} 0x{4}")
    @MethodSource("tokenFailures")
    void aFailingSignatureCarriesTheTokensFailure(String algorithm, PSSParameterSpec params, int length,
                                                   String function, int code) throws Exception {
        KeyPair rsa = SigningKeys.token(Kind.RSA_2048);
        Signature s = Signature.getInstance(algorithm, SigningKeys.provider());
        if (params != null) {
            s.setParameter(params);
        }
        s.initSign(rsa.getPrivate());
        // Past the threshold the operation starts during update(), and fails there.
        SignatureException e = assertThrows(SignatureException.class, () -> {
            s.update(new byte[length]);
            s.sign();
        });
        CryptokiException cause = assertInstanceOf(CryptokiException.class, e.getCause(),
                "the cause is not the bridge's failure");
        assertEquals(function + " 0x" + Integer.toHexString(code),
                cause.getFunctionName() + " 0x" + Integer.toHexString(cause.getCode()));
        String prefix = function + " failed: 0x" + Integer.toHexString(code).toUpperCase() + ": ";
        assertTrue(e.getMessage().startsWith(prefix), "message '" + e.getMessage() + "' lacks " + prefix);

        // The engine is ready again and the pool is sound: a good signature follows.
        if (params != null) {
            s.setParameter(pss("SHA-256", MGF1ParameterSpec.SHA256, 32));
        }
        s.initSign(rsa.getPrivate());
        s.update(SHORT);
        byte[] sig = s.sign();
        Signature v = algorithm.equals("NONEwithRSA") ? null : Signature.getInstance(algorithm, "SunRsaSign");
        if (v != null) {
            v.setParameter(pss("SHA-256", MGF1ParameterSpec.SHA256, 32));
            v.initVerify(rsa.getPublic());
            v.update(SHORT);
            assertTrue(v.verify(sig), "the signature after a failure is wrong");
        } else {
            assertEquals(256, sig.length);
        }
    }

    /** A point that is not on the curve: the derivation fails on the token, with its cause. */
    @ParameterizedTest(name = "{0}")
    @MethodSource("badPoints")
    void aFailingAgreementCarriesTheTokensFailure(String what, ECPoint point) throws Exception {
        KeyPair p256 = SigningKeys.token(Kind.P_256);
        ECParameterSpec params = SigningKeys.paramsOf("secp256r1");
        ECPublicKey bad = new ECPublicKey() {
            private static final long serialVersionUID = 1L;

            @Override
            public ECPoint getW() {
                return point;
            }

            @Override
            public ECParameterSpec getParams() {
                return params;
            }

            @Override
            public String getAlgorithm() {
                return "EC";
            }

            @Override
            public String getFormat() {
                return null;
            }

            @Override
            public byte[] getEncoded() {
                return null;
            }
        };
        KeyAgreement a = KeyAgreement.getInstance("ECDH", SigningKeys.provider());
        a.init(p256.getPrivate());
        InvalidKeyException e = assertThrows(InvalidKeyException.class, () -> a.doPhase(bad, true));
        CryptokiException cause = assertInstanceOf(CryptokiException.class, e.getCause());
        assertEquals("J_DeriveKey", cause.getFunctionName());
        assertTrue(e.getMessage().startsWith("J_DeriveKey failed: 0x"), e.getMessage());
    }

    static Stream<Arguments> badPoints() {
        return Stream.of(Arguments.of("(1, 1)", new ECPoint(BigInteger.ONE, BigInteger.ONE)),
                Arguments.of("(0, 0)", new ECPoint(BigInteger.ZERO, BigInteger.ZERO)));
    }

    /** Misuses refused by the engine itself, each with the exception the JCA declares for it. */
    static Stream<Arguments> misuses() throws Exception {
        KeyPair rsa = SigningKeys.token(Kind.RSA_2048);
        KeyPair ec = SigningKeys.token(Kind.P_256);
        KeyPair ed = SigningKeys.token(Kind.ED25519);
        KeyPair jdkRsa = SigningKeys.jdk(Kind.RSA_2048);
        KeyPair jdkEc = SigningKeys.jdk(Kind.P_256);
        return Stream.of(
                misuse("SHA256withRSA signing with an EC key", InvalidKeyException.class,
                        s("SHA256withRSA"), x -> x.initSign(ec.getPrivate())),
                misuse("SHA256withECDSA signing with an RSA key", InvalidKeyException.class,
                        s("SHA256withECDSA"), x -> x.initSign(rsa.getPrivate())),
                misuse("NONEwithECDSA signing with an Ed25519 key", InvalidKeyException.class,
                        s("NONEwithECDSA"), x -> x.initSign(ed.getPrivate())),
                misuse("Ed25519 signing with an EC key", InvalidKeyException.class,
                        s("Ed25519"), x -> x.initSign(ec.getPrivate())),
                misuse("RSASSA-PSS signing with the JDK's private key", InvalidKeyException.class,
                        s("RSASSA-PSS"), x -> x.initSign(jdkRsa.getPrivate())),
                misuse("SHA256withRSA signing with the JDK's private key", InvalidKeyException.class,
                        s("SHA256withRSA"), x -> x.initSign(jdkRsa.getPrivate())),
                misuse("SHA384withECDSA checking with an RSA public key", InvalidKeyException.class,
                        s("SHA384withECDSA"), x -> x.initVerify(jdkRsa.getPublic())),
                misuse("Ed25519 checking with an EC public key", InvalidKeyException.class,
                        s("Ed25519"), x -> x.initVerify(jdkEc.getPublic())),
                misuse("SHA1withRSA checking with an Ed25519 public key", InvalidKeyException.class,
                        s("SHA1withRSA"), x -> x.initVerify(ed.getPublic())),
                misuse("RSASSA-PSS without parameters", SignatureException.class,
                        s("RSASSA-PSS"), x -> { x.initSign(rsa.getPrivate()); x.update(SHORT); }),
                misuse("RSASSA-PSS with MD5", InvalidAlgorithmParameterException.class,
                        s("RSASSA-PSS"), x -> x.setParameter(pss("MD5", MGF1ParameterSpec.SHA256, 16))),
                misuse("RSASSA-PSS with MGF1 over SHA-512/256", InvalidAlgorithmParameterException.class,
                        s("RSASSA-PSS"), x -> x.setParameter(pss("SHA-256", MGF1ParameterSpec.SHA512_256, 32))),
                misuse("RSASSA-PSS with another mask function", InvalidAlgorithmParameterException.class,
                        s("RSASSA-PSS"), x -> x.setParameter(
                                new PSSParameterSpec("SHA-256", "MGF2", MGF1ParameterSpec.SHA256, 32, 1))),
                misuse("RSASSA-PSS with trailer field 2", InvalidAlgorithmParameterException.class,
                        s("RSASSA-PSS"), x -> x.setParameter(
                                new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 32, 2))),
                misuse("RSASSA-PSS with curve parameters", InvalidAlgorithmParameterException.class,
                        s("RSASSA-PSS"), x -> x.setParameter(new ECGenParameterSpec("secp256r1"))),
                misuse("SHA256withRSA with PSS parameters", InvalidAlgorithmParameterException.class,
                        s("SHA256withRSA"), x -> x.setParameter(PSSParameterSpec.DEFAULT)),
                misuse("signing after initialising for checking", SignatureException.class,
                        s("SHA256withECDSA"), x -> { x.initVerify(jdkEc.getPublic()); x.update(SHORT); x.sign(); }));
    }

    private static Arguments misuse(String what, Class<? extends Exception> expected, Signature s, Use use) {
        return Arguments.of(what, expected, s, use);
    }

    private static Signature s(String algorithm) throws Exception {
        return Signature.getInstance(algorithm, SigningKeys.provider());
    }

    @FunctionalInterface
    interface Use {
        void on(Signature s) throws GeneralSecurityException;
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("misuses")
    void misusesAreRefused(String what, Class<? extends Exception> expected, Signature s, Use use) {
        Exception e = assertThrows(expected, () -> {
            use.on(s);
            s.sign();
        }, what);
        assertNotNull(e.getMessage(), what);
        assertEquals(null, findCryptokiCause(e), what + ": reached the token");
    }

    private static Throwable findCryptokiCause(Throwable t) {
        for (Throwable c = t; c != null; c = c.getCause()) {
            if (c instanceof CryptokiException) {
                return c;
            }
        }
        return null;
    }

    /** Broken DER forms of an ECDSA signature over P-256; each is refused as malformed. */
    static Stream<Arguments> malformedDer() {
        String r = "00c3" + "11".repeat(31);      // 32 bytes, high bit set: one leading zero
        String s = "7f" + "22".repeat(31);
        String good = "3045" + "0221" + r + "0220" + s;
        return Stream.of(
                Arguments.of("empty", ""),
                Arguments.of("an empty sequence", "3000"),
                Arguments.of("an OCTET STRING", "0445" + good.substring(4)),
                Arguments.of("a byte after the sequence", good + "00"),
                Arguments.of("the sequence one byte short", good.substring(0, good.length() - 2)),
                Arguments.of("a long length form for a short length", "308145" + good.substring(4)),
                Arguments.of("a negative r", "3044" + "0220" + "c3" + "11".repeat(31) + "0220" + s),
                Arguments.of("r padded with a needless zero", "3046" + "0221" + "00" + s + "0220" + s),
                Arguments.of("r longer than the order", "3046" + "0221" + "01" + "11".repeat(32) + "0220" + s),
                Arguments.of("s missing", "3023" + "0221" + r),
                Arguments.of("r of length 0", "3024" + "0200" + "0220" + s));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("malformedDer")
    void malformedEcdsaSignaturesAreRefused(String what, String hex) throws Exception {
        Signature v = Signature.getInstance("SHA256withECDSA", SigningKeys.provider());
        v.initVerify(SigningKeys.jdk(Kind.P_256).getPublic());
        v.update(SHORT);
        byte[] der = HexFormat.of().parseHex(hex);
        SignatureException e = assertThrows(SignatureException.class, () -> v.verify(der), what);
        assertTrue(e.getMessage().contains("malformed"), e.getMessage());
        // The engine is ready again for a proper check.
        Signature jdk = Signature.getInstance("SHA256withECDSA", "SunEC");
        jdk.initSign(SigningKeys.jdk(Kind.P_256).getPrivate());
        jdk.update(SHORT);
        byte[] sig = jdk.sign();
        v.update(SHORT);
        assertTrue(v.verify(sig), what + ": the engine does not recover");
        assertTrue(Arrays.equals(der, HexFormat.of().parseHex(hex)), "the caller's array was changed");
    }
}
