package qorvik.tool;

import qorvik.CryptokiException;
import qorvik.Info;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSlot;

/**
 * One PKCS#11 module in use: loaded and initialised when opened, finalised when closed.
 * The bridge keeps one module per process, so only one of these may be open at a time.
 */
final class CryptokiModule implements AutoCloseable {
    private final NativeCryptoki cryptoki = new NativeCryptoki();
    private final String name;
    private boolean initialized;

    private CryptokiModule(String name) {
        this.name = name;
    }

    /** Loads the bridge, then the module named {@code name}, and initialises the module. */
    static CryptokiModule open(String name) throws CryptokiException {
        NativeCryptoki.loadNative();
        NativeCryptoki.loadCryptokiLibrary(name);
        CryptokiModule module = new CryptokiModule(name);
        module.cryptoki.Initialize(null);
        module.initialized = true;
        return module;
    }

    String name() {
        return name;
    }

    /** Where the bridge found the module. */
    String fullPath() {
        return NativeCryptoki.getLastLoadedLibraryFullPath();
    }

    Info info() throws CryptokiException {
        return cryptoki.GetInfo();
    }

    NativeSlot[] slots(boolean withTokenOnly) throws CryptokiException {
        return cryptoki.GetSlotList(withTokenOnly);
    }

    boolean secondAuthenticationRequired() {
        return cryptoki.IsSecondAuthenticationRequired();
    }

    @Override
    public void close() throws CryptokiException {
        if (initialized) {
            initialized = false;
            cryptoki.Finalize(null);
        }
    }
}
