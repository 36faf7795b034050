package qorvik.provider;

import java.util.List;
import java.util.Map;

/**
 * The provider's ciphers, digests, MACs, random generator and secret key generators. Ciphers are
 * registered by full transformation, so that "AES/GCM/NoPadding" finds its engine directly.
 */
final class CipherServices {
    private CipherServices() {
    }

    static void register(Registrar r) {
        for (TokenCipher.Kind k : TokenCipher.Kind.values()) {
            r.add("Cipher", k.transformation, cipherAliases(k.transformation), TokenCipher::new);
        }
        r.add("Cipher", "RSA/ECB/PKCS1Padding", TokenRsaCipher::new);
        r.add("Cipher", "RSA/ECB/OAEPPadding", List.of("RSA/ECB/OAEPWithSHA-1AndMGF1Padding",
                "RSA/ECB/OAEPWithSHA1AndMGF1Padding"), TokenRsaCipher::new);

        r.add("MessageDigest", "MD5", List.of("1.2.840.113549.2.5"), TokenDigest::new);
        r.add("MessageDigest", "SHA-1", List.of("SHA1", "SHA", "1.3.14.3.2.26"), TokenDigest::new);
        r.add("MessageDigest", "SHA-224", List.of("SHA224", "2.16.840.1.101.3.4.2.4"), TokenDigest::new);
        r.add("MessageDigest", "SHA-256", List.of("SHA256", "2.16.840.1.101.3.4.2.1"), TokenDigest::new);
        r.add("MessageDigest", "SHA-384", List.of("SHA384", "2.16.840.1.101.3.4.2.2"), TokenDigest::new);
        r.add("MessageDigest", "SHA-512", List.of("SHA512", "2.16.840.1.101.3.4.2.3"), TokenDigest::new);

        r.add("Mac", "HmacSHA256", List.of("1.2.840.113549.2.9"), TokenMac::new);
        r.add("Mac", "HmacSHA384", List.of("1.2.840.113549.2.10"), TokenMac::new);
        r.add("Mac", "HmacSHA512", List.of("1.2.840.113549.2.11"), TokenMac::new);

        // Every request borrows its own session: SecureRandom need not serialise its callers.
        r.add("SecureRandom", "PKCS11", List.of(), Map.of("ThreadSafe", "true"), TokenRandom::new);

        r.add("KeyGenerator", "AES", TokenKeyGenerator::new);
        r.add("KeyGenerator", "DESede", List.of("TripleDES"), TokenKeyGenerator::new);
        r.add("KeyGenerator", "HmacSHA256", List.of("1.2.840.113549.2.9"), TokenKeyGenerator::new);
    }

    /** DESede's transformations are also known by the name TripleDES. */
    private static List<String> cipherAliases(String transformation) {
        return transformation.startsWith("DESede/")
                ? List.of("TripleDES/" + transformation.substring("DESede/".length())) : List.of();
    }
}
