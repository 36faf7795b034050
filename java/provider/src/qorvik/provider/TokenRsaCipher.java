package qorvik.provider;

import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.interfaces.RSAKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;
import java.security.spec.MGF1ParameterSpec;
import java.util.Arrays;

import javax.crypto.BadPaddingException;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;

import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.params.OAEPParams;

/**
 * RSA/ECB/PKCS1Padding and RSA/ECB/OAEPPadding (SHA-1, MGF1 with SHA-1) on the token: the input is
 * kept here (one block at most) and goes to the token in one call at doFinal. A public key is
 * imported for the operation; the private key is the token's. PKCS#1 also runs the other way, as
 * the JDK's does: encrypting with the private key is a raw PKCS#1 signature, decrypting with the
 * public key a raw public operation whose block-type-1 padding is checked here.
 */
final class TokenRsaCipher extends CipherSpi {
    private static final byte[] NOTHING = new byte[0];
    /** OAEP's overhead with SHA-1: two digests and two bytes. */
    private static final int OAEP_SHA1_OVERHEAD = 2 * 20 + 2;
    private static final int PKCS1_OVERHEAD = 11;

    private final Token token;
    private final boolean oaep;
    private final HeldKey heldKey = new HeldKey(this);
    private boolean initialised;
    private boolean encrypt;
    private boolean privateKey;
    private long key;
    private int modulusBytes;
    private byte[] label;
    private byte[] buffer = NOTHING;
    private int length;

    TokenRsaCipher(Token token, String transformation) {
        this.token = token;
        this.oaep = transformation.endsWith("OAEPPadding");
    }

