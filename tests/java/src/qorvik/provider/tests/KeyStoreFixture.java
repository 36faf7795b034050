package qorvik.provider.tests;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.AlgorithmParameters;
import java.security.KeyFactory;
import java.security.PrivateKey;
import java.security.interfaces.ECPrivateKey;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.List;
import java.util.concurrent.TimeUnit;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.CryptokiObject;
import qorvik.nat.CryptokiLock;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/**
 * Keys and certificates made by openssl and written to the shared token through the bridge, for
 * the key store's suites; and the external tools (openssl, pkcs11-tool, keytool, jarsigner) run
 * as processes.
 */
final class KeyStoreFixture {
    static final int CKA_CLASS = 0x0;
    static final int CKA_TOKEN = 0x1;
    static final int CKA_PRIVATE = 0x2;
    static final int CKA_LABEL = 0x3;
    static final int CKA_VALUE = 0x11;
    static final int CKA_CERTIFICATE_TYPE = 0x80;
    static final int CKA_KEY_TYPE = 0x100;
    static final int CKA_SUBJECT = 0x101;
    static final int CKA_ID = 0x102;
    static final int CKA_SENSITIVE = 0x103;
    static final int CKA_SIGN = 0x108;
    static final int CKA_VERIFY = 0x10A;
    static final int CKA_MODULUS = 0x120;
    static final int CKA_PUBLIC_EXPONENT = 0x122;
    static final int CKA_PRIVATE_EXPONENT = 0x123;
    static final int CKA_PRIME_1 = 0x124;
    static final int CKA_PRIME_2 = 0x125;
    static final int CKA_EXPONENT_1 = 0x126;
    static final int CKA_EXPONENT_2 = 0x127;
    static final int CKA_COEFFICIENT = 0x128;
    static final int CKA_EC_PARAMS = 0x180;
    static final int CKO_CERTIFICATE = 1;
    static final int CKO_PUBLIC_KEY = 2;
    static final int CKO_PRIVATE_KEY = 3;
    static final int CKO_SECRET_KEY = 4;
    static final int CKK_RSA = 0;
    static final int CKK_EC = 3;
    static final int CKK_AES = 0x1F;
    static final int CKR_PIN_INCORRECT = 0xA0;

    private KeyStoreFixture() {
    }

    /** A key pair and certificate made by openssl, with their files. */
    static final class Identity {
        final String name;
        final Path keyFile;
        final Path certFile;
        final PrivateKey key;
        final X509Certificate cert;

        Identity(String name, Path keyFile, Path certFile) {
            this.name = name;
            this.keyFile = keyFile;
            this.certFile = certFile;
            this.key = readKey(keyFile);
            this.cert = readCertificate(certFile);
        }
    }

    /** A fresh private key file: "rsa" (2048 bits) or "ec" (P-256). */
    private static Path newKey(String name, String kind) {
        Path key = dir().resolve(name + ".key");
        if (kind.equals("rsa")) {
            run("openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", key.toString());
        } else {
            run("openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
                    key.toString());
        }
        return key;
    }

