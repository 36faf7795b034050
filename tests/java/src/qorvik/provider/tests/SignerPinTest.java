package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.InputStream;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.Signature;
import java.security.SignatureException;
import java.security.cert.X509Certificate;
import java.security.interfaces.ECPrivateKey;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.provider.KelvaneProvider;

/**
 * Keys that ask for the PIN on each use (CKA_ALWAYS_AUTHENTICATE): the provider gives the signer
 * PIN by a context-specific login after starting each signature, in one call and in parts, from
 * the configured signerPin or else the login PIN. A wrong signer PIN fails with the token's
 * CKR_PIN_INCORRECT as cause and leaves the user's login as it was.
 */
class SignerPinTest {
    private static final int CKA_CLASS = 0x0;
    private static final int CKA_TOKEN = 0x1;
    private static final int CKA_PRIVATE = 0x2;
    private static final int CKA_LABEL = 0x3;
    private static final int CKA_VALUE = 0x11;
    private static final int CKA_CERTIFICATE_TYPE = 0x80;
    private static final int CKA_KEY_TYPE = 0x100;
    private static final int CKA_SUBJECT = 0x101;
    private static final int CKA_ID = 0x102;
    private static final int CKA_SENSITIVE = 0x103;
    private static final int CKA_SIGN = 0x108;
    private static final int CKA_MODULUS = 0x120;
    private static final int CKA_PUBLIC_EXPONENT = 0x122;
    private static final int CKA_PRIVATE_EXPONENT = 0x123;
    private static final int CKA_PRIME_1 = 0x124;
    private static final int CKA_PRIME_2 = 0x125;
    private static final int CKA_EXPONENT_1 = 0x126;
    private static final int CKA_EXPONENT_2 = 0x127;
    private static final int CKA_COEFFICIENT = 0x128;
    private static final int CKA_EC_PARAMS = 0x180;
    private static final int CKA_ALWAYS_AUTHENTICATE = 0x202;
    private static final int CKO_CERTIFICATE = 1;
    private static final int CKO_PRIVATE_KEY = 3;
    private static final int CKK_RSA = 0;
    private static final int CKK_EC = 3;
    private static final int CKM_ECDSA = 0x1041;
    private static final int CKR_PIN_INCORRECT = 0xA0;
    private static final int CKR_USER_NOT_LOGGED_IN = 0x101;

    private static final String RSA = "sig-always-rsa";
    private static final String EC = "sig-always-ec";

    /** The store's private key and its certificate, by label. */
    private static final Map<String, PrivateKey> KEYS = new HashMap<>();
    private static final Map<String, X509Certificate> CERTS = new HashMap<>();
    private static final Map<String, Long> HANDLES = new HashMap<>();

    /**
     * Keys and self-signed certificates made by keytool, written to the token with
     * CKA_ALWAYS_AUTHENTICATE, then read back through the provider's key store.
     */
    @BeforeAll
    static void keysThatAskForThePin() throws Exception {
        Path store = ProviderSetup.workDir().resolve("sig-always.p12");
        Files.deleteIfExists(store);
        keytool("-genkeypair", "-alias", RSA, "-keyalg", "RSA", "-keysize", "2048", "-dname", "CN=" + RSA,
                "-keystore", store.toString(), "-storetype", "PKCS12", "-storepass", "changeit", "-validity", "30");
        keytool("-genkeypair", "-alias", EC, "-keyalg", "EC", "-groupname", "secp256r1", "-dname", "CN=" + EC,
                "-keystore", store.toString(), "-storetype", "PKCS12", "-storepass", "changeit", "-validity", "30");
        KeyStore p12 = KeyStore.getInstance("PKCS12");
        try (InputStream in = Files.newInputStream(store)) {
            p12.load(in, "changeit".toCharArray());
        }
        byte id = 0x51;
        for (String label : List.of(RSA, EC)) {
            PrivateKey key = (PrivateKey) p12.getKey(label, "changeit".toCharArray());
            X509Certificate cert = (X509Certificate) p12.getCertificate(label);
            byte[] ckaId = {0x5a, id++};
            Attribute[] template = privateTemplate(key, label, ckaId);
            byte[] certDer = cert.getEncoded();
            long handle = SigningKeys.onToken(s -> {
                s.J_CreateObject(new Attribute[] {
                    new Attribute(CKA_CLASS, CKO_CERTIFICATE), new Attribute(CKA_CERTIFICATE_TYPE, 0),
                    new Attribute(CKA_TOKEN, true), new Attribute(CKA_LABEL, label), new Attribute(CKA_ID, ckaId),
                    new Attribute(CKA_SUBJECT, cert.getSubjectX500Principal().getEncoded()),
                    new Attribute(CKA_VALUE, certDer)});
                return s.J_CreateObject(template);
            });
            HANDLES.put(label, handle);
            CERTS.put(label, cert);
        }
        KeyStore ks = KeyStore.getInstance("Kelvane", SigningKeys.provider());
        ks.load(null, null);
        for (String label : List.of(RSA, EC)) {
            PrivateKey key = (PrivateKey) ks.getKey(label, null);
            assertNotNull(key, "the key store has no key " + label);
            assertEquals(CERTS.get(label), ks.getCertificate(label));
            KEYS.put(label, key);
        }
    }

