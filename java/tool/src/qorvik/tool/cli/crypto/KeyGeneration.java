package qorvik.tool.cli.crypto;

import static qorvik.tool.cli.crypto.Ck.*;

import java.util.HexFormat;
import java.util.Locale;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.nat.NativeSession;

/**
 * A key to generate, as the user names it: {@code rsa:BITS}, {@code ec:CURVE} or {@code aes:BITS}.
 */
public final class KeyGeneration {
    public enum Kind { RSA, EC, AES }

    /** What was made: the handles (public key first for a pair; secret key alone) and its ID. */
    public record Generated(long[] handles, byte[] id) {
    }

    private static final byte[] F4 = {1, 0, 1};

    private final Kind kind;
    private final int bits;
    private final Curve curve;

    private KeyGeneration(Kind kind, int bits, Curve curve) {
        this.kind = kind;
        this.bits = bits;
        this.curve = curve;
    }

    /** Parses {@code rsa:2048}, {@code ec:P-256}, {@code aes:256}; a bad one's text says why. */
    public static KeyGeneration parse(String keyType) {
        int colon = keyType.indexOf(':');
        String type = (colon < 0 ? keyType : keyType.substring(0, colon)).toLowerCase(Locale.ROOT);
        String size = colon < 0 ? "" : keyType.substring(colon + 1);
        switch (type) {
            case "rsa": {
                int bits = number(keyType, size);
                if (bits < 1024 || bits > 16384 || bits % 8 != 0) {
                    throw new IllegalArgumentException("RSA keys are 1024 to 16384 bits, a multiple of 8: " + keyType);
                }
                return new KeyGeneration(Kind.RSA, bits, null);
            }
            case "ec": {
                Curve curve = Curve.byName(size);
                if (curve == null) {
                    throw new IllegalArgumentException("unknown curve '" + size + "' (known: " + Curve.names() + ")");
                }
                return new KeyGeneration(Kind.EC, curve.bits(), curve);
            }
            case "aes": {
                int bits = number(keyType, size);
                if (bits != 128 && bits != 192 && bits != 256) {
                    throw new IllegalArgumentException("AES keys are 128, 192 or 256 bits: " + keyType);
                }
                return new KeyGeneration(Kind.AES, bits, null);
            }
            default:
                throw new IllegalArgumentException("a key is rsa:BITS, ec:CURVE or aes:BITS, not '" + keyType + "'");
        }
    }

    private static int number(String keyType, String digits) {
        try {
            return Integer.parseInt(digits);
        } catch (NumberFormatException e) {
            throw new IllegalArgumentException("no key size in '" + keyType + "'");
        }
    }

    public Kind kind() {
        return kind;
    }

    public int bits() {
        return bits;
    }

    public Curve curve() {
        return curve;
    }

    /** How the key is shown: "RSA 2048-bit", "EC P-256", "AES 256-bit". */
    public String describe() {
        return kind == Kind.EC ? (curve.edwards() ? curve.label() : "EC " + curve.label())
                : kind + " " + bits + "-bit";
    }

    /**
     * Generates the key on the token. A key pair without an ID given gets the SHA-1 of its public
     * value as ID on both halves; a secret key without one gets none.
     */
    public Generated generate(NativeSession session, String label, byte[] id) throws CryptokiException {
        if (kind == Kind.AES) {
            Attribute[] template = Templates.object(CKO_SECRET_KEY, label, id).add(CKA_KEY_TYPE, CKK_AES)
                    .add(CKA_VALUE_LEN, bits / 8).add(CKA_PRIVATE, true).add(CKA_SENSITIVE, true)
                    .add(CKA_ENCRYPT, true).add(CKA_DECRYPT, true).add(CKA_WRAP, true).add(CKA_UNWRAP, true)
                    .build();
            return new Generated(new long[] {session.J_GenerateKey(new Mechanism(CKM_AES_KEY_GEN), template)}, id);
        }
        Templates publicKey = Templates.object(CKO_PUBLIC_KEY, label, id).add(CKA_VERIFY, true);
        Templates privateKey = Templates.object(CKO_PRIVATE_KEY, label, id).add(CKA_PRIVATE, true)
                .add(CKA_SENSITIVE, true).add(CKA_SIGN, true);
        Mechanism mechanism;
        if (kind == Kind.RSA) {
            mechanism = new Mechanism(CKM_RSA_PKCS_KEY_PAIR_GEN);
            publicKey.add(CKA_MODULUS_BITS, bits).add(CKA_PUBLIC_EXPONENT, F4).add(CKA_ENCRYPT, true)
                    .add(CKA_WRAP, true);
            privateKey.add(CKA_DECRYPT, true).add(CKA_UNWRAP, true);
        } else {
            mechanism = new Mechanism(curve.edwards() ? CKM_EC_EDWARDS_KEY_PAIR_GEN : CKM_EC_KEY_PAIR_GEN);
            publicKey.add(CKA_EC_PARAMS, curve.params());
        }
        long[] pair = session.J_GenerateKeyPair(mechanism, publicKey.build(), privateKey.build());
        if (id == null) {
            byte[] value = (byte[]) session.J_GetAttributeValue(pair[0],
                    kind == Kind.RSA ? CKA_MODULUS : CKA_EC_POINT).getValue();
            if (kind == Kind.EC) {
                value = Der.read(value, 0).content();
            }
            id = Templates.sha1(value);
            Attribute[] withId = {new Attribute(CKA_ID, id)};
            session.J_SetAttributeValue(pair[0], withId);
            session.J_SetAttributeValue(pair[1], withId);
        }
        return new Generated(pair, id);
    }

    public static String hex(byte[] bytes) {
        return bytes == null ? "(none)" : HexFormat.of().formatHex(bytes);
    }
}
