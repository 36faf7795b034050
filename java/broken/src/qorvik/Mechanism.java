package qorvik;

/** Defective stand-in: {@code parameter} is a String instead of an Object. */
public class Mechanism {
    public final int mechanism;
    public final String parameter;

    public Mechanism(int mechanism, String parameter) {
        this.mechanism = mechanism;
        this.parameter = parameter;
    }

    public Mechanism(int mechanism) {
        this(mechanism, null);
    }
}