    private static Attribute[] privateTemplate(PrivateKey key, String label, byte[] id) throws Exception {
        List<Attribute> t = new ArrayList<>(List.of(
                new Attribute(CKA_CLASS, CKO_PRIVATE_KEY), new Attribute(CKA_TOKEN, true),
                new Attribute(CKA_PRIVATE, true), new Attribute(CKA_SENSITIVE, true),
                new Attribute(CKA_SIGN, true), new Attribute(CKA_ALWAYS_AUTHENTICATE, true),
                new Attribute(CKA_LABEL, label), new Attribute(CKA_ID, id)));
        if (key instanceof RSAPrivateCrtKey) {
            RSAPrivateCrtKey k = (RSAPrivateCrtKey) key;
            t.add(new Attribute(CKA_KEY_TYPE, CKK_RSA));
            t.add(new Attribute(CKA_MODULUS, unsigned(k.getModulus())));
            t.add(new Attribute(CKA_PUBLIC_EXPONENT, unsigned(k.getPublicExponent())));
            t.add(new Attribute(CKA_PRIVATE_EXPONENT, unsigned(k.getPrivateExponent())));
            t.add(new Attribute(CKA_PRIME_1, unsigned(k.getPrimeP())));
            t.add(new Attribute(CKA_PRIME_2, unsigned(k.getPrimeQ())));
            t.add(new Attribute(CKA_EXPONENT_1, unsigned(k.getPrimeExponentP())));
            t.add(new Attribute(CKA_EXPONENT_2, unsigned(k.getPrimeExponentQ())));
            t.add(new Attribute(CKA_COEFFICIENT, unsigned(k.getCrtCoefficient())));
        } else {
            ECPrivateKey k = (ECPrivateKey) key;
            java.security.AlgorithmParameters p = java.security.AlgorithmParameters.getInstance("EC");
            p.init(k.getParams());
            t.add(new Attribute(CKA_KEY_TYPE, CKK_EC));
            t.add(new Attribute(CKA_EC_PARAMS, p.getEncoded()));
            byte[] s = unsigned(k.getS());
            byte[] fixed = new byte[32];
            System.arraycopy(s, 0, fixed, 32 - s.length, s.length);
            t.add(new Attribute(CKA_VALUE, fixed));
        }
        return t.toArray(new Attribute[0]);
    }

    private static byte[] unsigned(BigInteger v) {
        byte[] b = v.toByteArray();
        return b.length > 1 && b[0] == 0 ? java.util.Arrays.copyOfRange(b, 1, b.length) : b;
    }

    private static void keytool(String... args) throws Exception {
        List<String> command = new ArrayList<>();
        command.add(Path.of(System.getProperty("java.home"), "bin", "keytool").toString());
        command.addAll(List.of(args));
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(p.waitFor(120, TimeUnit.SECONDS), "keytool did not finish");
        assertEquals(0, p.exitValue(), "keytool " + String.join(" ", args) + ": " + out);
    }

    /** The keys really ask for the PIN: signing on the token without the second login is refused. */
    @Test
    void theTokenRefusesTheKeysWithoutTheSecondLogin() throws Exception {
        long handle = HANDLES.get(EC);
        CryptokiException e = assertThrows(CryptokiException.class, () -> SigningKeys.onToken(s ->
                s.J_Sign(s.getSessionHandle(), true, new Mechanism(CKM_ECDSA), handle, new byte[32], 0, 32)));
        assertEquals(CKR_USER_NOT_LOGGED_IN, e.getCode());
    }

