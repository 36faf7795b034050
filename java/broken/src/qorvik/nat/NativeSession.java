package qorvik.nat;

import qorvik.Slot;

/**
 * Defective stand-in: {@code m_sessionHandle} is an int instead of a long. The constructor
 * keeps its "(Lqorvik/Slot;I)V" descriptor. No native methods are declared: the exports are
 * called directly with instances of this class.
 */
public class NativeSession {
    final int m_sessionHandle;
    private final Slot slot;

    public NativeSession(Slot slot, int sessionHandle) {
        this.slot = slot;
        this.m_sessionHandle = sessionHandle;
    }

    public Slot getSlot() {
        return slot;
    }
}
