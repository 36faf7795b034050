package qorvik.provider;

import java.security.ProviderException;
import java.util.Map;

import qorvik.Mechanism;

/** The token's hashing mechanisms, digests and HMACs, by JCA name, with their output's length. */
final class Hashing {
    final String jcaName;
    final Mechanism mechanism;
    /** The output's length in bytes. */
    final int length;

    private Hashing(String jcaName, int mechanism, int length) {
        this.jcaName = jcaName;
        this.mechanism = new Mechanism(mechanism);
        this.length = length;
    }

    private static final Map<String, Hashing> BY_NAME = Map.of(
            "MD5", new Hashing("MD5", Ck.CKM_MD5, 16),
            "SHA-1", new Hashing("SHA-1", Ck.CKM_SHA_1, 20),
            "SHA-224", new Hashing("SHA-224", Ck.CKM_SHA224, 28),
            "SHA-256", new Hashing("SHA-256", Ck.CKM_SHA256, 32),
            "SHA-384", new Hashing("SHA-384", Ck.CKM_SHA384, 48),
            "SHA-512", new Hashing("SHA-512", Ck.CKM_SHA512, 64),
            "HmacSHA256", new Hashing("HmacSHA256", Ck.CKM_SHA256_HMAC, 32),
            "HmacSHA384", new Hashing("HmacSHA384", Ck.CKM_SHA384_HMAC, 48),
            "HmacSHA512", new Hashing("HmacSHA512", Ck.CKM_SHA512_HMAC, 64));

    /** The mechanism of a service's algorithm name. */
    static Hashing of(String jcaName) {
        Hashing h = BY_NAME.get(jcaName);
        if (h == null) {
            throw new ProviderException("Kelvane: no digest or MAC " + jcaName);
        }
        return h;
    }
}
