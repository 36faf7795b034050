package qorvik.provider;

/** The provider's services of this family. */
final class KeyStoreServices {
    private KeyStoreServices() {
    }

    static void register(Registrar r) {
    }
}
