package qorvik;

/** Defective stand-in: the {@code value} field is missing; the constructor is intact. */
public class Attribute {
    public final int type;

    public Attribute(int type, Object ignoredValue) {
        this.type = type;
    }
}
