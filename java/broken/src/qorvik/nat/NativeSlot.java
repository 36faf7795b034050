package qorvik.nat;

import qorvik.CryptokiException;
import qorvik.MechanismInfo;
import qorvik.Slot;
import qorvik.TokenInfo;

/**
 * Defective stand-in: there is no "(I)V" constructor, only a no-argument one; the slot ID
 * field is still there (set it through JNI). SlotInfo does not exist in this set.
 */
public class NativeSlot implements Slot {
    int m_slotID;

    public NativeSlot() {
    }

    @Override
    public int getSlotID() {
        return m_slotID;
    }

    public native Object J_GetSlotInfo() throws CryptokiException;

    public native TokenInfo J_GetTokenInfo() throws CryptokiException;

    public native int[] J_GetMechanismList() throws CryptokiException;

    public native MechanismInfo J_GetMechanismInfo(int mechanismType) throws CryptokiException;

    public native void J_InitToken(String soPin, String label) throws CryptokiException;

    public native NativeSession J_OpenSession(int flags) throws CryptokiException;

    public native NativeSession J_OpenSession(int flags, byte userType, String pin)
            throws CryptokiException;

    public native void J_CloseAllSessions() throws CryptokiException;
}
