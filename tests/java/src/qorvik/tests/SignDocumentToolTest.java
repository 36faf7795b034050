package qorvik.tests;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.CKR_PIN_INCORRECT;
import static qorvik.tests.TestSetup.USER_PIN;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

import qorvik.CryptokiException;
import qorvik.tool.SignDocument;

/** The signing tool, run in-process against a token holding a key pair pkcs11-tool made. */
class SignDocumentToolTest {
    private static final String TOKEN = "sign tool";
    private static final String KEY = "document signer";

    private static Path publicKey;
    private final ByteArrayOutputStream out = new ByteArrayOutputStream();
    private final ByteArrayOutputStream err = new ByteArrayOutputStream();
    private Path document;
    private Path signature;

    @BeforeAll
    static void makeKeyPair() throws CryptokiException {
        TestSetup.loadBridge();
        OwnTokenSuite.createToken(TOKEN);
        Pkcs11Tool.generateRsaKeyPair(TestSetup.softhsm(), TOKEN, USER_PIN, "0a", KEY);
        publicKey = Pkcs11Tool.tempFile();
        Pkcs11Tool.exportPublicKey(TestSetup.softhsm(), TOKEN, "0a", publicKey);
    }

    @AfterAll
    static void removeExportedKey() {
        Pkcs11Tool.delete(publicKey);
    }

    @BeforeEach
    void writeDocument() throws IOException {
        document = Pkcs11Tool.tempFile();
        Files.writeString(document, "Signed through the bridge.\n\u00dcbergabe am Montag.\n", UTF_8);
        signature = Pkcs11Tool.tempFile();
        Files.delete(signature);
    }

    @AfterEach
    void removeFiles() {
        Pkcs11Tool.delete(document);
        Pkcs11Tool.delete(signature);
    }

    private int run(String pin) {
        return SignDocument.run(new String[] {TestSetup.softhsm(), TOKEN, pin, KEY, document.toString(),
                signature.toString()}, new PrintStream(out, true, UTF_8), new PrintStream(err, true, UTF_8));
    }

    @Test
    void signatureFileIsOneOpensslAccepts() throws IOException {
        assertEquals(0, run(USER_PIN), () -> err.toString(UTF_8));
        assertEquals("", err.toString(UTF_8));
        byte[] written = Files.readAllBytes(signature);
        assertEquals(256, written.length);
        assertTrue(OpenSsl.verifies("sha256", publicKey, Files.readAllBytes(document), written),
                "openssl accepts the signature file");
        String report = out.toString(UTF_8);
        assertTrue(report.contains("Verified on the token:  signature valid"), report);
    }

    @Test
    void wrongPinFailsWithTheModulesCodeAndWritesNothing() {
        assertEquals(1, run("0000"));
        assertEquals("J_OpenSession failed: code 0xa0: " + TestSetup.description(CKR_PIN_INCORRECT)
                + System.lineSeparator(), err.toString(UTF_8));
        assertFalse(Files.exists(signature), "no signature file");
    }
}
