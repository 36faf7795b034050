package qorvik.nat;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.CryptokiObject;
import qorvik.Mechanism;
import qorvik.SessionInfo;
import qorvik.Slot;

/**
 * An open session of the module. Methods with a {@code session} argument take the handle
 * from it (and start their operation when {@code init} is true); all others use
 * {@code m_sessionHandle}. Returning forms hand back a new array; filling forms write into
 * the caller's array at the offset and return the length (a null array asks for the length).
 */
public class NativeSession {
    final long m_sessionHandle;
    private final Slot slot;

    /** The bridge passes the handle's low 32 bits; they are kept unsigned. */
    public NativeSession(Slot slot, int sessionHandle) {
        this.slot = slot;
        this.m_sessionHandle = Integer.toUnsignedLong(sessionHandle);
    }

    public Slot getSlot() {
        return slot;
    }

    public long getSessionHandle() {
        return m_sessionHandle;
    }

    @Override
    public String toString() {
        return "NativeSession[" + m_sessionHandle + "]";
    }

    // Sessions and PINs

    public native void J_CloseSession() throws CryptokiException;

    public native SessionInfo J_GetSessionInfo() throws CryptokiException;

    public native void J_Login(byte userType, String pin) throws CryptokiException;

    public native void J_Logout() throws CryptokiException;

    public native void J_InitPIN(String pin) throws CryptokiException;

    public native void J_SetPIN(String oldPin, String newPin) throws CryptokiException;

    // Objects

    public native long J_CreateObject(Attribute[] template) throws CryptokiException;

    public native long J_CopyObject(long object, Attribute[] template) throws CryptokiException;

    public native void J_DestroyObject(long object) throws CryptokiException;

    public native int J_GetObjectSize(long object) throws CryptokiException;

    public native Attribute J_GetAttributeValue(long object, int type) throws CryptokiException;

    public native Attribute[] J_GetAttributeValue(long object, int[] types)
            throws CryptokiException;

    public native void J_SetAttributeValue(long object, Attribute[] template)
            throws CryptokiException;

    /** Handles of the matching objects (at most 1000), or null when none matched. */
    public native long[] J_FindObjects(Attribute[] template) throws CryptokiException;

    /** Matching objects with the requested attributes read, or null when none matched. */
    public native CryptokiObject[] J_FindObjects(Attribute[] template, int[] types)
            throws CryptokiException;

    // Encryption and decryption

    public native byte[] J_EncryptUpdate(long session, boolean init, Mechanism mechanism, long key,
                                         byte[] data, int dataOff, int dataLen)
            throws CryptokiException;

    public native int J_EncryptUpdate(long session, boolean init, Mechanism mechanism, long key,
                                      byte[] data, int dataOff, int dataLen,
                                      byte[] enc, int encOff) throws CryptokiException;

    public native byte[] J_Encrypt(long session, boolean init, Mechanism mechanism, long key,
                                   byte[] data, int dataOff, int dataLen)
            throws CryptokiException;

    public native int J_Encrypt(long session, boolean init, Mechanism mechanism, long key,
                                byte[] data, int dataOff, int dataLen,
                                byte[] enc, int encOff) throws CryptokiException;

    public native byte[] J_EncryptFinal() throws CryptokiException;

    public native int J_EncryptFinal(byte[] enc, int encOff) throws CryptokiException;

    public native void J_DecryptInit(long session, Mechanism mechanism, long key)
            throws CryptokiException;

    public native byte[] J_DecryptUpdate(long session, boolean init, Mechanism mechanism, long key,
                                         byte[] enc, int encOff, int encLen)
            throws CryptokiException;

    public native int J_DecryptUpdate(long session, boolean init, Mechanism mechanism, long key,
                                      byte[] enc, int encOff, int encLen,
                                      byte[] data, int dataOff) throws CryptokiException;

    /** Returning form only; the library exports it under its fully qualified JNI name. */
    public native byte[] J_Decrypt(long session, boolean init, Mechanism mechanism, long key,
                                   byte[] enc, int encOff, int encLen) throws CryptokiException;

    public native byte[] J_DecryptFinal() throws CryptokiException;

    public native int J_DecryptFinal(byte[] data, int dataOff) throws CryptokiException;

    // Digests

    public native void J_DigestKey(long session, boolean init, Mechanism mechanism, long key)
            throws CryptokiException;

    public native void J_DigestUpdate(long session, boolean init, Mechanism mechanism,
                                      byte[] part, int off, int len) throws CryptokiException;

