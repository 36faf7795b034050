package qorvik.nat;

import java.io.File;

import qorvik.CryptokiException;

/** The regular entry points, adapted only so far as this set has no Info class. */
public class NativeCryptoki {
    public static final String LIBRARY_PROPERTY = "kelvane.library";

    public static void loadNative() {
        String file = System.getProperty(LIBRARY_PROPERTY);
        if (file != null && !file.isEmpty()) {
            System.load(new File(file).getAbsolutePath());
        } else {
            System.loadLibrary("kelvane");
        }
    }

    public static native void loadCryptokiLibrary(String cryptokiLibrary) throws CryptokiException;

    public static native void loadCryptokiLibrary2(String cryptokiLibrary, boolean freeLib)
            throws CryptokiException;

    public static native void loadCryptokiLibrary3(String cryptokiLibrary, boolean freeLib,
                                                   boolean changedir) throws CryptokiException;

    public static native String getLastLoadedLibraryFullPath();

    public native void Initialize(Object reserved) throws CryptokiException;

    public native void Finalize(Object reserved) throws CryptokiException;

    public native Object GetInfo() throws CryptokiException;

    public native NativeSlot[] GetSlotList(boolean tokenPresent) throws CryptokiException;

    public native NativeSlot WaitForSlotEvent(int flags, Object reserved) throws CryptokiException;

    public native boolean IsSecondAuthenticationRequired();
}
