package qorvik.tool.cli.crypto;

import static qorvik.tool.cli.crypto.Ck.*;

import java.util.LinkedHashMap;
import java.util.Locale;
import java.util.Map;

import qorvik.Mechanism;
import qorvik.params.AESCTRParams;
import qorvik.params.GCMParams;
import qorvik.params.OAEPParams;
import qorvik.params.PSSParams;

/** The mechanisms of the data commands by their lower-case names, and each key type's default. */
public final class Algorithms {
    /**
     * A signature mechanism: its number, the PSS hash when it takes PSS parameters, its key type,
     * whether the data goes in parts, and the digest made on the token first (0: none). ECDSA
     * hashes on the token in parts and signs the hash with CKM_ECDSA, which every token with
     * ECDSA offers, where the combined mechanisms are often missing.
     */
    public record Signing(String name, int type, int keyType, int pssHash, int pssMgf, int saltLength,
                          boolean multiPart, int prehash) {
        public Mechanism mechanism() {
            return new Mechanism(type, pssHash == 0 ? null : new PSSParams(pssHash, pssMgf, saltLength));
        }

        public boolean ecdsa() {
            return keyType == CKK_EC;
        }
    }

    /** A cipher: its number, the IV length it takes (0: none), whether it is RSA (one part). */
    public record Cipher(String name, int type, int keyType, int ivLength) {
        public Mechanism mechanism(byte[] iv, byte[] aad, int tagBits) {
            switch (type) {
                case CKM_AES_CTR:
                    return new Mechanism(type, new AESCTRParams(128, iv));
                case CKM_AES_GCM:
                    return new Mechanism(type, new GCMParams(iv, aad, tagBits));
                case CKM_RSA_PKCS_OAEP:
                    return new Mechanism(type, new OAEPParams(CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, null));
                default:
                    return new Mechanism(type, ivLength == 0 ? null : iv);
            }
        }

        public boolean onePart() {
            return keyType == CKK_RSA;
        }
    }

    public static final Map<String, Integer> DIGESTS = new LinkedHashMap<>();
    public static final Map<String, Signing> SIGNING = new LinkedHashMap<>();
    public static final Map<String, Cipher> CIPHERS = new LinkedHashMap<>();

    static {
        DIGESTS.put("sha256", CKM_SHA256);
        DIGESTS.put("sha384", CKM_SHA384);
        DIGESTS.put("sha512", CKM_SHA512);
        DIGESTS.put("sha224", CKM_SHA224);
        DIGESTS.put("sha1", CKM_SHA_1);
        DIGESTS.put("md5", CKM_MD5);

        signing("sha256-rsa-pkcs", CKM_SHA256_RSA_PKCS, CKK_RSA, 0, 0, 0);
        signing("sha384-rsa-pkcs", CKM_SHA384_RSA_PKCS, CKK_RSA, 0, 0, 0);
        signing("sha512-rsa-pkcs", CKM_SHA512_RSA_PKCS, CKK_RSA, 0, 0, 0);
        signing("sha1-rsa-pkcs", CKM_SHA1_RSA_PKCS, CKK_RSA, 0, 0, 0);
        signing("sha256-rsa-pkcs-pss", CKM_SHA256_RSA_PKCS_PSS, CKK_RSA, CKM_SHA256, CKG_MGF1_SHA256, 32);
        signing("sha384-rsa-pkcs-pss", CKM_SHA384_RSA_PKCS_PSS, CKK_RSA, CKM_SHA384, CKG_MGF1_SHA384, 48);
        signing("sha512-rsa-pkcs-pss", CKM_SHA512_RSA_PKCS_PSS, CKK_RSA, CKM_SHA512, CKG_MGF1_SHA512, 64);
        ecdsa("ecdsa-sha256", CKM_SHA256);
        ecdsa("ecdsa-sha384", CKM_SHA384);
        ecdsa("ecdsa-sha512", CKM_SHA512);
        ecdsa("ecdsa-sha1", CKM_SHA_1);
        SIGNING.put("eddsa", new Signing("eddsa", CKM_EDDSA, CKK_EC_EDWARDS, 0, 0, 0, false, 0));

        cipher("aes-cbc-pad", CKM_AES_CBC_PAD, CKK_AES, 16);
        cipher("aes-cbc", CKM_AES_CBC, CKK_AES, 16);
        cipher("aes-ctr", CKM_AES_CTR, CKK_AES, 16);
        cipher("aes-gcm", CKM_AES_GCM, CKK_AES, 12);
        cipher("aes-ecb", CKM_AES_ECB, CKK_AES, 0);
        cipher("rsa-pkcs-oaep", CKM_RSA_PKCS_OAEP, CKK_RSA, 0);
        cipher("rsa-pkcs", CKM_RSA_PKCS, CKK_RSA, 0);
    }

    private static void signing(String name, int mechanism, int keyType, int hash, int mgf, int salt) {
        SIGNING.put(name, new Signing(name, mechanism, keyType, hash, mgf, salt, true, 0));
    }

    private static void ecdsa(String name, int digest) {
        SIGNING.put(name, new Signing(name, CKM_ECDSA, CKK_EC, 0, 0, 0, true, digest));
    }

    private static void cipher(String name, int mechanism, int keyType, int ivLength) {
        CIPHERS.put(name, new Cipher(name, mechanism, keyType, ivLength));
    }

    private Algorithms() {
    }

    public static int digest(String name) {
        Integer mechanism = DIGESTS.get(name.toLowerCase(Locale.ROOT));
        if (mechanism == null) {
            throw new IllegalArgumentException("unknown digest '" + name + "' (known: "
                    + String.join(", ", DIGESTS.keySet()) + ")");
        }
        return mechanism;
    }

    /** The named signature mechanism, or the key type's default when {@code name} is null. */
    public static Signing signing(String name, int keyType) {
        Signing chosen = name == null ? SIGNING.values().stream().filter(s -> s.keyType() == keyType).findFirst()
                .orElse(null) : SIGNING.get(name.toLowerCase(Locale.ROOT));
        if (chosen == null) {
            throw new IllegalArgumentException(name == null ? "no signature mechanism for this key type"
                    : "unknown signature mechanism '" + name + "' (known: " + String.join(", ", SIGNING.keySet()) + ")");
        }
        if (chosen.keyType() != keyType) {
            throw new IllegalArgumentException(chosen.name() + " does not go with the key's type");
        }
        return chosen;
    }

    /** The named cipher, or the key type's default when {@code name} is null. */
    public static Cipher cipher(String name, int keyType) {
        Cipher chosen = name == null ? CIPHERS.values().stream().filter(c -> c.keyType() == keyType).findFirst()
                .orElse(null) : CIPHERS.get(name.toLowerCase(Locale.ROOT));
        if (chosen == null) {
            throw new IllegalArgumentException(name == null ? "no cipher for this key type"
                    : "unknown cipher '" + name + "' (known: " + String.join(", ", CIPHERS.keySet()) + ")");
        }
        if (chosen.keyType() != keyType) {
            throw new IllegalArgumentException(chosen.name() + " does not go with the key's type");
        }
        return chosen;
    }
}
