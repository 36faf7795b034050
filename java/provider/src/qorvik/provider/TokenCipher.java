package qorvik.provider;

import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;
import java.util.Arrays;

import javax.crypto.AEADBadTagException;
import javax.crypto.BadPaddingException;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.SecretKey;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.IvParameterSpec;

import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.nat.CryptokiLock;
import qorvik.params.AESCTRParams;
import qorvik.params.GCMParams;

/**
 * AES and DESede ciphers on the token. {@code doFinal} with nothing before it is one native call
 * on a pooled session; {@code update} starts the operation in parts on a session the engine
 * leases until {@code doFinal}. GCM keeps its input here and runs in one call at {@code doFinal}:
 * decryption returns nothing before the tag is checked.
 */
final class TokenCipher extends CipherSpi {
    enum Mode { ECB, CBC, CTR, GCM }

    /** The transformations: JCA name, key algorithm, mode, mechanism, block size, padding. */
    enum Kind {
        AES_ECB("AES/ECB/NoPadding", "AES", Mode.ECB, Ck.CKM_AES_ECB, 16, false),
        AES_CBC("AES/CBC/NoPadding", "AES", Mode.CBC, Ck.CKM_AES_CBC, 16, false),
        AES_CBC_PAD("AES/CBC/PKCS5Padding", "AES", Mode.CBC, Ck.CKM_AES_CBC_PAD, 16, true),
        AES_CTR("AES/CTR/NoPadding", "AES", Mode.CTR, Ck.CKM_AES_CTR, 16, false),
        AES_GCM("AES/GCM/NoPadding", "AES", Mode.GCM, Ck.CKM_AES_GCM, 16, false),
        DES3_CBC("DESede/CBC/NoPadding", "DESede", Mode.CBC, Ck.CKM_DES3_CBC, 8, false),
        DES3_CBC_PAD("DESede/CBC/PKCS5Padding", "DESede", Mode.CBC, Ck.CKM_DES3_CBC_PAD, 8, true);

        final String transformation;
        final String keyAlgorithm;
        final Mode mode;
        final int mechanism;
        final int blockSize;
        final boolean padded;

        Kind(String transformation, String keyAlgorithm, Mode mode, int mechanism, int blockSize,
             boolean padded) {
            this.transformation = transformation;
            this.keyAlgorithm = keyAlgorithm;
            this.mode = mode;
            this.mechanism = mechanism;
            this.blockSize = blockSize;
            this.padded = padded;
        }

        /** Whole blocks only: ECB and CBC without padding. */
        boolean wholeBlocks() {
            return (mode == Mode.ECB || mode == Mode.CBC) && !padded;
        }

        static Kind of(String transformation) {
            for (Kind k : values()) {
                if (k.transformation.equals(transformation)) {
                    return k;
                }
            }
            throw new ProviderException("Kelvane: no cipher " + transformation);
        }
    }

    /** GCM tag lengths accepted, in bits. */
    private static final int[] GCM_TAG_BITS = {128, 120, 112, 104, 96};
    private static final byte[] NOTHING = new byte[0];

    private final Token token;
    private final Kind kind;
    private final HeldKey heldKey = new HeldKey(this);
    private boolean initialised;
    private boolean encrypt;
    private long key;
    private byte[] iv;
    private int tagBits;
    /** The mechanism of ECB, CBC and CTR, fixed at init. GCM builds its own per message. */
    private Mechanism mechanism;

    /** GCM: the message and the additional data, kept until doFinal. */
    private byte[] data = NOTHING;
    private int dataLength;
    private byte[] aad = NOTHING;
    private int aadLength;
    /** GCM: the key and IV of the last encryption, which must not encrypt again. */
    private Key usedKey;
    private byte[] usedIv;
    private boolean needsNewIv;

    /** An operation in parts: its session, and the input the module holds but has not answered. */
    private Token.Lease lease;
    private long held;

    TokenCipher(Token token, String transformation) {
        this.token = token;
        this.kind = Kind.of(transformation);
    }

    // Mode and padding come with the transformation.

