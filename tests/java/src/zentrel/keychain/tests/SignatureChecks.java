package zentrel.keychain.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.nio.file.Path;
import java.security.GeneralSecurityException;
import java.security.MessageDigest;
import java.security.PublicKey;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.HexFormat;

import javax.crypto.Cipher;

/**
 * Two independent judges of an RSA PKCS#1 v1.5 signature: the JDK (Signature and Cipher) and the
 * openssl program, both given the public key of the certificate the bridge returned.
 */
final class SignatureChecks {
    private static final String SHA1_PREFIX = "3021300906052b0e03021a05000414";
    private static final String SHA256_PREFIX = "3031300d060960864801650304020105000420";

    private SignatureChecks() {
    }

    static X509Certificate certificate(byte[] der) {
        try {
            return (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new ByteArrayInputStream(der));
        } catch (GeneralSecurityException e) {
            throw new AssertionError("the certificate does not parse", e);
        }
    }

    static PublicKey publicKey(byte[] certificateDer) {
        return certificate(certificateDer).getPublicKey();
    }

    static byte[] digest(String algorithm, byte[] data) {
        try {
            return MessageDigest.getInstance(algorithm).digest(data);
        } catch (GeneralSecurityException e) {
            throw new AssertionError(e);
        }
    }

    /** DigestInfo of a SHA-1 ("SHA-1") or SHA-256 ("SHA-256") digest of {@code data}. */
    static byte[] digestInfo(String algorithm, byte[] data) {
        String prefix = switch (algorithm) {
            case "SHA-1" -> SHA1_PREFIX;
            case "SHA-256" -> SHA256_PREFIX;
            default -> throw new AssertionError("no DigestInfo prefix for " + algorithm);
        };
        byte[] head = HexFormat.of().parseHex(prefix);
        byte[] hash = digest(algorithm, data);
        byte[] info = new byte[head.length + hash.length];
        System.arraycopy(head, 0, info, 0, head.length);
        System.arraycopy(hash, 0, info, head.length, hash.length);
        return info;
    }

    /** Whether the JDK accepts {@code signature} over {@code message} ("SHA1withRSA", "SHA256withRSA"). */
    static boolean jdkVerifies(byte[] certificateDer, String algorithm, byte[] message, byte[] signature) {
        try {
            Signature verifier = Signature.getInstance(algorithm);
            verifier.initVerify(publicKey(certificateDer));
            verifier.update(message);
            return verifier.verify(signature);
        } catch (GeneralSecurityException e) {
            throw new AssertionError(e);
        }
    }

    /** The block the JDK recovers from a PKCS#1 v1.5 signature: what was signed, padding removed. */
    static byte[] jdkRecovers(byte[] certificateDer, byte[] signature) {
        try {
            Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding");
            cipher.init(Cipher.DECRYPT_MODE, publicKey(certificateDer));
            return cipher.doFinal(signature);
        } catch (GeneralSecurityException e) {
            throw new AssertionError("the JDK recovers nothing from the signature", e);
        }
    }

    /** The certificate's public key as PEM, extracted by openssl from the DER the bridge returned. */
    static Path opensslPublicKey(byte[] certificateDer) {
        Path der = Keychains.scratch(".der");
        Path pem = Keychains.scratch(".pub");
        Keychains.write(der, certificateDer);
        Keychains.openssl("x509", "-inform", "DER", "-in", der.toString(), "-pubkey", "-noout", "-out",
                pem.toString());
        return pem;
    }

    /** Whether {@code openssl dgst -DIGEST -verify} accepts {@code signature} over {@code message}. */
    static boolean opensslVerifies(Path publicKey, String digest, byte[] message, byte[] signature) {
        Path in = Keychains.scratch(".in");
        Path sig = Keychains.scratch(".sig");
        Keychains.write(in, message);
        Keychains.write(sig, signature);
        Keychains.Outcome outcome = Keychains.run(java.util.List.of("openssl", "dgst", "-" + digest, "-verify",
                publicKey.toString(), "-signature", sig.toString(), in.toString()));
        boolean ok = outcome.status() == 0 && outcome.output().contains("Verified OK");
        if (!ok && !outcome.output().contains("Verification failure")) {
            throw new AssertionError("openssl could not check the signature:\n" + outcome.output());
        }
        return ok;
    }

    /** What {@code openssl pkeyutl -verifyrecover} recovers from {@code signature}. */
    static byte[] opensslRecovers(Path publicKey, byte[] signature) {
        Path sig = Keychains.scratch(".sig");
        Path out = Keychains.scratch(".out");
        Keychains.write(sig, signature);
        Keychains.openssl("pkeyutl", "-verifyrecover", "-pubin", "-inkey", publicKey.toString(), "-in",
                sig.toString(), "-out", out.toString());
        return Keychains.read(out);
    }

    /** {@code openssl dgst -sha1 -sign KEY} over {@code message}: PKCS#1 v1.5 is deterministic. */
    static byte[] opensslSignsSha1(Path privateKey, byte[] message) {
        Path in = Keychains.scratch(".in");
        Path out = Keychains.scratch(".sig");
        Keychains.write(in, message);
        Keychains.openssl("dgst", "-sha1", "-sign", privateKey.toString(), "-out", out.toString(), in.toString());
        return Keychains.read(out);
    }

    /** Asserts that both judges accept a SHA-1 PKCS#1 v1.5 signature of {@code message}. */
    static void assertSha1Signature(byte[] certificateDer, byte[] message, byte[] signature) {
        assertTrue(jdkVerifies(certificateDer, "SHA1withRSA", message, signature), "the JDK rejects the signature");
        assertTrue(opensslVerifies(opensslPublicKey(certificateDer), "sha1", message, signature),
                "openssl rejects the signature");
    }

    /** Asserts that both judges recover exactly {@code signed} from the signature. */
    static void assertRecovers(byte[] certificateDer, byte[] signed, byte[] signature) {
        assertArrayEquals(signed, jdkRecovers(certificateDer, signature), "the block the JDK recovers");
        assertArrayEquals(signed, opensslRecovers(opensslPublicKey(certificateDer), signature),
                "the block openssl recovers");
    }
}
