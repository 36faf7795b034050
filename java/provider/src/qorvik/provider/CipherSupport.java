package qorvik.provider;

import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyFactory;
import java.security.NoSuchAlgorithmException;
import java.security.spec.InvalidKeySpecException;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;

import javax.crypto.AEADBadTagException;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.SecretKeySpec;

import qorvik.CryptokiException;

/** What the two Cipher engines share: failures of a data call, output copies, wrapping. */
final class CipherSupport {
    private CipherSupport() {
    }

    /** True for an encrypting mode (ENCRYPT_MODE, WRAP_MODE). */
    static boolean encrypting(int opmode) {
        switch (opmode) {
            case Cipher.ENCRYPT_MODE:
            case Cipher.WRAP_MODE:
                return true;
            case Cipher.DECRYPT_MODE:
            case Cipher.UNWRAP_MODE:
                return false;
            default:
                throw new java.security.InvalidParameterException("unknown cipher mode " + opmode);
        }
    }

    /** True when the failure came from the start of the operation, not from its data. */
    static boolean failedAtStart(CryptokiException e) {
        String f = e.getFunctionName();
        return f != null && f.endsWith("Init");
    }

    /**
     * The JCA exception for a failed data call: input of a length the mechanism refuses, a
     * ciphertext that does not decrypt (for an authenticated mode, a tag that does not match), or
     * anything else as a ProviderException. The CryptokiException is always the cause.
     * {@code unpadding} says the call checked padding or a tag, whose failure some modules report
     * as a general error.
     */
    static void rethrow(CryptokiException e, boolean authenticated, boolean unpadding)
            throws IllegalBlockSizeException, BadPaddingException {
        if (!failedAtStart(e)) {
            switch (e.getCode()) {
                case Ck.CKR_DATA_LEN_RANGE:
                case Ck.CKR_ENCRYPTED_DATA_LEN_RANGE: {
                    if (!authenticated) {
                        IllegalBlockSizeException failure =
                                new IllegalBlockSizeException(Failures.describe(e));
                        failure.initCause(e);
                        throw failure;
                    }
                    throw badTag(e);
                }
                case Ck.CKR_ENCRYPTED_DATA_INVALID:
                case Ck.CKR_DATA_INVALID:
                    throw authenticated ? badTag(e) : Failures.badPadding(e);
                case Ck.CKR_GENERAL_ERROR:
                    if (unpadding) {
                        throw authenticated ? badTag(e) : Failures.badPadding(e);
                    }
                    break;
                default:
                    break;
            }
        }
        throw Failures.provider(e);
    }

    static AEADBadTagException badTag(CryptokiException e) {
        AEADBadTagException failure = new AEADBadTagException(Failures.describe(e));
        failure.initCause(e);
        return failure;
    }

    /** Copies {@code result} to the caller's output, which must hold it. */
    static int copyOut(byte[] result, byte[] output, int outputOffset) throws ShortBufferException {
        if (output == null || outputOffset < 0 || output.length - outputOffset < result.length) {
            throw new ShortBufferException("the output needs " + result.length + " bytes, "
                    + (output == null ? 0 : Math.max(0, output.length - outputOffset)) + " given");
        }
        System.arraycopy(result, 0, output, outputOffset, result.length);
        return result.length;
    }

    static void checkRoom(byte[] output, int outputOffset, int needed) throws ShortBufferException {
        int room = output == null || outputOffset < 0 ? 0 : output.length - outputOffset;
        if (room < needed) {
            throw new ShortBufferException("the output needs " + needed + " bytes, "
                    + Math.max(0, room) + " given");
        }
    }

    /** A cipher's one-call operation, through which keys are wrapped and unwrapped. */
    @FunctionalInterface
    interface OneCall {
        byte[] doFinal(byte[] input, int offset, int len) throws IllegalBlockSizeException, BadPaddingException;
    }

    /** Wraps {@code key}: its value, through the cipher's one-call operation. */
    static byte[] wrap(Key key, OneCall cipher) throws IllegalBlockSizeException, InvalidKeyException {
        byte[] value = wrapValue(key);
        try {
            return cipher.doFinal(value, 0, value.length);
        } catch (BadPaddingException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
    }

    /** Unwraps {@code wrappedKey} through the cipher's one-call operation. */
    static Key unwrap(byte[] wrappedKey, String algorithm, int type, OneCall cipher)
            throws InvalidKeyException, NoSuchAlgorithmException {
        try {
            return unwrapped(cipher.doFinal(wrappedKey, 0, wrappedKey.length), algorithm, type);
        } catch (IllegalBlockSizeException | BadPaddingException e) {
            throw new InvalidKeyException("the wrapped key does not decrypt: " + e.getMessage(), e);
        }
    }

    /** The value a key gives to be wrapped; a key whose value stays on the token cannot be. */
    private static byte[] wrapValue(Key key) throws InvalidKeyException {
        byte[] value = key == null ? null : key.getEncoded();
        if (value == null) {
            throw new InvalidKeyException("the key's value cannot leave its token, so it cannot be "
                    + "wrapped: " + key);
        }
        return value;
    }

    /** The key whose value {@code unwrapped} is, as the JDK builds it. */
    private static Key unwrapped(byte[] unwrapped, String algorithm, int type)
            throws InvalidKeyException, NoSuchAlgorithmException {
        try {
            switch (type) {
                case Cipher.SECRET_KEY:
                    return new SecretKeySpec(unwrapped, algorithm);
                case Cipher.PRIVATE_KEY:
                    return KeyFactory.getInstance(algorithm).generatePrivate(
                            new PKCS8EncodedKeySpec(unwrapped));
                case Cipher.PUBLIC_KEY:
                    return KeyFactory.getInstance(algorithm).generatePublic(
                            new X509EncodedKeySpec(unwrapped));
                default:
                    throw new InvalidKeyException("unknown key type " + type);
            }
        } catch (InvalidKeySpecException | IllegalArgumentException e) {
            throw new InvalidKeyException("the unwrapped value is not a " + algorithm + " key", e);
        }
    }
}