    @Override
    protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
        if (!kind.mode.name().equalsIgnoreCase(mode)) {
            throw new NoSuchAlgorithmException(kind.transformation + " has no mode " + mode);
        }
    }

    @Override
    protected void engineSetPadding(String padding) throws NoSuchPaddingException {
        String own = kind.padded ? "PKCS5Padding" : "NoPadding";
        if (!own.equalsIgnoreCase(padding)) {
            throw new NoSuchPaddingException(kind.transformation + " has no padding " + padding);
        }
    }

    @Override
    protected int engineGetBlockSize() {
        return kind.blockSize;
    }

    @Override
    protected byte[] engineGetIV() {
        return iv == null ? null : iv.clone();
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (iv == null) {
            return null;
        }
        try {
            AlgorithmParameters p;
            if (kind.mode == Mode.GCM) {
                p = AlgorithmParameters.getInstance("GCM");
                p.init(new GCMParameterSpec(tagBits, iv));
            } else {
                p = AlgorithmParameters.getInstance(kind.keyAlgorithm);
                p.init(new IvParameterSpec(iv));
            }
            return p;
        } catch (GeneralSecurityException e) {
            throw new ProviderException("Kelvane: the JDK cannot hold the parameters of "
                    + kind.transformation, e);
        }
    }

    @Override
    protected int engineGetKeySize(Key key) throws InvalidKeyException {
        int n = keyLength(key);
        if (n < 0) {
            long handle = ((TokenSecretKey) key).handle;
            try {
                n = TokenKeys.intValue(token.call(s -> s.nat.J_GetAttributeValue(handle, Ck.CKA_VALUE_LEN)));
            } catch (CryptokiException e) {
                throw Failures.invalidKey(e);
            }
        }
        return 8 * n;
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        if (kind.mode == Mode.GCM) {
            long total = (long) dataLength + inputLen;
            return (int) Math.min(Integer.MAX_VALUE,
                    encrypt ? total + tagBits / 8 : Math.max(0, total - tagBits / 8));
        }
        long total = held + inputLen;
        if (kind.padded && encrypt) {
            total = (total / kind.blockSize + 1) * kind.blockSize;
        }
        return (int) Math.min(Integer.MAX_VALUE, total);
    }

    // Initialisation

    @Override
    protected void engineInit(int opmode, Key key, SecureRandom random) throws InvalidKeyException {
        try {
            engineInit(opmode, key, (AlgorithmParameterSpec) null, random);
        } catch (InvalidAlgorithmParameterException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameters params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        AlgorithmParameterSpec parameters = null;
        if (params != null) {
            try {
                parameters = kind.mode == Mode.GCM ? params.getParameterSpec(GCMParameterSpec.class)
                        : params.getParameterSpec(IvParameterSpec.class);
            } catch (InvalidParameterSpecException e) {
                throw new InvalidAlgorithmParameterException(kind.transformation
                        + " takes " + (kind.mode == Mode.GCM ? "GCM" : "IV") + " parameters", e);
            }
        }
        engineInit(opmode, key, parameters, random);
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        boolean enc = CipherSupport.encrypting(opmode);
        keyLength(key);
        byte[] newIv = null;
        int newTagBits = 0;
        switch (kind.mode) {
            case ECB:
                if (params != null) {
                    throw new InvalidAlgorithmParameterException(kind.transformation + " takes no IV");
                }
                break;
            case CBC:
            case CTR:
                if (params == null) {
                    if (!enc) {
                        throw new InvalidAlgorithmParameterException("Parameters missing: "
                                + kind.transformation + " needs the IV to decrypt");
                    }
                    newIv = randomIv(kind.blockSize, random);
                } else if (params instanceof IvParameterSpec) {
                    newIv = ((IvParameterSpec) params).getIV();
                    if (newIv.length != kind.blockSize) {
                        throw new InvalidAlgorithmParameterException(kind.transformation
                                + " needs an IV of " + kind.blockSize + " bytes, not " + newIv.length);
                    }
                } else {
                    throw new InvalidAlgorithmParameterException(kind.transformation
                            + " takes an IvParameterSpec, not " + params.getClass().getName());
                }
                break;
            case GCM:
                if (params == null) {
                    if (!enc) {
                        throw new InvalidAlgorithmParameterException("Parameters missing: "
                                + kind.transformation + " needs a GCMParameterSpec to decrypt");
                    }
                    newIv = randomIv(12, random);
                    newTagBits = 128;
                } else if (params instanceof GCMParameterSpec) {
                    GCMParameterSpec gcm = (GCMParameterSpec) params;
                    newIv = gcm.getIV();
                    newTagBits = gcm.getTLen();
                    if (Arrays.stream(GCM_TAG_BITS).noneMatch(b -> b == gcm.getTLen())) {
                        throw new InvalidAlgorithmParameterException("GCM tags have "
                                + Arrays.toString(GCM_TAG_BITS) + " bits, not " + gcm.getTLen());
                    }
                    if (newIv.length == 0) {
                        throw new InvalidAlgorithmParameterException("GCM needs an IV");
                    }
                } else {
                    throw new InvalidAlgorithmParameterException(kind.transformation
                            + " takes a GCMParameterSpec, not " + params.getClass().getName());
                }
                if (enc && usedKey != null && Arrays.equals(newIv, usedIv) && HeldKey.sameKey(usedKey, key)) {
                    throw new InvalidAlgorithmParameterException("Cannot reuse iv for GCM encryption");
                }
                break;
            default:
                throw new AssertionError(kind.mode);
        }
        abandon();
        initialised = false;
        this.key = heldKey.handle(token, key, enc ? Ck.CKA_ENCRYPT : Ck.CKA_DECRYPT);
        this.encrypt = enc;
        this.iv = newIv;
        this.tagBits = newTagBits;
        this.needsNewIv = false;
        if (kind.mode == Mode.GCM && enc) {
            usedKey = key;
            usedIv = newIv.clone();
        }
        switch (kind.mode) {
            case ECB:
                mechanism = new Mechanism(kind.mechanism);
                break;
            case CBC:
                mechanism = new Mechanism(kind.mechanism, newIv.clone());
                break;
            case CTR:
                mechanism = new Mechanism(kind.mechanism, new AESCTRParams(128, newIv.clone()));
                break;
            default:
                mechanism = null;
        }
        initialised = true;
    }

    // Data

    @Override
    protected void engineUpdateAAD(byte[] src, int offset, int len) {
        if (kind.mode != Mode.GCM) {
            throw new UnsupportedOperationException(kind.transformation + " takes no additional data");
        }
        checkReady();
        if (dataLength > 0) {
            throw new IllegalStateException("additional data must come before the message");
        }
        aad = append(aad, aadLength, src, offset, len);
        aadLength += len;
    }

    @Override
    protected byte[] engineUpdate(byte[] input, int offset, int len) {
        checkReady();
        if (input == null || len == 0) {
            return NOTHING;
        }
        if (kind.mode == Mode.GCM) {
            keepData(input, offset, len);
            return NOTHING;
        }
        try {
            byte[] out = updatePart(input, offset, len);
            held += len - out.length;
            return out;
        } catch (CryptokiException e) {
            abandon();
            throw Failures.provider(e);
        }
    }

    @Override
    protected int engineUpdate(byte[] input, int offset, int len, byte[] output, int outputOffset)
            throws ShortBufferException {
        checkReady();
        if (kind.mode != Mode.GCM) {
            long total = held + len;
            long most = kind.mode == Mode.CTR ? total : total - total % kind.blockSize;
            CipherSupport.checkRoom(output, outputOffset, (int) Math.min(Integer.MAX_VALUE, most));
        }
        return CipherSupport.copyOut(engineUpdate(input, offset, len), output, outputOffset);
    }

    @Override
    protected byte[] engineDoFinal(byte[] input, int offset, int len)
            throws IllegalBlockSizeException, BadPaddingException {
        try {
            return doFinal(input, offset, len, Integer.MAX_VALUE);
        } catch (ShortBufferException e) {
            throw new AssertionError(e);
        }
    }

    @Override
    protected int engineDoFinal(byte[] input, int offset, int len, byte[] output, int outputOffset)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        int room = output == null || outputOffset < 0 ? 0 : Math.max(0, output.length - outputOffset);
        if (lease != null || (encrypt && kind.mode == Mode.GCM)) {
            // The size is known before, and an operation in parts cannot be asked again.
            CipherSupport.checkRoom(output, outputOffset, engineGetOutputSize(len));
        } else if (encrypt && kind.mode != Mode.GCM && input != null && len > 0
                && room >= engineGetOutputSize(len)) {
            return doFinalInto(input, offset, len, output, outputOffset);
        }
        return CipherSupport.copyOut(doFinal(input, offset, len, room), output, outputOffset);
    }

    @Override
    protected byte[] engineWrap(Key key) throws IllegalBlockSizeException, InvalidKeyException {
        return CipherSupport.wrap(key, this::engineDoFinal);
    }

    @Override
    protected Key engineUnwrap(byte[] wrappedKey, String wrappedKeyAlgorithm, int wrappedKeyType)
            throws InvalidKeyException, NoSuchAlgorithmException {
        return CipherSupport.unwrap(wrappedKey, wrappedKeyAlgorithm, wrappedKeyType, this::engineDoFinal);
    }

    /**
     * The last part of the message. {@code room} is what the caller's output holds: a one-call
     * result larger than that fails with ShortBufferException and leaves the engine as it was,
     * so that the caller can ask again.
     */
    private byte[] doFinal(byte[] given, int offset, int len, int room)
            throws IllegalBlockSizeException, BadPaddingException, ShortBufferException {
        checkReady();
        byte[] input = given == null ? NOTHING : given;
        if (kind.mode == Mode.GCM) {
            return gcmFinal(input, offset, len, room);
        }
        long total = held + len;
        if ((kind.wholeBlocks() || (kind.padded && !encrypt)) && total % kind.blockSize != 0) {
            abandon();
            throw new IllegalBlockSizeException("Input length not multiple of " + kind.blockSize
                    + " bytes");
        }
        byte[] result;
        try {
            if (lease != null) {
                byte[] last = len == 0 ? NOTHING : updatePart(input, offset, len);
                TokenSession s = lease.session;
                byte[] tail = CryptokiLock.call(() -> encrypt ? s.nat.J_EncryptFinal() : s.nat.J_DecryptFinal());
                s.operationActive = false;
                result = concat(last, tail);
            } else if (total == 0 && !(kind.padded && encrypt)) {
                result = NOTHING;
            } else {
                long k = key;
                Mechanism m = mechanism;
                result = token.call(s -> encrypt
                        ? s.nat.J_Encrypt(s.handle, true, m, k, input, offset, len)
                        : s.nat.J_Decrypt(s.handle, true, m, k, input, offset, len));
                if (result.length > room) {
                    throw new ShortBufferException("the output needs " + result.length + " bytes, "
                            + room + " given");
                }
            }
        } catch (CryptokiException e) {
            abandon();
            CipherSupport.rethrow(e, false, kind.padded && !encrypt);
            throw new AssertionError(e);
        }
        abandon();
        return result;
    }

    /**
     * A whole message encrypted in one call, written by the token straight into the caller's
     * output, which holds the result (its length is known before).
     */
    private int doFinalInto(byte[] input, int offset, int len, byte[] output, int outputOffset)
            throws IllegalBlockSizeException, BadPaddingException {
        checkReady();
        if (kind.wholeBlocks() && len % kind.blockSize != 0) {
            abandon();
            throw new IllegalBlockSizeException("Input length not multiple of " + kind.blockSize
                    + " bytes");
        }
        long k = key;
        Mechanism m = mechanism;
        try {
            return token.call(s -> s.nat.J_Encrypt(s.handle, true, m, k, input, offset, len, output,
                    outputOffset));
        } catch (CryptokiException e) {
            CipherSupport.rethrow(e, false, false);
            throw new AssertionError(e);
        } finally {
            abandon();
        }
    }

    private byte[] gcmFinal(byte[] input, int offset, int len, int room)
            throws AEADBadTagException, ShortBufferException, IllegalBlockSizeException {
        byte[] message = input;
        int at = offset;
        int total = len;
        if (dataLength > 0) {
            message = append(data, dataLength, input, offset, len);
            at = 0;
            total = dataLength + len;
        }
        if (!encrypt && total < tagBits / 8) {
            abandon();
            throw new AEADBadTagException("the input (" + total + " bytes) is shorter than the tag ("
                    + tagBits / 8 + " bytes)");
        }
        Mechanism m = new Mechanism(kind.mechanism,
                new GCMParams(iv.clone(), aadLength == 0 ? null : Arrays.copyOf(aad, aadLength), tagBits));
        long k = key;
        byte[] msg = message;
        int from = at;
        int n = total;
        byte[] result;
        try {
            result = token.call(s -> encrypt
                    ? s.nat.J_Encrypt(s.handle, true, m, k, msg, from, n)
                    : s.nat.J_Decrypt(s.handle, true, m, k, msg, from, n));
        } catch (CryptokiException e) {
            abandon();
            try {
                CipherSupport.rethrow(e, !encrypt, !encrypt);
            } catch (BadPaddingException tag) {
                throw (AEADBadTagException) tag;
            }
            throw new AssertionError(e);
        }
        if (result.length > room) {
            throw new ShortBufferException("the output needs " + result.length + " bytes, " + room
                    + " given");
        }
        abandon();
        if (encrypt) {
            needsNewIv = true;
        }
        return result;
    }

    /** One part of an operation in parts, started on a leased session by the first. */
    private byte[] updatePart(byte[] input, int offset, int len) throws CryptokiException {
        if (lease == null) {
            lease = token.lease(this);
            TokenSession s = lease.session;
            long k = key;
            Mechanism m = mechanism;
            s.operationActive = true;
            return CryptokiLock.call(() -> encrypt
                    ? s.nat.J_EncryptUpdate(s.handle, true, m, k, input, offset, len)
                    : s.nat.J_DecryptUpdate(s.handle, true, m, k, input, offset, len));
        }
        TokenSession s = lease.session;
        return CryptokiLock.call(() -> encrypt
                ? s.nat.J_EncryptUpdate(s.handle, false, null, 0, input, offset, len)
                : s.nat.J_DecryptUpdate(s.handle, false, null, 0, input, offset, len));
    }

    /** Back to the state after init: kept input dropped, a leased session given back. */
    private void abandon() {
        held = 0;
        dataLength = 0;
        aadLength = 0;
        if (lease != null) {
            lease.close();
            lease = null;
        }
    }

    private void checkReady() {
        if (!initialised) {
            throw new IllegalStateException("the cipher is not initialised");
        }
        if (needsNewIv) {
            throw new IllegalStateException("Must use either different key or iv for GCM encryption");
        }
    }

    private void keepData(byte[] input, int offset, int len) {
        data = append(data, dataLength, input, offset, len);
        dataLength += len;
    }

    /** {@code buffer}'s first {@code used} bytes followed by the input, in {@code buffer} if it fits. */
    private static byte[] append(byte[] buffer, int used, byte[] input, int offset, int len) {
        byte[] out = buffer;
        if (used + len > buffer.length) {
            out = Arrays.copyOf(buffer, Math.max(used + len, 2 * buffer.length));
        }
        System.arraycopy(input, offset, out, used, len);
        return out;
    }

    private static byte[] concat(byte[] a, byte[] b) {
        if (a.length == 0) {
            return b;
        }
        if (b.length == 0) {
            return a;
        }
        byte[] out = Arrays.copyOf(a, a.length + b.length);
        System.arraycopy(b, 0, out, a.length, b.length);
        return out;
    }

    /**
     * The key's length in bytes, after checking it is a key of this cipher's algorithm; -1 for an
     * AES key of the token, whose length is not read here.
     */
    private int keyLength(Key key) throws InvalidKeyException {
        if (!(key instanceof SecretKey)) {
            throw new InvalidKeyException(kind.transformation + " needs a secret key, not "
                    + (key == null ? "null" : key.getClass().getName()));
        }
        int wanted = kind.keyAlgorithm.equals("AES") ? Ck.CKK_AES : Ck.CKK_DES3;
        if (key instanceof TokenSecretKey) {
            TokenSecretKey own = (TokenSecretKey) key;
            if (own.keyType != wanted) {
                throw new InvalidKeyException(kind.transformation + " needs a " + kind.keyAlgorithm
                        + " key, not " + own);
            }
            return kind.keyAlgorithm.equals("AES") ? -1 : 24;
        }
        if (TokenKeys.secretKeyType(key.getAlgorithm()) != wanted) {
            throw new InvalidKeyException(kind.transformation + " needs a " + kind.keyAlgorithm
                    + " key, not " + key.getAlgorithm());
        }
        byte[] value = key.getEncoded();
        int n = value == null ? -1 : value.length;
        if (value != null) {
            Arrays.fill(value, (byte) 0);
        }
        boolean fits = wanted == Ck.CKK_AES ? (n == 16 || n == 24 || n == 32) : n == 24;
        if (!fits) {
            throw new InvalidKeyException("Invalid " + kind.keyAlgorithm + " key length: " + n
                    + " bytes");
        }
        return n;
    }

    private static byte[] randomIv(int length, SecureRandom random) {
        byte[] iv = new byte[length];
        (random != null ? random : new SecureRandom()).nextBytes(iv);
        return iv;
    }
}
