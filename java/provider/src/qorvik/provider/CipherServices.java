package qorvik.provider;

/** The provider's services of this family. */
final class CipherServices {
    private CipherServices() {
    }

    static void register(Registrar r) {
    }
}
