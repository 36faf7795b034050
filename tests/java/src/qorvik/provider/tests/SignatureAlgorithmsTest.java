package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.nio.ByteBuffer;
import java.security.AlgorithmParameters;
import java.security.KeyPair;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.Signature;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.stream.Stream;

import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;

import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.provider.tests.SigningKeys.Kind;

/**
 * Every signature algorithm with every key it takes: a signature made through the provider with
 * a key of the token is accepted by the JDK's own provider; a signature made by the JDK is
 * accepted through the provider (its public key imported for the check); tampered data and a
 * tampered signature are refused by both. Data lengths cross the point where the provider moves
 * from one native call to a multi-part operation, and the data arrives whole, in odd chunks and
 * through a direct buffer.
 */
class SignatureAlgorithmsTest {
    /** Lengths for the algorithms that hash: empty, short, the multi-part threshold and past it. */
    private static final int[] HASHED_LENGTHS = {0, 1, 1000, 16 * 1024, 16 * 1024 + 1, 100_000};
    /** Raw RSA: up to the modulus length less the PKCS#1 padding's 11 bytes. */
    private static final int[] RAW_RSA_LENGTHS = {0, 1, 35, 245};
    /** Raw ECDSA: a digest's lengths, and longer than the P-256 order (the leftmost bits count). */
    private static final int[] RAW_EC_LENGTHS = {1, 20, 32, 48, 64};

    enum Feed { WHOLE, CHUNKS, DIRECT_BUFFER }

    static Stream<Arguments> cases() {
        List<Arguments> rows = new ArrayList<>();
        for (String a : List.of("SHA1withRSA", "SHA224withRSA", "SHA256withRSA", "SHA384withRSA",
                "SHA512withRSA")) {
            rows.add(Arguments.of(a, Kind.RSA_2048, null, HASHED_LENGTHS));
        }
        rows.add(Arguments.of("NONEwithRSA", Kind.RSA_2048, null, RAW_RSA_LENGTHS));
        Object[][] pss = {
            {"SHA-1", MGF1ParameterSpec.SHA1, 20},
            {"SHA-224", MGF1ParameterSpec.SHA224, 28},
            {"SHA-256", MGF1ParameterSpec.SHA256, 32},
            {"SHA-256", MGF1ParameterSpec.SHA256, 0},
            {"SHA-256", MGF1ParameterSpec.SHA256, 256 - 32 - 2},
            {"SHA-384", MGF1ParameterSpec.SHA384, 48},
            {"SHA-512", MGF1ParameterSpec.SHA512, 64},
        };
        for (Object[] p : pss) {
            rows.add(Arguments.of("RSASSA-PSS", Kind.RSA_2048,
                    new PSSParameterSpec((String) p[0], "MGF1", (MGF1ParameterSpec) p[1], (Integer) p[2], 1),
                    HASHED_LENGTHS));
        }
        for (Kind curve : List.of(Kind.P_256, Kind.P_384, Kind.P_521)) {
            for (String a : List.of("SHA256withECDSA", "SHA384withECDSA", "SHA512withECDSA")) {
                rows.add(Arguments.of(a, curve, null, HASHED_LENGTHS));
            }
            rows.add(Arguments.of("NONEwithECDSA", curve, null, RAW_EC_LENGTHS));
        }
        rows.add(Arguments.of("Ed25519", Kind.ED25519, null, new int[] {0, 1, 64, 16 * 1024 + 1, 100_000}));
        return rows.stream();
    }

    @ParameterizedTest(name = "{0} {1} {2}")
    @MethodSource("cases")
    void tokenSignaturesPassTheJdkAndJdkSignaturesPassTheToken(String algorithm, Kind kind,
                                                               PSSParameterSpec pss, int[] lengths)
            throws Exception {
        KeyPair token = SigningKeys.token(kind);
        KeyPair jdk = SigningKeys.jdk(kind);
        Signature signer = Signature.getInstance(algorithm, SigningKeys.provider());
        Signature checker = Signature.getInstance(algorithm, SigningKeys.provider());
        Judge jdkSigner = new Judge(algorithm);
        Judge jdkChecker = new Judge(algorithm);
        if (pss != null) {
            signer.setParameter(pss);
            checker.setParameter(pss);
            jdkSigner.setParameter(pss);
            jdkChecker.setParameter(pss);
            AlgorithmParameters given = signer.getParameters();
            PSSParameterSpec back = given.getParameterSpec(PSSParameterSpec.class);
            assertEquals(pss.getSaltLength(), back.getSaltLength());
            assertEquals(pss.getDigestAlgorithm(), back.getDigestAlgorithm());
        } else {
            assertNull(signer.getParameters(), "no parameters for " + algorithm);
        }
        Random random = new Random(algorithm.hashCode() * 31L + kind.ordinal());
        for (int length : lengths) {
            byte[] data = new byte[length];
            random.nextBytes(data);
            for (Feed feed : Feed.values()) {
                String what = algorithm + " " + kind + " " + length + " bytes " + feed;

                // The token signs (the same engine each time: it is ready again after sign()).
                signer.initSign(token.getPrivate());
                feed(signer, data, feed);
                byte[] sig = signer.sign();
                jdkChecker.initVerify(token.getPublic());
                jdkChecker.update(data);
                assertTrue(jdkChecker.verify(sig), what + ": the JDK refuses the token's signature");
                checker.initVerify(token.getPublic());
                feed(checker, data, feed);
                assertTrue(checker.verify(sig), what + ": the provider refuses its own signature");

                // The JDK signs; the provider checks, and refuses what was changed.
                jdkSigner.initSign(jdk.getPrivate());
                jdkSigner.update(data);
                byte[] jdkSig = jdkSigner.sign();
                checker.initVerify(jdk.getPublic());
                feed(checker, data, feed);
                assertTrue(checker.verify(jdkSig), what + ": the provider refuses the JDK's signature");

                byte[] otherData = tampered(data);
                checker.initVerify(jdk.getPublic());
                feed(checker, otherData, feed);
                assertFalse(checker.verify(jdkSig), what + ": a signature of other data accepted");

                byte[] otherSig = jdkSig.clone();
                otherSig[otherSig.length - 1] ^= 0x01;
                checker.initVerify(jdk.getPublic());
                feed(checker, data, feed);
                assertFalse(checker.verify(otherSig), what + ": a changed signature accepted");
                jdkChecker.initVerify(token.getPublic());
                jdkChecker.update(otherData);
                assertFalse(jdkChecker.verify(sig), what + ": the JDK accepts the token's signature "
                        + "for other data");
            }
        }
    }

