package qorvik.provider;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.SecureRandom;
import java.security.interfaces.ECPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECParameterSpec;
import java.util.Arrays;
import java.util.Locale;

import javax.crypto.KeyAgreementSpi;
import javax.crypto.SecretKey;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.SecretKeySpec;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.params.ECDH1DeriveParams;

/**
 * ECDH with a private key of the token and the other party's public key (a JDK ECPublicKey, whose
 * point is the derivation's parameter). The shared secret, the x coordinate as the JDK gives it,
 * is derived as a short-lived extractable session object, read and destroyed at once.
 */
final class TokenKeyAgreement extends KeyAgreementSpi {
    private final Token token;
    private TokenPrivateKey.Ec key;
    private byte[] keyCurve;
    private byte[] secret;

    TokenKeyAgreement(Token token, String algorithm) {
        this.token = token;
    }

    @Override
    protected void engineInit(Key key, SecureRandom random) throws InvalidKeyException {
        if (!(key instanceof TokenPrivateKey.Ec)) {
            throw new InvalidKeyException("ECDH takes an EC private key of the token, not "
                    + (key == null ? "null" : key.getAlgorithm() + " (" + key.getClass().getName() + ")"));
        }
        TokenPrivateKey.Ec ec = (TokenPrivateKey.Ec) key;
        if (!ec.belongsTo(token)) {
            throw new InvalidKeyException("the key belongs to another token: " + ec);
        }
        this.keyCurve = TokenKeys.encodeEcParams(ec.getParams());
        this.key = ec;
        this.secret = null;
    }

    @Override
    protected void engineInit(Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null) {
            throw new InvalidAlgorithmParameterException("ECDH takes no parameters");
        }
        engineInit(key, random);
    }

    @Override
    protected Key engineDoPhase(Key peer, boolean lastPhase) throws InvalidKeyException {
        if (key == null) {
            throw new IllegalStateException("ECDH: not initialised");
        }
        if (!lastPhase) {
            throw new IllegalStateException("ECDH agrees between two parties: the phase must be the last");
        }
        if (!(peer instanceof ECPublicKey)) {
            throw new InvalidKeyException("ECDH takes the other party's ECPublicKey, not "
                    + (peer == null ? "null" : peer.getClass().getName()));
        }
        ECParameterSpec params = ((ECPublicKey) peer).getParams();
        if (!Arrays.equals(TokenKeys.encodeEcParams(params), keyCurve)) {
            throw new InvalidKeyException("the other party's key is on another curve than the private key");
        }
        byte[] point = TokenKeys.encodePoint(((ECPublicKey) peer).getW(), params);
        int length = (params.getCurve().getField().getFieldSize() + 7) / 8;
        Mechanism mechanism = new Mechanism(Ck.CKM_ECDH1_DERIVE,
                new ECDH1DeriveParams(Ck.CKD_NULL, null, point));
        Attribute[] template = {
            new Attribute(Ck.CKA_CLASS, Ck.CKO_SECRET_KEY),
            new Attribute(Ck.CKA_KEY_TYPE, Ck.CKK_GENERIC_SECRET),
            new Attribute(Ck.CKA_TOKEN, false),
            new Attribute(Ck.CKA_SENSITIVE, false),
            new Attribute(Ck.CKA_EXTRACTABLE, true),
            new Attribute(Ck.CKA_VALUE_LEN, length),
        };
        long base = key.handle;
        try {
            secret = token.call(s -> {
                long derived = s.nat.J_DeriveKey(mechanism, base, template);
                try {
                    return TokenKeys.bytes(s.nat.J_GetAttributeValue(derived, Ck.CKA_VALUE));
                } finally {
                    s.nat.J_DestroyObject(derived);
                }
            });
        } catch (CryptokiException e) {
            throw Failures.invalidKey(e);
        }
        return null;
    }

    @Override
    protected byte[] engineGenerateSecret() {
        return takeSecret();
    }

    @Override
    protected int engineGenerateSecret(byte[] sharedSecret, int offset) throws ShortBufferException {
        if (secret == null) {
            throw new IllegalStateException("ECDH: no secret before doPhase");
        }
        if (offset < 0 || sharedSecret.length - offset < secret.length) {
            throw new ShortBufferException("ECDH: the secret takes " + secret.length + " bytes");
        }
        byte[] out = takeSecret();
        System.arraycopy(out, 0, sharedSecret, offset, out.length);
        Arrays.fill(out, (byte) 0);
        return out.length;
    }

    /**
     * The secret as a key: whole for "TlsPremasterSecret", "Generic" and HMAC; for AES its first
     * 32, 24 or 16 bytes (the longest the secret holds); for DESede its first 24.
     */
    @Override
    protected SecretKey engineGenerateSecret(String algorithm) throws NoSuchAlgorithmException {
        if (algorithm == null) {
            throw new NoSuchAlgorithmException("no key algorithm named");
        }
        if (secret == null) {
            throw new IllegalStateException("ECDH: no secret before doPhase");
        }
        String a = algorithm.toUpperCase(Locale.ROOT);
        int length;
        if (a.equals("TLSPREMASTERSECRET") || a.equals("GENERIC") || a.startsWith("HMAC")) {
            length = secret.length;
        } else if (a.equals("AES")) {
            length = secret.length >= 32 ? 32 : secret.length >= 24 ? 24 : 16;
        } else if (a.equals("DESEDE")) {
            length = 24;
        } else {
            throw new NoSuchAlgorithmException("ECDH makes no " + algorithm + " keys (AES, DESede, Hmac..., "
                    + "TlsPremasterSecret, Generic)");
        }
        if (secret.length < length) {
            throw new NoSuchAlgorithmException("the secret of " + secret.length + " bytes is too short for "
                    + algorithm);
        }
        byte[] out = takeSecret();
        try {
            return new SecretKeySpec(out, 0, length, algorithm);
        } finally {
            Arrays.fill(out, (byte) 0);
        }
    }

    /** The secret, once: the agreement is back to its state after init. */
    private byte[] takeSecret() {
        if (secret == null) {
            throw new IllegalStateException("ECDH: no secret before doPhase");
        }
        byte[] out = secret;
        secret = null;
        return out;
    }
}