    /** Which provider signs: the shared one (login PIN), or one configured with a signerPin file. */
    static Stream<Arguments> signings() {
        List<Arguments> rows = new ArrayList<>();
        PSSParameterSpec pss = new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 32, 1);
        for (String signer : List.of("login PIN", "signerPin file")) {
            rows.add(Arguments.of(signer, "SHA256withECDSA", EC, null, 100));
            rows.add(Arguments.of(signer, "NONEwithECDSA", EC, null, 32));
            rows.add(Arguments.of(signer, "SHA256withRSA", RSA, null, 100));
            rows.add(Arguments.of(signer, "SHA256withRSA", RSA, null, 100_000));
            rows.add(Arguments.of(signer, "RSASSA-PSS", RSA, pss, 100));
            rows.add(Arguments.of(signer, "RSASSA-PSS", RSA, pss, 100_000));
        }
        return rows.stream();
    }

    @ParameterizedTest(name = "{0}: {1} {4} bytes")
    @MethodSource("signings")
    void eachSignatureGivesTheSignerPin(String signer, String algorithm, String label, PSSParameterSpec pss,
                                        int length) throws Exception {
        Provider p = signer.equals("login PIN") ? SigningKeys.provider() : configured("signer", "1234");
        Signature s = Signature.getInstance(algorithm, p);
        Signature jdk = Signature.getInstance(algorithm, SigningKeys.judge(algorithm));
        if (pss != null) {
            s.setParameter(pss);
            jdk.setParameter(pss);
        }
        byte[] data = new byte[length];
        // Three signatures in a row: each one needs its own second login.
        for (int i = 0; i < 3; i++) {
            data[0] = (byte) i;
            s.initSign(KEYS.get(label));
            s.update(data);
            byte[] sig = s.sign();
            jdk.initVerify(CERTS.get(label).getPublicKey());
            jdk.update(data);
            assertTrue(jdk.verify(sig), signer + " " + algorithm + " signature " + i + " refused by the JDK");
        }
    }

    /** A wrong or missing signer PIN: the signature fails with its reason, and the login holds. */
    static Stream<Arguments> wrongSignerPins() {
        return Stream.of(
                Arguments.of("wrong", "SHA256withECDSA", EC, 100),
                Arguments.of("wrong", "SHA256withRSA", RSA, 100),
                Arguments.of("wrong", "SHA256withRSA", RSA, 100_000),
                Arguments.of("unset", "SHA256withECDSA", EC, 100),
                Arguments.of("unset", "SHA256withRSA", RSA, 100_000));
    }

    @ParameterizedTest(name = "{0} signer PIN: {1} {3} bytes")
    @MethodSource("wrongSignerPins")
    void aSignerPinThatFailsIsReported(String pin, String algorithm, String label, int length) throws Exception {
        Provider p = pin.equals("wrong") ? configured("wrongsigner", "9999") : configuredEnv("nosigner");
        Signature s = Signature.getInstance(algorithm, p);
        s.initSign(KEYS.get(label));
        SignatureException e = assertThrows(SignatureException.class, () -> {
            s.update(new byte[length]);
            s.sign();
        });
        if (pin.equals("wrong")) {
            CryptokiException cause = assertInstanceOf(CryptokiException.class, e.getCause());
            assertEquals("J_Login", cause.getFunctionName());
            assertEquals(CKR_PIN_INCORRECT, cause.getCode());
            assertTrue(e.getMessage().startsWith("J_Login failed: 0xA0: "), e.getMessage());
        } else {
            assertTrue(e.getMessage().contains("no signer PIN"), e.getMessage());
        }
        // The user is still logged in, and a right signer PIN still signs.
        Signature again = Signature.getInstance(algorithm, SigningKeys.provider());
        again.initSign(KEYS.get(label));
        again.update(new byte[length]);
        byte[] sig = again.sign();
        Signature jdk = Signature.getInstance(algorithm, SigningKeys.judge(algorithm));
        jdk.initVerify(CERTS.get(label).getPublicKey());
        jdk.update(new byte[length]);
        assertTrue(jdk.verify(sig));
    }

    private static final Map<String, Provider> CONFIGURED = new HashMap<>();

    /** A second provider on the shared token whose signerPin is read from a file holding {@code pin}. */
    private static synchronized Provider configured(String name, String pin) {
        return CONFIGURED.computeIfAbsent(name, n -> KelvaneProvider.configure(Map.of(
                "library", ProviderSetup.softhsm(), "name", n, "tokenLabel", ProviderSetup.tokenLabel(),
                "pin", "file:" + ProviderSetup.pinFile(),
                "signerPin", "file:" + ProviderSetup.write("sig-" + n + ".pin", pin + "\n"))));
    }

    /** A provider whose signerPin names an environment variable that is not set. */
    private static synchronized Provider configuredEnv(String name) {
        return CONFIGURED.computeIfAbsent(name, n -> KelvaneProvider.configure(Map.of(
                "library", ProviderSetup.softhsm(), "name", n, "tokenLabel", ProviderSetup.tokenLabel(),
                "pin", "file:" + ProviderSetup.pinFile(), "signerPin", "env:KELVANE_TEST_UNSET_SIGNER_PIN")));
    }
}
