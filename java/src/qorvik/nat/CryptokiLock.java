package qorvik.nat;

import java.util.concurrent.locks.ReentrantLock;

/**
 * The one lock of the process around calls into the module. The bridge initialises the module
 * for use by one thread at a time and keeps one module per process, so code that may share the
 * module with other threads (the security provider, the kelvane command run in-process) makes
 * each native call while holding this lock. It is reentrant: a call made under it may call again.
 */
public final class CryptokiLock {
    private static final ReentrantLock LOCK = new ReentrantLock();

    /** A native call returning a value. */
    @FunctionalInterface
    public interface Call<T, E extends Exception> {
        T call() throws E;
    }

    /** A native call without a result. */
    @FunctionalInterface
    public interface Action<E extends Exception> {
        void run() throws E;
    }

    private CryptokiLock() {
    }

    /** Runs {@code call} holding the lock and returns its result. */
    public static <T, E extends Exception> T call(Call<T, E> call) throws E {
        LOCK.lock();
        try {
            return call.call();
        } finally {
            LOCK.unlock();
        }
    }

    /** Runs {@code action} holding the lock. */
    public static <E extends Exception> void run(Action<E> action) throws E {
        LOCK.lock();
        try {
            action.run();
        } finally {
            LOCK.unlock();
        }
    }

    /** The lock itself, for a caller that holds it across several calls. */
    public static ReentrantLock lock() {
        return LOCK;
    }

    /** True when the calling thread holds the lock. */
    public static boolean heldByCurrentThread() {
        return LOCK.isHeldByCurrentThread();
    }
}
