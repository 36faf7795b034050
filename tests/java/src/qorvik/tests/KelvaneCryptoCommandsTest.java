package qorvik.tests;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.USER_PIN;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;
import qorvik.tool.cli.Kelvane;

/**
 * The key and data subcommands of kelvane, run in-process as a user runs them, on a SoftHSM2
 * token of their own: each one's output and exit status, signatures openssl accepts, keys and
 * certificates openssl made imported and used, and a 100 MiB file signed, digested and
 * encrypted in parts with openssl's results.
 */
class KelvaneCryptoCommandsTest {
    private static final String TOKEN = "kelvane crypto";
    private static final Pattern ID = Pattern.compile("\\(ID ([0-9a-f]+)\\)");
    private static final byte[] AES_KEY = HexFormat.of().parseHex(
            "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    private static final String AES_IV = "f0e1d2c3b4a5968778695a4b3c2d1e0f";

    private static Path dir;
    /** Public key files (DER) of the generated key pairs, by label. */
    private static final Map<String, Path> PUBLIC_KEYS = new java.util.HashMap<>();

    private record Run(int status, String out, String err, byte[] bytes) {
    }

    @BeforeAll
    static void makeTokenAndKeys() throws Exception {
        TestSetup.loadBridge();
        OwnTokenSuite.createToken(TOKEN);
        dir = Files.createTempDirectory("kelvane-crypto");
        for (String[] key : new String[][] {{"rsa:2048", "rsa"}, {"ec:P-256", "p256"}, {"ec:ed25519", "ed"}}) {
            Run made = kelvane("generate-key", key[0], "--label", key[1]);
            assertEquals(0, made.status(), made.err());
            Path der = dir.resolve(key[1] + ".der");
            if (!key[1].equals("ed")) {
                Pkcs11Tool.exportPublicKey(TestSetup.softhsm(), TOKEN, id(made.out()), der);
                PUBLIC_KEYS.put(key[1], der);
            }
        }
        createAesKey("known aes", AES_KEY);
    }

    @AfterAll
    static void removeFiles() throws IOException {
        try (Stream<Path> files = Files.list(dir)) {
            files.forEach(Pkcs11Tool::delete);
        }
        Files.deleteIfExists(dir);
    }

    private static String id(String generated) {
        Matcher m = ID.matcher(generated);
        assertTrue(m.find(), generated);
        return m.group(1);
    }

    /** An AES key of a value the test knows, made through the bridge as any program would. */
    private static void createAesKey(String label, byte[] value) throws CryptokiException {
        NativeCryptoki cryptoki = new NativeCryptoki();
        NativeCryptoki.loadCryptokiLibrary(TestSetup.softhsm());
        cryptoki.Initialize(null);
        try {
            for (NativeSlot slot : cryptoki.GetSlotList(true)) {
                if (slot.J_GetTokenInfo().getLabel().trim().equals(TOKEN)) {
                    NativeSession session = slot.J_OpenSession(TestSetup.CKF_SERIAL_SESSION | TestSetup.CKF_RW_SESSION,
                            TestSetup.CKU_USER, USER_PIN);
                    session.J_CreateObject(new Attribute[] {
                        new Attribute(TestSetup.CKA_CLASS, TestSetup.CKO_SECRET_KEY),
                        new Attribute(TestSetup.CKA_KEY_TYPE, TestSetup.CKK_AES),
                        new Attribute(TestSetup.CKA_TOKEN, true), new Attribute(TestSetup.CKA_LABEL, label),
                        new Attribute(TestSetup.CKA_ENCRYPT, true), new Attribute(TestSetup.CKA_DECRYPT, true),
                        new Attribute(TestSetup.CKA_VALUE, value)});
                    session.J_CloseSession();
                }
            }
        } finally {
            cryptoki.Finalize(null);
        }
    }

    private static Run kelvane(String... args) {
        return kelvaneWithPin(USER_PIN, args);
    }

    private static Run kelvaneWithPin(String pin, String... args) {
        List<String> all = new ArrayList<>(List.of("--module", TestSetup.softhsm(), "--token", TOKEN));
        all.addAll(Arrays.asList(args));
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        int status = Kelvane.run(all.toArray(new String[0]), new PrintStream(out, true, UTF_8),
                new PrintStream(err, true, UTF_8), Map.of("KELVANE_PIN", pin, "HOME", dir.toString()), null);
        return new Run(status, out.toString(UTF_8), err.toString(UTF_8), out.toByteArray());
    }

    private static Path write(String name, byte[] data) throws IOException {
        return Files.write(dir.resolve(name), data);
    }

    private static String openssl(String... args) {
        List<String> command = new ArrayList<>(List.of("openssl"));
        command.addAll(Arrays.asList(args));
        return Pkcs11Tool.exec(command);
    }

    /** Key types, what generate-key says, or its usage error's text. */
    static Stream<Arguments> keyTypes() {
        return Stream.of(
                Arguments.of("rsa:1024", 0, "Generated RSA 1024-bit key pair 'g' \\(ID [0-9a-f]{40}\\): "
                        + "public key handle \\d+, private key handle \\d+"),
                Arguments.of("ec:prime256v1", 0, "Generated EC P-256 key pair 'g' \\(ID [0-9a-f]{40}\\).*"),
                Arguments.of("ec:P-521", 0, "Generated EC P-521 key pair 'g' \\(ID [0-9a-f]{40}\\).*"),
                Arguments.of("ec:Ed25519", 0, "Generated Ed25519 key pair 'g' \\(ID [0-9a-f]{40}\\).*"),
                Arguments.of("aes:128", 0, "Generated AES 128-bit secret key 'g' \\(ID \\(none\\)\\): handle \\d+"),
                Arguments.of("aes:256", 0, "Generated AES 256-bit secret key 'g' \\(ID \\(none\\)\\): handle \\d+"),
                Arguments.of("rsa:1000", 2, "RSA keys are 1024 to 16384 bits, a multiple of 8: rsa:1000"),
                Arguments.of("ec:P-999", 2, "unknown curve 'P-999' \\(known: .*"),
                Arguments.of("aes:100", 2, "AES keys are 128, 192 or 256 bits: aes:100"),
                Arguments.of("dsa:2048", 2, "a key is rsa:BITS, ec:CURVE or aes:BITS, not 'dsa:2048'"));
    }

    @ParameterizedTest(name = "generate-key {0}")
    @MethodSource("keyTypes")
    void generateKeySaysWhatItMade(String keyType, int status, String expected) {
        Run run = kelvane("generate-key", keyType, "--label", "g");
        assertEquals(status, run.status(), run.err());
        String shown = status == 0 ? run.out().strip() : run.err().lines().findFirst().orElse("");
        assertTrue(shown.matches(expected), shown);
    }

    /** Key label, mechanism (null: the key type's default), how openssl checks the signature. */
    static Stream<Arguments> signatures() {
        return Stream.of(
                Arguments.of("rsa", null, "sha256", List.of()),
                Arguments.of("rsa", "sha384-rsa-pkcs", "sha384", List.of()),
                Arguments.of("rsa", "sha512-rsa-pkcs-pss", "sha512",
                        List.of("rsa_padding_mode:pss", "rsa_pss_saltlen:64")),
                Arguments.of("p256", null, "sha256", List.of()),
                Arguments.of("p256", "ecdsa-sha512", "sha512", List.of()),
                Arguments.of("p256", "ecdsa-sha384", "sha384", List.of()),
                Arguments.of("ed", null, null, List.of()));
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("signatures")
    void signaturesOpensslAcceptsVerifyAndTamperingGivesExit3(String key, String mechanism, String digest,
                                                              List<String> sigopts) throws IOException {
        byte[] data = new byte[3 * (1 << 20) + 17];
        Arrays.fill(data, (byte) 0x5A);
        Path document = write("document", data);
        Path signature = dir.resolve("document.sig");
        List<String> sign = new ArrayList<>(List.of("sign", document.toString(), "--label", key, "-o",
                signature.toString()));
        if (mechanism != null) {
            sign.addAll(List.of("-m", mechanism));
        }
        Run signed = kelvane(sign.toArray(new String[0]));
        assertEquals(0, signed.status(), signed.err());
        assertTrue(signed.out().startsWith("Signed " + document + " with "), signed.out());
        byte[] bytes = Files.readAllBytes(signature);
        // pkcs11-tool here exports no Ed25519 public key openssl reads; EdDSA is checked on the token only.
        assertTrue(digest == null || OpenSsl.verifies(digest, PUBLIC_KEYS.get(key), data, bytes, sigopts),
                "openssl accepts it");

        List<String> verify = new ArrayList<>(List.of("verify", document.toString(), "--label", key, "-s",
                signature.toString()));
        if (mechanism != null) {
            verify.addAll(List.of("-m", mechanism));
        }
        Run good = kelvane(verify.toArray(new String[0]));
        assertEquals(0, good.status(), good.err());
        assertTrue(good.out().startsWith("Signature valid"), good.out());

        data[data.length / 2] ^= 1;
        write("document", data);
        Run bad = kelvane(verify.toArray(new String[0]));
        assertEquals(3, bad.status(), bad.err());
        assertEquals("Signature invalid\n", bad.out());
        assertTrue(bad.err().contains("0xC0 CKR_SIGNATURE_INVALID"), bad.err());
    }

    /** openssl's command making the file, and the kind import reports. */
    static Stream<Arguments> importedFiles() {
        return Stream.of(
                Arguments.of("rsa-pkcs8.pem", "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out %s",
                        "RSA private key", true),
                Arguments.of("rsa-traditional.pem", "genrsa -traditional -out %s 2048", "RSA private key", true),
                Arguments.of("ec-sec1.pem", "ecparam -name prime256v1 -genkey -out %s", "EC private key", true),
                Arguments.of("ec-pkcs8.der", "genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -outform DER "
                        + "-out %s", "EC private key", true),
                Arguments.of("ed25519.pem", "genpkey -algorithm ED25519 -out %s", "EdDSA private key", true),
                Arguments.of("rsa-public.pem", "pkey -in " + "%1$s.key -pubout -out %1$s", "RSA public key", false),
                Arguments.of("ec-public.der", "pkey -in %1$s.key -pubout -outform DER -out %1$s", "EC public key", false),
                Arguments.of("rsa-pkcs1-public.pem", "rsa -in %1$s.key -RSAPublicKey_out -out %1$s", "RSA public key",
                        false),
                Arguments.of("certificate.pem", "req -x509 -key %1$s.key -subj /CN=kelvane-import -days 2 -out %1$s",
                        "certificate of 'CN=kelvane-import'", false),
                Arguments.of("certificate.der", "req -x509 -key %1$s.key -subj /CN=kelvane-der -days 2 -outform DER "
                        + "-out %1$s", "certificate of 'CN=kelvane-der'", false));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("importedFiles")
    void importTakesWhatOpensslWrites(String name, String command, String kind, boolean privateKey)
            throws IOException {
        Path file = dir.resolve(name);
        Path key = dir.resolve(name + ".key");
        if (!privateKey) {
            String algorithm = name.startsWith("ec") ? "EC -pkeyopt ec_paramgen_curve:P-256" : "RSA";
            openssl(("genpkey -algorithm " + algorithm + " -out " + key).split(" "));
        }
        openssl(String.format(command, file).split(" "));
        String label = "imported " + name;
        Run run = kelvane("import", file.toString(), "--label", label);
        assertEquals(0, run.status(), run.err());
        // An Ed25519 private key file carries no public half to take the ID from.
        String id = kind.startsWith("EdDSA") ? "\\(none\\)" : "[0-9a-f]{40}";
        assertTrue(run.out().matches("Imported " + Pattern.quote(kind) + " '" + Pattern.quote(label)
                + "' \\(ID " + id + "\\): handle \\d+\\n"), run.out());
        if (!privateKey) {
            // The ID is the public value's SHA-1, the same for the key openssl made it from.
            return;
        }
        // The imported key signs what openssl verifies with the file's own public half.
        Path publicKey = dir.resolve(name + ".pub");
        openssl("pkey", "-in", file.toString(), "-inform", name.endsWith(".der") ? "DER" : "PEM", "-pubout",
                "-outform", "DER", "-out", publicKey.toString());
        byte[] data = "imported and used".getBytes(UTF_8);
        Path document = write("imported.txt", data);
        Path signature = dir.resolve("imported.sig");
        Run signed = kelvane("sign", document.toString(), "--label", label, "-o", signature.toString());
        assertEquals(0, signed.status(), signed.err());
        byte[] bytes = Files.readAllBytes(signature);
        assertTrue(name.startsWith("ed") ? OpenSsl.verifiesRaw(publicKey, data, bytes)
                : OpenSsl.verifies("sha256", publicKey, data, bytes), "openssl accepts the imported key's signature");
    }

    @Test
    void importRefusesWhatIsNoKey() throws IOException {
        Path file = write("not-a-key.pem", "-----BEGIN EC PARAMETERS-----\nBggqhkjOPQMBBw==\n-----END EC PARAMETERS-----\n"
                .getBytes(UTF_8));
        Run run = kelvane("import", file.toString(), "--label", "nothing");
        assertEquals(1, run.status());
        assertEquals("kelvane: " + file + ": no private key, public key or certificate in the PEM file\n", run.err());
    }

    @Test
    void hundredMebibytesSignedDigestedAndEncryptedInPartsAsOpensslDoes() throws IOException {
        Path big = dir.resolve("big.bin");
        byte[] block = new byte[1 << 20];
        try (OutputStream out = Files.newOutputStream(big)) {
            for (int i = 0; i < 100; i++) {
                Arrays.fill(block, (byte) i);
                block[i] = (byte) ~i;
                out.write(block);
            }
        }
        try {
            Run digest = kelvane("digest", big.toString(), "-m", "sha512");
            assertEquals(0, digest.status(), digest.err());
            String expected = openssl("dgst", "-sha512", "-r", big.toString()).split(" ")[0];
            assertEquals(expected + "  " + big + "\n", digest.out());

            Path signature = dir.resolve("big.sig");
            Run sign = kelvane("sign", big.toString(), "--label", "rsa", "-o", signature.toString());
            assertEquals(0, sign.status(), sign.err());
            String verified = Pkcs11Tool.exec(List.of("openssl", "dgst", "-sha256", "-keyform", "DER", "-verify",
                    PUBLIC_KEYS.get("rsa").toString(), "-signature", signature.toString(), big.toString()));
            assertTrue(verified.contains("Verified OK"), verified);

            Path mine = dir.resolve("big.enc");
            Path theirs = dir.resolve("big.openssl");
            Run encrypt = kelvane("encrypt", big.toString(), "--label", "known aes", "--iv", AES_IV, "-o",
                    mine.toString());
            assertEquals(0, encrypt.status(), encrypt.err());
            openssl("enc", "-aes-256-cbc", "-K", HexFormat.of().formatHex(AES_KEY), "-iv", AES_IV, "-in",
                    big.toString(), "-out", theirs.toString());
            assertEquals(Files.size(theirs), Files.size(mine));
            assertEquals(-1L, Files.mismatch(mine, theirs), "the same ciphertext as openssl's");

            Path back = dir.resolve("big.dec");
            Run decrypt = kelvane("decrypt", mine.toString(), "--label", "known aes", "--iv", AES_IV, "-o",
                    back.toString());
            assertEquals(0, decrypt.status(), decrypt.err());
            assertEquals(-1L, Files.mismatch(big, back), "decrypted back");
        } finally {
            for (String name : new String[] {"big.bin", "big.sig", "big.enc", "big.openssl", "big.dec"}) {
                Files.deleteIfExists(dir.resolve(name));
            }
        }
    }

    /** AES modes with a random IV kept in the file, round trips through the token, against openssl. */
    static Stream<Arguments> ciphers() {
        return Stream.of(Arguments.of("aes-cbc-pad", "aes-256-cbc", 16, 1000),
                Arguments.of("aes-ctr", "aes-256-ctr", 16, 1000),
                Arguments.of("aes-cbc", "aes-256-cbc -nopad", 16, 1024),
                Arguments.of("aes-gcm", null, 12, 1000),
                Arguments.of("aes-cbc-pad", "aes-256-cbc", 16, 0));
    }

    @ParameterizedTest(name = "{0}, {3} bytes")
    @MethodSource("ciphers")
    void encryptKeepsTheIvAndDecryptReadsItBack(String mechanism, String opensslCipher, int ivLength, int length)
            throws IOException {
        byte[] data = new byte[length];
        for (int i = 0; i < length; i++) {
            data[i] = (byte) (i * 7);
        }
        Path plain = write("plain", data);
        Path encrypted = dir.resolve("plain.enc");
        Run encrypt = kelvane("encrypt", plain.toString(), "--label", "known aes", "-m", mechanism, "-o",
                encrypted.toString());
        assertEquals(0, encrypt.status(), encrypt.err());
        byte[] file = Files.readAllBytes(encrypted);
        byte[] iv = Arrays.copyOf(file, ivLength);
        if (opensslCipher != null) {
            Path theirs = dir.resolve("plain.openssl");
            List<String> command = new ArrayList<>(List.of("enc", "-K", HexFormat.of().formatHex(AES_KEY), "-iv",
                    HexFormat.of().formatHex(iv), "-in", plain.toString(), "-out", theirs.toString()));
            for (String part : opensslCipher.split(" ")) {
                command.add(1, part.startsWith("-") ? part : "-" + part);
            }
            openssl(command.toArray(new String[0]));
            assertArrayEquals(Files.readAllBytes(theirs), Arrays.copyOfRange(file, ivLength, file.length));
        }
        Path back = dir.resolve("plain.dec");
        Run decrypt = kelvane("decrypt", encrypted.toString(), "--label", "known aes", "-m", mechanism, "-o",
                back.toString());
        assertEquals(0, decrypt.status(), decrypt.err());
        assertArrayEquals(data, Files.readAllBytes(back));
    }

    /** Command lines the data commands refuse, with their exit status and the first line of the error. */
    static Stream<Arguments> refusals() {
        return Stream.of(
                Arguments.of(new String[] {"sign", "%s", "-o", "%s.sig"}, 2, "name the key with --label or --id"),
                Arguments.of(new String[] {"sign", "%s", "--label", "nobody"}, 1,
                        "kelvane: no private key labelled 'nobody' on the token"),
                Arguments.of(new String[] {"sign", "%s", "--label", "rsa", "-m", "ecdsa-sha256"}, 2,
                        "ecdsa-sha256 does not go with the key's type"),
                Arguments.of(new String[] {"sign", "%s", "--label", "rsa", "-m", "md4"}, 2,
                        "unknown signature mechanism 'md4' \\(known: sha256-rsa-pkcs, .*"),
                Arguments.of(new String[] {"digest", "%s", "-m", "sha3"}, 2, "unknown digest 'sha3' .*"),
                Arguments.of(new String[] {"digest", "%s.missing"}, 1, "kelvane: cannot read .*"),
                Arguments.of(new String[] {"encrypt", "%s", "--label", "known aes", "--iv", "00", "-o", "%s.x"}, 2,
                        "aes-cbc-pad takes a 16-byte IV, not 1"),
                Arguments.of(new String[] {"verify", "%s", "--label", "p256", "-s", "%s"}, 3,
                        "kelvane: .* is not a DER ECDSA signature of this curve"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusals")
    void refusalsNameTheProblem(String[] pattern, int status, String expected) throws IOException {
        Path file = write("refused", "some data".getBytes(UTF_8));
        String[] args = Arrays.stream(pattern).map(a -> a.replace("%s", file.toString())).toArray(String[]::new);
        Run run = kelvane(args);
        assertEquals(status, run.status(), run.err());
        String first = run.err().lines().findFirst().orElse("");
        assertTrue(first.matches(expected), first);
    }

    @Test
    void aWrongPinFailsWithTheNamedCode() throws IOException {
        Path file = write("pin", "x".getBytes(UTF_8));
        Run run = kelvaneWithPin("0000", "sign", file.toString(), "--label", "rsa", "-o", dir.resolve("pin.sig")
                .toString());
        assertEquals(1, run.status());
        assertTrue(run.err().matches("kelvane: J_\\w+ failed: 0xA0 CKR_PIN_INCORRECT\\n"), run.err());
        assertTrue(Files.notExists(dir.resolve("pin.sig")));
    }
}
