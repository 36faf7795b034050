package qorvik;

/**
 * A token object found by a search, with the attributes read for it. The bridge hands over
 * the handle's low 32 bits as an int; it is kept as the unsigned value.
 */
public class CryptokiObject {
    private final long handle;
    private final Attribute[] attributes;

    /** @param attributes the requested attributes in request order, or null if none were asked for */
    public CryptokiObject(int handle, Attribute[] attributes) {
        this.handle = Integer.toUnsignedLong(handle);
        this.attributes = attributes;
    }

    public long getHandle() {
        return handle;
    }

    public Attribute[] getAttributes() {
        return attributes == null ? null : attributes.clone();
    }
}
