package qorvik.nat;

import java.io.File;

import qorvik.CryptokiException;
import qorvik.Info;

/**
 * Entry points that act on the Cryptoki module as a whole: loading it by file name,
 * initialising and finalising it, and listing its slots.
 */
public class NativeCryptoki {
    /** System property naming the bridge library's file; without it the library is found by name. */
    public static final String LIBRARY_PROPERTY = "kelvane.library";

    /**
     * Loads the native bridge. Nothing loads it implicitly, so that a host which already
     * provides the exports (an embedding process) is not given a second copy.
     */
    public static void loadNative() {
        String file = System.getProperty(LIBRARY_PROPERTY);
        if (file != null && !file.isEmpty()) {
            System.load(new File(file).getAbsolutePath());
        } else {
            System.loadLibrary("kelvane");
        }
    }

    /** Loads the module, unloading the previous one first. */
    public static native void loadCryptokiLibrary(String cryptokiLibrary) throws CryptokiException;

    /** Loads the module; with {@code freeLib} false the previous one stays mapped. */
    public static native void loadCryptokiLibrary2(String cryptokiLibrary, boolean freeLib)
            throws CryptokiException;

    /** As {@link #loadCryptokiLibrary2}; {@code changedir} has no effect. */
    public static native void loadCryptokiLibrary3(String cryptokiLibrary, boolean freeLib,
                                                   boolean changedir) throws CryptokiException;

    /** Where the last loaded module was found; empty before any load. */
    public static native String getLastLoadedLibraryFullPath();

    /** Initialises the module, loading the remembered one again after {@link #Finalize}. */
    public native void Initialize(Object reserved) throws CryptokiException;

    public native void Finalize(Object reserved) throws CryptokiException;

    public native Info GetInfo() throws CryptokiException;

    public native NativeSlot[] GetSlotList(boolean tokenPresent) throws CryptokiException;

    /** Waits for a slot event; CKF_DONT_BLOCK (1) without a pending event fails with code 8. */
    public native NativeSlot WaitForSlotEvent(int flags, Object reserved) throws CryptokiException;

    /** False when the module's side file declares the signature PIN equal to the card PIN. */
    public native boolean IsSecondAuthenticationRequired();
}