    /** Deterministic schemes give the JDK's bytes for the same key; the token's are checked here. */
    @ParameterizedTest(name = "{0}")
    @MethodSource("deterministic")
    void deterministicSignaturesRepeat(String algorithm, Kind kind) throws Exception {
        KeyPair token = SigningKeys.token(kind);
        Signature s = Signature.getInstance(algorithm, SigningKeys.provider());
        byte[] data = "the same document, signed twice".getBytes(java.nio.charset.StandardCharsets.US_ASCII);
        s.initSign(token.getPrivate());
        s.update(data);
        byte[] first = s.sign();
        s.update(data);
        byte[] second = s.sign();
        assertArrayEquals(first, second, algorithm + " gave two signatures for the same data");
    }

    static Stream<Arguments> deterministic() {
        return Stream.of(Arguments.of("SHA256withRSA", Kind.RSA_2048), Arguments.of("NONEwithRSA", Kind.RSA_2048),
                Arguments.of("Ed25519", Kind.ED25519));
    }

    /**
     * The JDK's side of an algorithm. The JDK has no NONEwithRSA signature: its RSA cipher with
     * PKCS#1 padding does the same (block type 1 when the private key encrypts).
     */
    static final class Judge {
        private final Signature signature;
        private final Cipher cipher;
        private final ByteArrayOutputStream data = new ByteArrayOutputStream();

        Judge(String algorithm) throws Exception {
            if (algorithm.equals("NONEwithRSA")) {
                signature = null;
                cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding", "SunJCE");
            } else {
                signature = Signature.getInstance(algorithm, SigningKeys.judge(algorithm));
                cipher = null;
            }
        }

        void setParameter(PSSParameterSpec parameters) throws Exception {
            signature.setParameter(parameters);
        }

        void initSign(PrivateKey key) throws Exception {
            if (signature != null) {
                signature.initSign(key);
            } else {
                cipher.init(Cipher.ENCRYPT_MODE, key);
                data.reset();
            }
        }

        void initVerify(PublicKey key) throws Exception {
            if (signature != null) {
                signature.initVerify(key);
            } else {
                cipher.init(Cipher.DECRYPT_MODE, key);
                data.reset();
            }
        }

        void update(byte[] bytes) throws Exception {
            if (signature != null) {
                signature.update(bytes);
            } else {
                data.write(bytes);
            }
        }

        byte[] sign() throws Exception {
            return signature != null ? signature.sign() : cipher.doFinal(data.toByteArray());
        }

        boolean verify(byte[] sig) throws Exception {
            if (signature != null) {
                return signature.verify(sig);
            }
            try {
                return Arrays.equals(cipher.doFinal(sig), data.toByteArray());
            } catch (BadPaddingException e) {
                return false;
            }
        }
    }

    private static void feed(Signature s, byte[] data, Feed feed) throws Exception {
        switch (feed) {
            case WHOLE:
                s.update(data);
                break;
            case CHUNKS: {
                int at = 0;
                int step = 1;
                while (at < data.length) {
                    int n = Math.min(step, data.length - at);
                    s.update(data, at, n);
                    at += n;
                    step = step * 3 + 1; // 1, 4, 13, 40, ... 29524
                }
                break;
            }
            default: {
                ByteBuffer direct = ByteBuffer.allocateDirect(data.length);
                direct.put(data).flip();
                s.update(direct);
                assertEquals(0, direct.remaining());
            }
        }
    }

    private static byte[] tampered(byte[] data) {
        if (data.length == 0) {
            return new byte[] {0};
        }
        byte[] other = Arrays.copyOf(data, data.length);
        other[0] ^= 0x40;
        return other;
    }
}
