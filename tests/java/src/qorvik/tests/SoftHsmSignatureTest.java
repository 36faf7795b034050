package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.*;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

import qorvik.CryptokiException;
import qorvik.Mechanism;

/**
 * RSA and ECDSA signatures made through the bridge with key pairs pkcs11-tool generated, in every
 * output form, single- and multi-part; each checked by openssl against the public key pkcs11-tool
 * exported and by the token through the bridge.
 */
class SoftHsmSignatureTest extends OwnTokenSuite {
    private static final String TOKEN = "signatures";
    private static final byte[] RSA_ID = {1};
    private static final byte[] EC_ID = {2};
    private static final byte[] DOCUMENT = pattern(1500);
    private static final Mechanism RSA_PKCS = new Mechanism(CKM_RSA_PKCS);
    private static final Mechanism SHA256_RSA = new Mechanism(CKM_SHA256_RSA_PKCS);
    private static final Mechanism ECDSA = new Mechanism(CKM_ECDSA);

    private static Path rsaPublic;
    private static Path ecPublic;

    @BeforeAll
    static void makeKeyPairs() throws CryptokiException {
        createToken(TOKEN);
        Pkcs11Tool.generateKeyPair(TestSetup.softhsm(), TOKEN, USER_PIN, "rsa:2048", "01", "rsa");
        Pkcs11Tool.generateKeyPair(TestSetup.softhsm(), TOKEN, USER_PIN, "EC:prime256v1", "02", "ec");
        rsaPublic = Pkcs11Tool.tempFile();
        Pkcs11Tool.exportPublicKey(TestSetup.softhsm(), TOKEN, "01", rsaPublic);
        ecPublic = Pkcs11Tool.tempFile();
        Pkcs11Tool.exportPublicKey(TestSetup.softhsm(), TOKEN, "02", ecPublic);
    }

    @AfterAll
    static void removeExportedKeys() {
        Pkcs11Tool.delete(rsaPublic);
        Pkcs11Tool.delete(ecPublic);
    }

    @Override
    protected String tokenLabel() {
        return TOKEN;
    }

    @Test
    void rsaSignaturesAreAlikeInEveryFormAndOpensslAcceptsThem() throws CryptokiException {
        long key = object(CKO_PRIVATE_KEY, RSA_ID);
        byte[] info = sha256DigestInfo(DOCUMENT);
        byte[] signature = session.J_Sign(handle, true, RSA_PKCS, key, info, 0, info.length);
        assertEquals(256, signature.length);
        assertTrue(OpenSsl.verifies("sha256", rsaPublic, DOCUMENT, signature), "openssl accepts the signature");

        // PKCS #1 v1.5 is deterministic: every other way of signing must give the same bytes
        byte[] framed = embed(DOCUMENT, 7, 12);
        assertArrayEquals(signature, session.J_Sign(handle, true, SHA256_RSA, key, framed, 7, DOCUMENT.length),
                "CKM_SHA256_RSA_PKCS over the document");

        // filling form: the length query starts the operation, the second call ends it
        assertEquals(256, session.J_Sign(handle, true, RSA_PKCS, key, info, 0, info.length, null, 0));
        byte[] out = filled(256 + 9);
        assertEquals(256, session.J_Sign(handle, false, null, 0, info, 0, info.length, out, 5));
        assertWindow(signature, out, 5);

        session.J_SignUpdate(handle, true, SHA256_RSA, key, framed, 7, 100);
        session.J_SignUpdate(handle, false, null, 0, framed, 107, DOCUMENT.length - 100);
        assertArrayEquals(signature, session.J_SignFinal(), "multi-part, returning final");

        session.J_SignInit(handle, SHA256_RSA, key);
        session.J_SignUpdate(handle, false, null, 0, DOCUMENT, 0, DOCUMENT.length);
        assertEquals(256, session.J_SignFinal(null, 0));
        byte[] last = filled(256 + 3);
        assertEquals(256, session.J_SignFinal(last, 3));
        assertWindow(signature, last, 3);

        long publicKey = object(CKO_PUBLIC_KEY, RSA_ID);
        byte[] framedSignature = embed(signature, 2, 4);
        session.J_Verify(handle, true, RSA_PKCS, publicKey, info, 0, info.length, signature, 0, signature.length);
        session.J_Verify(handle, true, SHA256_RSA, publicKey, framed, 7, DOCUMENT.length, framedSignature, 2, 256);
        session.J_VerifyUpdate(handle, true, SHA256_RSA, publicKey, DOCUMENT, 0, 500);
        session.J_VerifyUpdate(handle, false, null, 0, DOCUMENT, 500, DOCUMENT.length - 500);
        session.J_VerifyFinal(framedSignature, 2, 256);
    }

