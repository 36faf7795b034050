package qorvik.tool.cli.crypto;

import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Locale;

/** The curves a key can be made on or imported for, by every name users know them by. */
public enum Curve {
    P256("P-256", "06082a8648ce3d030107", 32, false, "prime256v1", "secp256r1"),
    P384("P-384", "06052b81040022", 48, false, "secp384r1"),
    P521("P-521", "06052b81040023", 66, false, "secp521r1"),
    ED25519("Ed25519", "06032b6570", 32, true, "edwards25519");

    private final String label;
    private final byte[] params;
    private final int fieldBytes;
    private final boolean edwards;
    private final List<String> aliases;

    Curve(String label, String params, int fieldBytes, boolean edwards, String... aliases) {
        this.label = label;
        this.params = HexFormat.of().parseHex(params);
        this.fieldBytes = fieldBytes;
        this.edwards = edwards;
        this.aliases = List.of(aliases);
    }

    /** The name shown to users. */
    public String label() {
        return label;
    }

    /** CKA_EC_PARAMS: the DER of the curve's object identifier. */
    public byte[] params() {
        return params.clone();
    }

    /** Bytes of one coordinate, and of each half of an ECDSA signature. */
    public int fieldBytes() {
        return fieldBytes;
    }

    public int bits() {
        return this == P521 ? 521 : fieldBytes * 8 - (this == ED25519 ? 1 : 0);
    }

    public boolean edwards() {
        return edwards;
    }

    /** The curve named {@code name} (any case), or null. */
    public static Curve byName(String name) {
        for (Curve curve : values()) {
            if (curve.label.equalsIgnoreCase(name) || curve.aliases.contains(name.toLowerCase(Locale.ROOT))) {
                return curve;
            }
        }
        return null;
    }

    /** The curve whose CKA_EC_PARAMS (an OID's DER) are {@code params}, or null. */
    public static Curve byParams(byte[] params) {
        for (Curve curve : values()) {
            if (Arrays.equals(curve.params, params)) {
                return curve;
            }
        }
        return null;
    }

    /** Every name accepted, for help and error texts. */
    public static String names() {
        StringBuilder out = new StringBuilder();
        for (Curve curve : values()) {
            out.append(out.length() == 0 ? "" : ", ").append(curve.label);
            for (String alias : curve.aliases) {
                out.append('/').append(alias);
            }
        }
        return out.toString();
    }
}
