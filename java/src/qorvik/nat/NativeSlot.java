package qorvik.nat;

import qorvik.CryptokiException;
import qorvik.MechanismInfo;
import qorvik.Slot;
import qorvik.SlotInfo;
import qorvik.TokenInfo;

/** A slot of the loaded module; the bridge reads the slot ID from {@code m_slotID}. */
public class NativeSlot implements Slot {
    final int m_slotID;

    public NativeSlot(int slotID) {
        m_slotID = slotID;
    }

    @Override
    public int getSlotID() {
        return m_slotID;
    }

    @Override
    public String toString() {
        return "NativeSlot[" + Integer.toUnsignedString(m_slotID) + "]";
    }

    public native SlotInfo J_GetSlotInfo() throws CryptokiException;

    public native TokenInfo J_GetTokenInfo() throws CryptokiException;

    /** The slot's CKM_ types; vendor types appear as negative ints. */
    public native int[] J_GetMechanismList() throws CryptokiException;

    public native MechanismInfo J_GetMechanismInfo(int mechanismType) throws CryptokiException;

    /** The label is cut to, or padded with zero bytes to, 32 bytes. */
    public native void J_InitToken(String soPin, String label) throws CryptokiException;

    /** Opens a session with the given CKF_ flags (include CKF_SERIAL_SESSION). */
    public native NativeSession J_OpenSession(int flags) throws CryptokiException;

    /** Opens a session and logs in when the PIN is neither null nor empty. */
    public native NativeSession J_OpenSession(int flags, byte userType, String pin)
            throws CryptokiException;

    public native void J_CloseAllSessions() throws CryptokiException;
}