    @Test
    void rsaVerificationRefusesAlteredSignaturesDocumentsAndLengths() throws CryptokiException {
        long publicKey = object(CKO_PUBLIC_KEY, RSA_ID);
        byte[] signature = session.J_Sign(handle, true, SHA256_RSA, object(CKO_PRIVATE_KEY, RSA_ID),
                DOCUMENT, 0, DOCUMENT.length);
        byte[] tampered = signature.clone();
        tampered[100] ^= 0x01;
        byte[] changed = DOCUMENT.clone();
        changed[DOCUMENT.length - 1] ^= 0x01;
        assertFalse(OpenSsl.verifies("sha256", rsaPublic, DOCUMENT, tampered), "openssl refuses it too");

        assertFailsDescribed("J_Verify", CKR_SIGNATURE_INVALID, () -> session.J_Verify(handle, true, SHA256_RSA,
                publicKey, DOCUMENT, 0, DOCUMENT.length, tampered, 0, tampered.length));
        assertFailsDescribed("J_Verify", CKR_SIGNATURE_INVALID, () -> session.J_Verify(handle, true, SHA256_RSA,
                publicKey, changed, 0, changed.length, signature, 0, signature.length));
        session.J_VerifyUpdate(handle, true, SHA256_RSA, publicKey, DOCUMENT, 0, DOCUMENT.length);
        assertFailsDescribed("J_VerifyFinal", CKR_SIGNATURE_INVALID, () -> session.J_VerifyFinal(tampered, 0, 256));
        // SoftHSM2 checks the length before the value: one byte short is a length failure
        session.J_VerifyUpdate(handle, true, SHA256_RSA, publicKey, DOCUMENT, 0, DOCUMENT.length);
        assertFailsDescribed("J_VerifyFinal", CKR_SIGNATURE_LEN_RANGE,
                () -> session.J_VerifyFinal(signature, 0, 255));

        // each refusal ended its verification: the genuine signature starts a new one and passes
        session.J_Verify(handle, true, SHA256_RSA, publicKey, DOCUMENT, 0, DOCUMENT.length, signature, 0, 256);
    }

    @Test
    void ecdsaSignaturesVerifyOnTheTokenAndWithOpenssl() throws CryptokiException {
        long key = object(CKO_PRIVATE_KEY, EC_ID);
        long publicKey = object(CKO_PUBLIC_KEY, EC_ID);
        byte[] hash = sha256(DOCUMENT);
        List<byte[]> signatures = new ArrayList<>();
        signatures.add(session.J_Sign(handle, true, ECDSA, key, embed(hash, 3, 3), 3, hash.length));

        assertEquals(64, session.J_Sign(handle, true, ECDSA, key, hash, 0, hash.length, null, 0));
        byte[] out = filled(64 + 11);
        assertEquals(64, session.J_Sign(handle, false, null, 0, hash, 0, hash.length, out, 8));
        byte[] filledSignature = Arrays.copyOfRange(out, 8, 72);
        assertWindow(filledSignature, out, 8);
        signatures.add(filledSignature);

        if (offers(CKM_ECDSA_SHA256)) {
            Mechanism withHash = new Mechanism(CKM_ECDSA_SHA256);
            signatures.add(session.J_Sign(handle, true, withHash, key, DOCUMENT, 0, DOCUMENT.length));
            session.J_SignUpdate(handle, true, withHash, key, DOCUMENT, 0, 700);
            session.J_SignUpdate(handle, false, null, 0, DOCUMENT, 700, DOCUMENT.length - 700);
            signatures.add(session.J_SignFinal());
        }

        for (byte[] signature : signatures) {
            String shown = HexFormat.of().formatHex(signature);
            assertEquals(64, signature.length, shown);
            assertTrue(OpenSsl.verifies("sha256", ecPublic, DOCUMENT, OpenSsl.ecdsaDer(signature)),
                    () -> "openssl accepts " + shown);
            session.J_Verify(handle, true, ECDSA, publicKey, hash, 0, hash.length, signature, 0, 64);
        }
        // ECDSA signs with a fresh random number each time
        assertEquals(signatures.size(), signatures.stream().map(HexFormat.of()::formatHex).distinct().count());

        byte[] tampered = signatures.get(0).clone();
        tampered[5] ^= 0x40;
        assertFalse(OpenSsl.verifies("sha256", ecPublic, DOCUMENT, OpenSsl.ecdsaDer(tampered)));
        assertFailsDescribed("J_Verify", CKR_SIGNATURE_INVALID,
                () -> session.J_Verify(handle, true, ECDSA, publicKey, hash, 0, hash.length, tampered, 0, 64));
    }
}