    /** A self-signed CA certificate for CN=name. */
    static Identity selfSigned(String name, String kind) {
        Path key = newKey(name, kind);
        Path cert = dir().resolve(name + ".pem");
        run("openssl", "req", "-x509", "-key", key.toString(), "-subj", "/CN=" + name, "-days", "30",
                "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                "-out", cert.toString());
        return new Identity(name, key, cert);
    }

    /** A certificate for CN=name issued by {@code issuer}: a CA's or a signer's. */
    static Identity issued(String name, String kind, Identity issuer, boolean ca, int serial) {
        Path key = newKey(name, kind);
        Path request = dir().resolve(name + ".csr");
        Path cert = dir().resolve(name + ".pem");
        Path extensions = dir().resolve(name + ".ext");
        write(extensions, ca ? "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"
                : "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n");
        run("openssl", "req", "-new", "-key", key.toString(), "-subj", "/CN=" + name, "-out", request.toString());
        run("openssl", "x509", "-req", "-in", request.toString(), "-CA", issuer.certFile.toString(),
                "-CAkey", issuer.keyFile.toString(), "-set_serial", Integer.toString(serial), "-days", "30",
                "-extfile", extensions.toString(), "-out", cert.toString());
        return new Identity(name, key, cert);
    }

    private static Path dir() {
        Path dir = ProviderSetup.workDir().resolve("keystore");
        try {
            Files.createDirectories(dir);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return dir;
    }

    private static void write(Path file, String text) {
        try {
            Files.writeString(file, text, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    static PrivateKey readKey(Path pem) {
        try {
            String text = Files.readString(pem, StandardCharsets.US_ASCII);
            String body = text.replaceAll("-----[A-Z ]+-----", "").replaceAll("\\s", "");
            PKCS8EncodedKeySpec parameters = new PKCS8EncodedKeySpec(Base64.getDecoder().decode(body));
            try {
                return KeyFactory.getInstance("RSA").generatePrivate(parameters);
            } catch (java.security.spec.InvalidKeySpecException notRsa) {
                return KeyFactory.getInstance("EC").generatePrivate(parameters);
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (java.security.GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    static X509Certificate readCertificate(Path pem) {
        try {
            return (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new ByteArrayInputStream(Files.readAllBytes(pem)));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (java.security.GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    // The token, through the bridge

    /** Work on a session of the shared token. */
    interface SessionWork<T> {
        T run(NativeSession session) throws Exception;
    }

    /**
     * Runs {@code work} on a read-write session of the shared token, opened and closed around it,
     * holding the process-wide lock. The shared provider's own session keeps the login.
     */
    static <T> T onToken(SessionWork<T> work) {
        login();
        try {
            return CryptokiLock.call(() -> {
                NativeSession session = slot().J_OpenSession(0x2 | 0x4);
                try {
                    return work.run(session);
                } finally {
                    session.J_CloseSession();
                }
            });
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
    }

    /** Logs the shared provider in (the login is the token's, so this session has it too). */
    static void login() {
        try {
            ((java.security.AuthProvider) ProviderSetup.provider()).login(null, callbacks -> {
                ((javax.security.auth.callback.PasswordCallback) callbacks[0])
                        .setPassword(ProviderSetup.USER_PIN.toCharArray());
            });
        } catch (javax.security.auth.login.LoginException e) {
            throw new IllegalStateException(e);
        }
    }

    private static NativeSlot slot() throws CryptokiException {
        for (NativeSlot slot : new NativeCryptoki().GetSlotList(true)) {
            if (slot.J_GetTokenInfo().getLabel().trim().equals(ProviderSetup.tokenLabel())) {
                return slot;
            }
        }
        throw new IllegalStateException("no token " + ProviderSetup.tokenLabel());
    }

    /** Writes the private key, and its public key, as token objects. */
    static void putKeyPair(NativeSession s, Identity identity, String label, byte[] id) throws Exception {
        List<Attribute> t = new ArrayList<>(List.of(
                new Attribute(CKA_CLASS, CKO_PRIVATE_KEY), new Attribute(CKA_TOKEN, true),
                new Attribute(CKA_PRIVATE, true), new Attribute(CKA_SENSITIVE, true),
                new Attribute(CKA_SIGN, true), new Attribute(CKA_LABEL, label), new Attribute(CKA_ID, id)));
        List<Attribute> pub = new ArrayList<>(List.of(
                new Attribute(CKA_CLASS, CKO_PUBLIC_KEY), new Attribute(CKA_TOKEN, true),
                new Attribute(CKA_VERIFY, true), new Attribute(CKA_LABEL, label), new Attribute(CKA_ID, id)));
        if (identity.key instanceof RSAPrivateCrtKey) {
            RSAPrivateCrtKey k = (RSAPrivateCrtKey) identity.key;
            t.addAll(List.of(new Attribute(CKA_KEY_TYPE, CKK_RSA),
                    new Attribute(CKA_MODULUS, unsigned(k.getModulus())),
                    new Attribute(CKA_PUBLIC_EXPONENT, unsigned(k.getPublicExponent())),
                    new Attribute(CKA_PRIVATE_EXPONENT, unsigned(k.getPrivateExponent())),
                    new Attribute(CKA_PRIME_1, unsigned(k.getPrimeP())),
                    new Attribute(CKA_PRIME_2, unsigned(k.getPrimeQ())),
                    new Attribute(CKA_EXPONENT_1, unsigned(k.getPrimeExponentP())),
                    new Attribute(CKA_EXPONENT_2, unsigned(k.getPrimeExponentQ())),
                    new Attribute(CKA_COEFFICIENT, unsigned(k.getCrtCoefficient()))));
            RSAPublicKey p = (RSAPublicKey) identity.cert.getPublicKey();
            pub.addAll(List.of(new Attribute(CKA_KEY_TYPE, CKK_RSA),
                    new Attribute(CKA_MODULUS, unsigned(p.getModulus())),
                    new Attribute(CKA_PUBLIC_EXPONENT, unsigned(p.getPublicExponent()))));
        } else {
            ECPrivateKey k = (ECPrivateKey) identity.key;
            AlgorithmParameters params = AlgorithmParameters.getInstance("EC");
            params.init(new ECGenParameterSpec("secp256r1"));
            byte[] oid = params.getEncoded();
            byte[] s32 = fixed(k.getS(), 32);
            t.addAll(List.of(new Attribute(CKA_KEY_TYPE, CKK_EC), new Attribute(CKA_EC_PARAMS, oid),
                    new Attribute(CKA_VALUE, s32)));
            pub = null;
        }
        s.J_CreateObject(t.toArray(new Attribute[0]));
        if (pub != null) {
            s.J_CreateObject(pub.toArray(new Attribute[0]));
        }
    }

    /** Writes a certificate object: a token object, or a session object when {@code tokenObject} is false. */
    static void putCertificate(NativeSession s, X509Certificate cert, String label, byte[] id,
                               boolean tokenObject) throws Exception {
        s.J_CreateObject(new Attribute[] {
            new Attribute(CKA_CLASS, CKO_CERTIFICATE), new Attribute(CKA_CERTIFICATE_TYPE, 0),
            new Attribute(CKA_TOKEN, tokenObject), new Attribute(CKA_PRIVATE, false),
            new Attribute(CKA_LABEL, label), new Attribute(CKA_ID, id),
            new Attribute(CKA_SUBJECT, cert.getSubjectX500Principal().getEncoded()),
            new Attribute(CKA_VALUE, cert.getEncoded())});
    }

    static void putAesKey(NativeSession s, String label, byte[] id) throws Exception {
        byte[] value = new byte[16];
        new java.security.SecureRandom().nextBytes(value);
        s.J_CreateObject(new Attribute[] {
            new Attribute(CKA_CLASS, CKO_SECRET_KEY), new Attribute(CKA_KEY_TYPE, CKK_AES),
            new Attribute(CKA_TOKEN, true), new Attribute(CKA_PRIVATE, true), new Attribute(CKA_SENSITIVE, true),
            new Attribute(CKA_LABEL, label), new Attribute(CKA_ID, id), new Attribute(CKA_VALUE, value)});
    }

    /** The token objects of class {@code objectClass} with {@code id}, by label. */
    static List<String> labelsWithId(int objectClass, byte[] id) {
        return onToken(s -> {
            CryptokiObject[] found = s.J_FindObjects(new Attribute[] {
                new Attribute(CKA_CLASS, objectClass), new Attribute(CKA_ID, id)}, new int[] {CKA_LABEL});
            List<String> labels = new ArrayList<>();
            for (CryptokiObject o : found == null ? new CryptokiObject[0] : found) {
                labels.add(new String((byte[]) o.getAttributes()[0].getValue(), StandardCharsets.UTF_8));
            }
            return labels;
        });
    }

    /** Removes every token object whose label starts with {@code prefix}. */
    static void removeLabelled(String prefix) {
        onToken(s -> {
            long[] all = s.J_FindObjects(new Attribute[] {new Attribute(CKA_TOKEN, true)});
            for (long h : all == null ? new long[0] : all) {
                Object label = s.J_GetAttributeValue(h, CKA_LABEL).getValue();
                if (label instanceof byte[] && new String((byte[]) label, StandardCharsets.UTF_8).startsWith(prefix)) {
                    s.J_DestroyObject(h);
                }
            }
            return null;
        });
    }

    static byte[] unsigned(BigInteger v) {
        byte[] b = v.toByteArray();
        return b.length > 1 && b[0] == 0 ? Arrays.copyOfRange(b, 1, b.length) : b;
    }

    private static byte[] fixed(BigInteger v, int n) {
        byte[] b = unsigned(v);
        byte[] out = new byte[n];
        System.arraycopy(b, 0, out, n - b.length, b.length);
        return out;
    }

    // The key store's token content

    /** The token content every key store suite reads: labels "ks-"; the write suites use "kw-". */
    static final class World {
        final Identity root = selfSigned("ks-root", "rsa");
        final Identity intermediate = issued("ks-intermediate", "ec", root, true, 2);
        final Identity rsa = issued("ks-rsa", "rsa", intermediate, false, 3);
        final Identity ec = issued("ks-ec", "ec", root, false, 4);
        final Identity twin = selfSigned("ks-twin-ca", "ec");
        final Identity lonely = selfSigned("ks-lonely", "rsa");

        private World() {
            removeLabelled("ks-");
            onToken(s -> {
                putKeyPair(s, rsa, "ks-rsa", id(0x01));
                putCertificate(s, rsa.cert, "ks-rsa", id(0x01), true);
                putKeyPair(s, ec, "ks-ec", id(0x02));
                putCertificate(s, ec.cert, "ks-ec-cert", id(0x02), true);
                putCertificate(s, root.cert, "ks-root", new byte[0], true);
                putCertificate(s, intermediate.cert, "ks-intermediate", id(0x0f), true);
                putAesKey(s, "ks-twin", id(0x03));
                putCertificate(s, twin.cert, "ks-twin", id(0x04), true);
                putKeyPair(s, lonely, "ks-lonely", id(0x05));
                putAesKey(s, "ks-aes", id(0x06));
                putCertificate(s, root.cert, "ks-dup", new byte[0], true);
                putCertificate(s, intermediate.cert, "ks-dup", new byte[0], true);
                return null;
            });
        }
    }

    private static World world;

    /** The shared content, written to the token on first use. */
    static synchronized World world() {
        if (world == null) {
            world = new World();
        }
        return world;
    }

    /** The CKA_ID 0x0A, {@code last}. */
    static byte[] id(int last) {
        return new byte[] {0x0a, (byte) last};
    }

    // Processes

    /** A finished process: its exit status and its output (stdout and stderr together). */
    static final class Run {
        final int status;
        final String output;

        Run(int status, String output) {
            this.status = status;
            this.output = output;
        }

        @Override
        public String toString() {
            return "exit " + status + ":\n" + output;
        }
    }

    /** Runs {@code command} (2 minutes at most), inheriting the token's environment. */
    static Run exec(List<String> command) {
        try {
            ProcessBuilder pb = new ProcessBuilder(command).redirectErrorStream(true);
            pb.directory(dir().toFile());
            Process p = pb.start();
            p.getOutputStream().close();
            byte[] out = p.getInputStream().readAllBytes();
            if (!p.waitFor(2, TimeUnit.MINUTES)) {
                p.destroyForcibly();
                throw new IllegalStateException("did not finish: " + command);
            }
            return new Run(p.exitValue(), new String(out, StandardCharsets.UTF_8));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException(e);
        }
    }

    /** Runs a command that must succeed. */
    static String run(String... command) {
        Run r = exec(List.of(command));
        if (r.status != 0) {
            throw new IllegalStateException(String.join(" ", command) + " failed, " + r);
        }
        return r.output;
    }

    /** The JDK's tool {@code name} (keytool, jarsigner, java) of the running JVM. */
    static String jdkTool(String name) {
        return Path.of(System.getProperty("java.home"), "bin", name).toString();
    }
}