    @Override
    protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
        if (!mode.equalsIgnoreCase("ECB") && !mode.equalsIgnoreCase("NONE")) {
            throw new NoSuchAlgorithmException("RSA has no mode " + mode);
        }
    }

    @Override
    protected void engineSetPadding(String padding) throws NoSuchPaddingException {
        String p = padding.toUpperCase();
        boolean ok = oaep ? p.equals("OAEPPADDING") || p.equals("OAEPWITHSHA-1ANDMGF1PADDING")
                || p.equals("OAEPWITHSHA1ANDMGF1PADDING") : p.equals("PKCS1PADDING");
        if (!ok) {
            throw new NoSuchPaddingException("this RSA cipher has no padding " + padding);
        }
    }

    @Override
    protected int engineGetBlockSize() {
        return 0;
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        return modulusBytes;
    }

    @Override
    protected byte[] engineGetIV() {
        return null;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (!oaep) {
            return null;
        }
        try {
            AlgorithmParameters p = AlgorithmParameters.getInstance("OAEP");
            p.init(new OAEPParameterSpec("SHA-1", "MGF1", MGF1ParameterSpec.SHA1,
                    label == null ? PSource.PSpecified.DEFAULT : new PSource.PSpecified(label)));
            return p;
        } catch (GeneralSecurityException e) {
            throw new ProviderException("Kelvane: the JDK cannot hold OAEP parameters", e);
        }
    }

    @Override
    protected int engineGetKeySize(Key key) throws InvalidKeyException {
        return rsaKey(key).getModulus().bitLength();
    }

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
                parameters = params.getParameterSpec(OAEPParameterSpec.class);
            } catch (InvalidParameterSpecException e) {
                throw new InvalidAlgorithmParameterException("RSA takes OAEP parameters only", e);
            }
        }
        engineInit(opmode, key, parameters, random);
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        boolean enc = CipherSupport.encrypting(opmode);
        byte[] newLabel = null;
        if (params != null) {
            if (!oaep) {
                throw new InvalidAlgorithmParameterException("RSA/ECB/PKCS1Padding takes no parameters");
            }
            newLabel = oaepLabel(params);
        }
        RSAKey rsa = rsaKey(key);
        boolean priv = key instanceof PrivateKey;
        if (priv == enc && oaep) {
            throw new InvalidKeyException("OAEP encrypts with the public key and decrypts with the "
                    + "private key");
        }
        int purpose = enc ? (priv ? Ck.CKA_SIGN : Ck.CKA_ENCRYPT) : (priv ? Ck.CKA_DECRYPT : Ck.CKA_ENCRYPT);
        initialised = false;
        this.key = heldKey.handle(token, key, purpose);
        this.encrypt = enc;
        this.privateKey = priv;
        this.modulusBytes = (rsa.getModulus().bitLength() + 7) / 8;
        this.label = newLabel;
        this.length = 0;
        initialised = true;
    }

    @Override
    protected byte[] engineUpdate(byte[] input, int offset, int len) {
        keep(input, offset, len);
        return NOTHING;
    }

    @Override
    protected int engineUpdate(byte[] input, int offset, int len, byte[] output, int outputOffset) {
        keep(input, offset, len);
        return 0;
    }

    @Override
    protected byte[] engineDoFinal(byte[] input, int offset, int len)
            throws IllegalBlockSizeException, BadPaddingException {
        checkReady();
        byte[] data = input == null ? NOTHING : input;
        int at = offset;
        int n = len;
        if (length > 0) {
            keep(input, offset, len);
            data = buffer;
            at = 0;
            n = length;
        }
        length = 0;
        int most = !encrypt ? modulusBytes
                : modulusBytes - (oaep ? OAEP_SHA1_OVERHEAD : PKCS1_OVERHEAD);
        if (n > most) {
            throw new IllegalBlockSizeException("Data must not be longer than " + most + " bytes");
        }
        byte[] d = data;
        int from = at;
        int count = n;
        long k = key;
        try {
            if (oaep) {
                Mechanism m = new Mechanism(Ck.CKM_RSA_PKCS_OAEP, new OAEPParams(Ck.CKM_SHA_1,
                        Ck.CKG_MGF1_SHA1, Ck.CKZ_DATA_SPECIFIED, label == null ? null : label.clone()));
                return token.call(s -> encrypt ? s.nat.J_Encrypt(s.handle, true, m, k, d, from, count)
                        : s.nat.J_Decrypt(s.handle, true, m, k, d, from, count));
            }
            Mechanism pkcs = new Mechanism(Ck.CKM_RSA_PKCS);
            if (encrypt && privateKey) {
                return token.call(s -> s.nat.J_Sign(s.handle, true, pkcs, k, d, from, count));
            }
            if (encrypt || privateKey) {
                return token.call(s -> encrypt ? s.nat.J_Encrypt(s.handle, true, pkcs, k, d, from, count)
                        : s.nat.J_Decrypt(s.handle, true, pkcs, k, d, from, count));
            }
            Mechanism raw = new Mechanism(Ck.CKM_RSA_X_509);
            return unpadBlockType1(token.call(s -> s.nat.J_Encrypt(s.handle, true, raw, k, d, from, count)));
        } catch (CryptokiException e) {
            CipherSupport.rethrow(e, false, !encrypt);
            throw new AssertionError(e);
        }
    }

    @Override
    protected int engineDoFinal(byte[] input, int offset, int len, byte[] output, int outputOffset)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        CipherSupport.checkRoom(output, outputOffset, encrypt ? modulusBytes : 0);
        int room = output == null || outputOffset < 0 ? 0 : output.length - outputOffset;
        byte[] result = engineDoFinal(input, offset, len);
        if (result.length > room) {
            throw new ShortBufferException("the output needs " + result.length + " bytes, " + room
                    + " given");
        }
        return CipherSupport.copyOut(result, output, outputOffset);
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

    /** The data of a PKCS#1 block of type 1: 00 01 FF..FF (at least eight) 00 data. */
    private byte[] unpadBlockType1(byte[] block) throws BadPaddingException {
        byte[] em = block;
        if (em.length < modulusBytes) {
            em = new byte[modulusBytes];
            System.arraycopy(block, 0, em, modulusBytes - block.length, block.length);
        }
        boolean good = em.length == modulusBytes && em.length >= PKCS1_OVERHEAD && em[0] == 0 && em[1] == 1;
        int i = 2;
        while (good && i < em.length && em[i] == (byte) 0xFF) {
            i++;
        }
        good = good && i < em.length && em[i] == 0 && i >= 10;
        if (!good) {
            throw new BadPaddingException("Decryption error: the block is not PKCS#1 type 1");
        }
        return Arrays.copyOfRange(em, i + 1, em.length);
    }

    private void keep(byte[] input, int offset, int len) {
        checkReady();
        if (input == null || len == 0) {
            return;
        }
        // One block at most is kept; more is refused at doFinal, as one byte more is enough to know.
        int take = Math.min(len, modulusBytes + 1 - length);
        if (take <= 0) {
            return;
        }
        if (length + take > buffer.length) {
            buffer = Arrays.copyOf(buffer, modulusBytes + 1);
        }
        System.arraycopy(input, offset, buffer, length, take);
        length += take;
    }

    private void checkReady() {
        if (!initialised) {
            throw new IllegalStateException("the cipher is not initialised");
        }
    }

    private static RSAKey rsaKey(Key key) throws InvalidKeyException {
        if (!(key instanceof RSAKey)) {
            throw new InvalidKeyException("RSA needs an RSA key, not "
                    + (key == null ? "null" : key.getClass().getName() + " (" + key.getAlgorithm() + ")"));
        }
        return (RSAKey) key;
    }

    /** The label of OAEP parameters, which must name SHA-1 and MGF1 with SHA-1. */
    private static byte[] oaepLabel(AlgorithmParameterSpec params) throws InvalidAlgorithmParameterException {
        if (!(params instanceof OAEPParameterSpec)) {
            throw new InvalidAlgorithmParameterException("OAEP takes an OAEPParameterSpec, not "
                    + params.getClass().getName());
        }
        OAEPParameterSpec parameters = (OAEPParameterSpec) params;
        String digest = parameters.getDigestAlgorithm().toUpperCase();
        if (!digest.equals("SHA-1") && !digest.equals("SHA1") && !digest.equals("SHA")) {
            throw new InvalidAlgorithmParameterException("OAEP runs with SHA-1 only, not "
                    + parameters.getDigestAlgorithm());
        }
        if (!parameters.getMGFAlgorithm().equalsIgnoreCase("MGF1")
                || !(parameters.getMGFParameters() instanceof MGF1ParameterSpec)) {
            throw new InvalidAlgorithmParameterException("OAEP runs with MGF1 only, not "
                    + parameters.getMGFAlgorithm());
        }
        String mgfDigest = ((MGF1ParameterSpec) parameters.getMGFParameters()).getDigestAlgorithm().toUpperCase();
        if (!mgfDigest.equals("SHA-1") && !mgfDigest.equals("SHA1")) {
            throw new InvalidAlgorithmParameterException("OAEP's MGF1 runs with SHA-1 only, not "
                    + mgfDigest);
        }
        if (!(parameters.getPSource() instanceof PSource.PSpecified)) {
            throw new InvalidAlgorithmParameterException("OAEP takes a specified label only");
        }
        byte[] value = ((PSource.PSpecified) parameters.getPSource()).getValue();
        return value.length == 0 ? null : value;
    }
}
