package qorvik.provider;

/** The provider's services of this family. */
final class SignatureServices {
    private SignatureServices() {
    }

    static void register(Registrar r) {
    }
}
