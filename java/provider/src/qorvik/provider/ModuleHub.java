package qorvik.provider;

import java.io.File;
import java.io.IOException;
import java.security.ProviderException;

import qorvik.CryptokiException;
import qorvik.nat.CryptokiLock;
import qorvik.nat.NativeCryptoki;

/**
 * The module of this JVM. The bridge holds one module per process, so every provider configured
 * here shares the first one loaded: it is loaded and initialised once and stays so for the life
 * of the JVM. A provider for another module fails while that one is in use.
 */
final class ModuleHub {
    private static final Object GUARD = new Object();
    private static String loadedPath;
    private static String loadedAs;
    private static NativeCryptoki cryptoki;

    private ModuleHub() {
    }

    /** The loaded, initialised module for {@code library}, loading it on first use. */
    static NativeCryptoki acquire(String library) {
        String path = canonical(library);
        synchronized (GUARD) {
            if (cryptoki != null) {
                if (!loadedPath.equals(path)) {
                    throw new ProviderException("Kelvane: cannot use the module " + library
                            + ": this JVM already uses the module " + loadedAs
                            + ", and the bridge holds one module per process");
                }
                return cryptoki;
            }
            try {
                NativeCryptoki.loadNative();
            } catch (UnsatisfiedLinkError e) {
                throw new ProviderException("Kelvane: cannot load the bridge library (set "
                        + NativeCryptoki.LIBRARY_PROPERTY + " or java.library.path): " + e.getMessage(), e);
            }
            NativeCryptoki loaded = new NativeCryptoki();
            try {
                CryptokiLock.run(() -> {
                    NativeCryptoki.loadCryptokiLibrary(library);
                    loaded.Initialize(null);
                });
            } catch (CryptokiException e) {
                throw new ProviderException("Kelvane: cannot load the module " + library + ": "
                        + Failures.describe(e), e);
            }
            cryptoki = loaded;
            loadedPath = path;
            loadedAs = library;
            return cryptoki;
        }
    }

    /** The module's file as one name, whichever way it was written; a bare name stays as it is. */
    private static String canonical(String library) {
        File file = new File(library);
        if (!file.exists()) {
            return library;
        }
        try {
            return file.getCanonicalPath();
        } catch (IOException e) {
            return file.getAbsolutePath();
        }
    }
}
