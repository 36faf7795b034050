package zentrel.keychain;

/**
 * Entry points of the keychain bridge: the event task, the keychain lists and opening a keychain
 * by path. Call {@link #load()} once before anything else.
 */
public final class KeyChainLib {
    /** Domains of {@link #GetKeyChainList(int)}. */
    public static final int DOMAIN_USER = 1;
    public static final int DOMAIN_SYSTEM = 2;
    public static final int DOMAIN_COMMON = 3;
    public static final int DOMAIN_DYNAMIC = 4;
    public static final int DEFAULT_SEARCH_LIST = 5;

    private static boolean s_loaded;

    private KeyChainLib() {}

    /**
     * Loads the native library: the file named by the system property {@code tarnel.library} when
     * it is set, else {@code tarnel} from {@code java.library.path}.
     */
    public static synchronized void load() {
        if (s_loaded) {
            return;
        }
        String file = System.getProperty("tarnel.library");
        if (file != null && !file.isEmpty()) {
            System.load(file);
        } else {
            System.loadLibrary("tarnel");
        }
        s_loaded = true;
    }

    /** Starts the task that reports keychain events; 0 when it runs, else the system's error. */
    public static native int loadKeyChainLibrary();

    /** Stops the event task. */
    public static native void Finalize();

    /**
     * The keychains of a domain (1 user, 2 system, 3 common, 4 dynamic, 5 the default search
     * list); null when the list cannot be read or is empty. An element is null when its keychain's
     * path cannot be read.
     */
    public static native KeyChain[] GetKeyChainList(int domain) throws KeyChainException;

    /** The keychain of the default search list with this path, or null. */
    public static native KeyChain GetKeyChain(String path);
}
