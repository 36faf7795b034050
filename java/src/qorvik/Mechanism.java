package qorvik;

/**
 * A CKM_ mechanism type with its parameter: null, a byte[] initialisation vector or one of
 * the classes of {@code qorvik.params}, depending on the type.
 */
public class Mechanism {
    public final int mechanism;
    public final Object parameter;

    public Mechanism(int mechanism, Object parameter) {
        this.mechanism = mechanism;
        this.parameter = parameter;
    }

    public Mechanism(int mechanism) {
        this(mechanism, null);
    }

    public int getMechanism() {
        return mechanism;
    }

    public Object getParameter() {
        return parameter;
    }

    @Override
    public String toString() {
        return "Mechanism[0x" + Integer.toHexString(mechanism) + "]";
    }
}
