package qorvik.provider;

/** The provider's key store: the token's keys and certificates as KeyStore "Kelvane". */
final class KeyStoreServices {
    private KeyStoreServices() {
    }

    static void register(Registrar r) {
        r.add("KeyStore", KelvaneProvider.BASE_NAME, (token, algorithm) -> new TokenKeyStore(token));
    }
}
