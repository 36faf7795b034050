package qorvik;

/**
 * One attribute of a token object: its CKA_ type and its value (null, Integer, Boolean,
 * String or byte[] when written; Integer, Boolean, byte[] or null when read back).
 */
public class Attribute {
    public final int type;
    public final Object value;

    public Attribute(int type, Object value) {
        this.type = type;
        this.value = value;
    }

    public int getType() {
        return type;
    }

    public Object getValue() {
        return value;
    }

    @Override
    public String toString() {
        return "Attribute[0x" + Integer.toHexString(type) + "]";
    }
}
