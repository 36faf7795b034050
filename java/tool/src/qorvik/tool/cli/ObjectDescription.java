package qorvik.tool.cli;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.HexFormat;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.nat.NativeSession;

/**
 * What list-objects shows of one object: class, label, ID, key type and size. Each attribute is
 * read on its own, so one the object does not have (CKA_KEY_TYPE of a certificate) or will not
 * show (a sensitive value) leaves that field empty instead of failing the listing.
 */
public final class ObjectDescription {
    static final int CKA_VALUE = 0x11;
    static final int CKA_CERTIFICATE_TYPE = 0x80;
    static final int CKA_KEY_TYPE = 0x100;
    static final int CKA_MODULUS = 0x120;
    static final int CKA_MODULUS_BITS = 0x121;
    static final int CKA_VALUE_LEN = 0x161;
    static final int CKA_EC_PARAMS = 0x180;
    static final int CKK_RSA = 0x0;
    static final int CKK_EC = 0x3;
    static final int CKK_EC_EDWARDS = 0x40;
    static final int CKK_EC_MONTGOMERY = 0x41;

    /** Named curves by the DER of their object identifier, with their size in bits. */
    private static final Object[][] CURVES = {
        {"06082a8648ce3d030107", "P-256", 256},
        {"06052b81040022", "P-384", 384},
        {"06052b81040023", "P-521", 521},
        {"06052b8104000a", "secp256k1", 256},
        {"06032b6570", "Ed25519", 255},
        {"06032b6571", "Ed448", 448},
        {"06032b656e", "X25519", 255},
        {"06032b656f", "X448", 448},
        {"130c656477617264733235353139", "Ed25519", 255},
        {"130a65647761726473343438", "Ed448", 448},
    };

    public final long handle;
    public final Integer objectClass;
    public final String label;
    public final byte[] id;
    public final Integer keyType;
    /** Key size in bits, or -1 when it does not apply or cannot be read. */
    public final int bits;
    /** The curve of an elliptic-curve key, or null. */
    public final String curve;

    private ObjectDescription(long handle, Integer objectClass, String label, byte[] id,
                              Integer keyType, int bits, String curve) {
        this.handle = handle;
        this.objectClass = objectClass;
        this.label = label;
        this.id = id;
        this.keyType = keyType;
        this.bits = bits;
        this.curve = curve;
    }

    public static ObjectDescription read(NativeSession session, long handle) {
        Integer objectClass = asInteger(get(session, handle, ObjectSelector.CKA_CLASS));
        byte[] labelBytes = asBytes(get(session, handle, ObjectSelector.CKA_LABEL));
        String label = labelBytes == null ? null : new String(labelBytes, StandardCharsets.UTF_8);
        byte[] id = asBytes(get(session, handle, ObjectSelector.CKA_ID));
        Integer keyType = null;
        int bits = -1;
        String curve = null;
        if (objectClass != null && objectClass >= 2 && objectClass <= 4) {
            keyType = asInteger(get(session, handle, CKA_KEY_TYPE));
            if (keyType != null && keyType == CKK_RSA) {
                Integer modulusBits = asInteger(get(session, handle, CKA_MODULUS_BITS));
                if (modulusBits != null) {
                    bits = modulusBits;
                } else {
                    byte[] modulus = asBytes(get(session, handle, CKA_MODULUS));
                    bits = modulus == null ? -1 : bitLength(modulus);
                }
            } else if (keyType != null && (keyType == CKK_EC || keyType == CKK_EC_EDWARDS
                    || keyType == CKK_EC_MONTGOMERY)) {
                byte[] params = asBytes(get(session, handle, CKA_EC_PARAMS));
                if (params != null) {
                    String der = HexFormat.of().formatHex(params);
                    for (Object[] row : CURVES) {
                        if (row[0].equals(der)) {
                            curve = (String) row[1];
                            bits = (Integer) row[2];
                        }
                    }
                    if (curve == null) {
                        curve = "params " + der;
                    }
                }
            } else if (objectClass == 4) {
                Integer length = asInteger(get(session, handle, CKA_VALUE_LEN));
                bits = length == null ? -1 : length * 8;
            }
        }
        return new ObjectDescription(handle, objectClass, label, id, keyType, bits, curve);
    }

    /** "rsa 2048", "ec P-256", "aes 256"; empty for objects without a key type. */
    public String keyText() {
        if (keyType == null) {
            return "";
        }
        String type = Names.keyType(keyType).replaceFirst("^CKK_", "").toLowerCase();
        if (curve != null) {
            return type + " " + curve;
        }
        return bits < 0 ? type : type + " " + bits;
    }

    public String idText() {
        return id == null ? "" : HexFormat.of().formatHex(id);
    }

    /** The attribute, or null when the object does not have it or keeps it hidden. */
    static Attribute get(NativeSession session, long handle, int type) {
        try {
            return session.J_GetAttributeValue(handle, type);
        } catch (CryptokiException e) {
            return null;
        }
    }

    static Integer asInteger(Attribute a) {
        return a != null && a.getValue() instanceof Integer i ? i : null;
    }

    static byte[] asBytes(Attribute a) {
        return a != null && a.getValue() instanceof byte[] b ? b : null;
    }

    private static int bitLength(byte[] unsigned) {
        int i = 0;
        while (i < unsigned.length && unsigned[i] == 0) {
            i++;
        }
        if (i == unsigned.length) {
            return 0;
        }
        return (unsigned.length - i - 1) * 8 + 32 - Integer.numberOfLeadingZeros(unsigned[i] & 0xFF);
    }

    @Override
    public String toString() {
        return "ObjectDescription[" + handle + ", " + label + ", " + Arrays.toString(id) + "]";
    }
}