    public native byte[] J_Digest(long session, boolean init, Mechanism mechanism,
                                  byte[] data, int dataOff, int dataLen) throws CryptokiException;

    public native int J_Digest(long session, boolean init, Mechanism mechanism,
                               byte[] data, int dataOff, int dataLen,
                               byte[] digest, int digestOff) throws CryptokiException;

    public native byte[] J_DigestFinal() throws CryptokiException;

    public native int J_DigestFinal(byte[] digest, int off) throws CryptokiException;

    // Signatures

    public native void J_SignInit(long session, Mechanism mechanism, long key)
            throws CryptokiException;

    public native void J_SignUpdate(long session, boolean init, Mechanism mechanism, long key,
                                    byte[] data, int dataOff, int dataLen)
            throws CryptokiException;

    public native byte[] J_Sign(long session, boolean init, Mechanism mechanism, long key,
                                byte[] data, int dataOff, int dataLen) throws CryptokiException;

    public native int J_Sign(long session, boolean init, Mechanism mechanism, long key,
                             byte[] data, int dataOff, int dataLen,
                             byte[] sign, int signOff) throws CryptokiException;

    public native byte[] J_SignFinal() throws CryptokiException;

    public native int J_SignFinal(byte[] sign, int signOff) throws CryptokiException;

    public native void J_SignRecoverInit(Mechanism mechanism, long key) throws CryptokiException;

    public native byte[] J_SignRecover(byte[] data, int dataOff, int dataLen)
            throws CryptokiException;

    public native int J_SignRecover(byte[] data, int dataOff, int dataLen,
                                    byte[] signature, int signOff) throws CryptokiException;

    // Verification

    public native void J_VerifyUpdate(long session, boolean init, Mechanism mechanism, long key,
                                      byte[] part, int partOff, int partLen)
            throws CryptokiException;

    public native void J_Verify(long session, boolean init, Mechanism mechanism, long key,
                                byte[] data, int dataOff, int dataLen,
                                byte[] signature, int signOff, int signLen)
            throws CryptokiException;

    public native void J_VerifyFinal(byte[] signature, int signOff, int signLen)
            throws CryptokiException;

    public native void J_VerifyRecoverInit(Mechanism mechanism, long key) throws CryptokiException;

    public native byte[] J_VerifyRecover(byte[] sign, int signOff, int signLen)
            throws CryptokiException;

    public native int J_VerifyRecover(byte[] signature, int signOff, int signLen,
                                      byte[] data, int dataOff) throws CryptokiException;

    // Dual-function updates, operation state, function status, random numbers

    public native int J_DecryptDigestUpdate(byte[] encryptedPart, int encOff, int encLen,
                                            byte[] dataPart, int dataOff) throws CryptokiException;

    public native int J_DigestEncryptUpdate(byte[] dataPart, int dataOff, int dataLen,
                                            byte[] encryptedPart, int encOff)
            throws CryptokiException;

    public native int J_SignEncryptUpdate(byte[] dataPart, int dataOff, int dataLen,
                                          byte[] encryptedPart, int encOff)
            throws CryptokiException;

    public native int J_DecryptVerifyUpdate(byte[] encryptedPart, int encOff, int encLen,
                                            byte[] part, int off) throws CryptokiException;

    public native void J_SetOperationState(byte[] operationState, long encryptionKey,
                                           long authenticationKey) throws CryptokiException;

    public native byte[] J_GetOperationState() throws CryptokiException;

    public native void J_GetFunctionStatus() throws CryptokiException;

    public native void J_CancelFunction() throws CryptokiException;

    /** Fills the window of {@code random}; seeds the generator with all of {@code seed} first when asked. */
    public native void J_GenerateRandom(long session, boolean seed, byte[] seedData,
                                        byte[] random, int randOff, int randLen)
            throws CryptokiException;

    // Key management

    public native long J_GenerateKey(Mechanism mechanism, Attribute[] keyTemplate)
            throws CryptokiException;

    /** Handles of the new public key and private key, in that order. */
    public native long[] J_GenerateKeyPair(Mechanism mechanism, Attribute[] publicTemplate,
                                           Attribute[] privateTemplate) throws CryptokiException;

    public native byte[] J_WrapKey(Mechanism mechanism, long wrappingKey, long keyToBeWrapped)
            throws CryptokiException;

    public native long J_UnwrapKey(Mechanism mechanism, long unwrappingKey, byte[] wrappedKey,
                                   int off, int len, Attribute[] template)
            throws CryptokiException;

    public native long J_DeriveKey(Mechanism mechanism, long baseKey, Attribute[] template)
            throws CryptokiException;
}
