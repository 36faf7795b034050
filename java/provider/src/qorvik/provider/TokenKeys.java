package qorvik.provider;

import java.math.BigInteger;
import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyFactory;
import java.security.ProviderException;
import java.security.PublicKey;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.EdECPublicKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECParameterSpec;
import java.security.spec.ECPoint;
import java.security.spec.ECPublicKeySpec;
import java.security.spec.RSAPublicKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import javax.crypto.SecretKey;

import qorvik.Attribute;
import qorvik.CryptokiException;

/**
 * Keys between the token and the JDK: the provider's key objects for token handles, the JDK's
 * public keys for the token's public keys, and other providers' keys imported as session objects
 * for one operation.
 */
final class TokenKeys {
    /** The DER prefix of an Ed25519 SubjectPublicKeyInfo, before the 32 key bytes. */
    private static final byte[] ED25519_SPKI_PREFIX = {
        0x30, 0x2a, 0x30, 0x05, 0x06, 0x03, 0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};
    /** The DER OID 1.3.101.112 (Ed25519), as CKA_EC_PARAMS. */
    static final byte[] ED25519_OID = {0x06, 0x03, 0x2b, 0x65, 0x70};
    /** The PrintableString "edwards25519", the other form CKA_EC_PARAMS takes for that curve. */
    private static final byte[] EDWARDS25519_NAME = {
        0x13, 0x0c, 'e', 'd', 'w', 'a', 'r', 'd', 's', '2', '5', '5', '1', '9'};

    private TokenKeys() {
    }

    // Token objects as key objects

    /** The provider's key object for the private key {@code handle}. Called holding the lock. */
    static TokenPrivateKey privateKey(Token token, TokenSession s, long handle)
            throws CryptokiException, GeneralSecurityException {
        int keyType = intValue(s.nat.J_GetAttributeValue(handle, Ck.CKA_KEY_TYPE));
        boolean always = Boolean.TRUE.equals(
                s.nat.J_GetAttributeValue(handle, Ck.CKA_ALWAYS_AUTHENTICATE).getValue());
        switch (keyType) {
            case Ck.CKK_RSA:
                return new TokenPrivateKey.Rsa(token, handle, always,
                        new BigInteger(1, bytes(s.nat.J_GetAttributeValue(handle, Ck.CKA_MODULUS))));
            case Ck.CKK_EC:
                return new TokenPrivateKey.Ec(token, handle, always,
                        ecParams(bytes(s.nat.J_GetAttributeValue(handle, Ck.CKA_EC_PARAMS))));
            case Ck.CKK_EC_EDWARDS:
                return new TokenPrivateKey(token, handle, keyType, "Ed25519", always);
            default:
                throw new InvalidKeyException("private key " + handle + " has the key type 0x"
                        + Integer.toHexString(keyType) + ", which this provider does not use");
        }
    }

    /** The provider's key object for the secret key {@code handle}. Called holding the lock. */
    static TokenSecretKey secretKey(Token token, TokenSession s, long handle) throws CryptokiException {
        int keyType = intValue(s.nat.J_GetAttributeValue(handle, Ck.CKA_KEY_TYPE));
        String algorithm;
        switch (keyType) {
            case Ck.CKK_AES:
                algorithm = "AES";
                break;
            case Ck.CKK_DES3:
                algorithm = "DESede";
                break;
            case Ck.CKK_GENERIC_SECRET:
                algorithm = "Generic";
                break;
            default:
                algorithm = "0x" + Integer.toHexString(keyType);
        }
        return new TokenSecretKey(token, handle, keyType, algorithm);
    }

    /** The token's public key {@code handle} as a key of the JDK. Called holding the lock. */
    static PublicKey publicKey(TokenSession s, long handle)
            throws CryptokiException, GeneralSecurityException {
        int keyType = intValue(s.nat.J_GetAttributeValue(handle, Ck.CKA_KEY_TYPE));
        switch (keyType) {
            case Ck.CKK_RSA: {
                BigInteger n = new BigInteger(1, bytes(s.nat.J_GetAttributeValue(handle, Ck.CKA_MODULUS)));
                BigInteger e = new BigInteger(1,
                        bytes(s.nat.J_GetAttributeValue(handle, Ck.CKA_PUBLIC_EXPONENT)));
                return KeyFactory.getInstance("RSA").generatePublic(new RSAPublicKeySpec(n, e));
            }
            case Ck.CKK_EC: {
                ECParameterSpec params = ecParams(bytes(s.nat.J_GetAttributeValue(handle, Ck.CKA_EC_PARAMS)));
                byte[] point = unwrapOctetString(bytes(s.nat.J_GetAttributeValue(handle, Ck.CKA_EC_POINT)));
                return KeyFactory.getInstance("EC").generatePublic(
                        new ECPublicKeySpec(decodePoint(point, params), params));
            }
            case Ck.CKK_EC_EDWARDS: {
                byte[] raw = unwrapOctetString(bytes(s.nat.J_GetAttributeValue(handle, Ck.CKA_EC_POINT)));
                if (raw.length != 32) {
                    throw new InvalidKeyException("only Ed25519 public keys are read (point of "
                            + raw.length + " bytes)");
                }
                byte[] spki = Arrays.copyOf(ED25519_SPKI_PREFIX, ED25519_SPKI_PREFIX.length + 32);
                System.arraycopy(raw, 0, spki, ED25519_SPKI_PREFIX.length, 32);
                return KeyFactory.getInstance("Ed25519").generatePublic(new X509EncodedKeySpec(spki));
            }
            default:
                throw new InvalidKeyException("public key " + handle + " has the key type 0x"
                        + Integer.toHexString(keyType) + ", which this provider does not read");
        }
    }

    // Keys of other providers, imported for one operation

    /** A key's handle for one operation; {@link #close} destroys it if it was imported for it. */
    static final class Use implements AutoCloseable {
        final long handle;
        final Key key;
        private final Token token;
        private boolean imported;

        private Use(Token token, Key key, long handle, boolean imported) {
            this.token = token;
            this.key = key;
            this.handle = handle;
            this.imported = imported;
        }

        @Override
        public void close() {
            if (imported) {
                imported = false;
                try {
                    token.destroyObject(handle);
                } catch (CryptokiException e) {
                    // A session object ends with the provider's session at the latest.
                }
            }
        }
    }

    /**
     * The handle of {@code key} for an operation on {@code token}: its own handle for a key of this
     * token, otherwise a session object imported now, allowed the operation {@code purpose} (a
     * CKA_ flag such as CKA_VERIFY). Private keys of other providers are never imported.
     */
    static Use use(Token token, Key key, int purpose) throws InvalidKeyException {
        if (key instanceof TokenKey) {
            TokenKey own = (TokenKey) key;
            if (!own.belongsTo(token)) {
                throw new InvalidKeyException("the key belongs to another token: " + own);
            }
            return new Use(token, key, own.handle, false);
        }
        Attribute[] template = importTemplate(key, purpose);
        try {
            return new Use(token, key, token.createObject(template), true);
        } catch (CryptokiException e) {
            throw Failures.invalidKey(e);
        }
    }

    static Attribute[] importTemplate(Key key, int purpose) throws InvalidKeyException {
        List<Attribute> t = new ArrayList<>();
        t.add(new Attribute(Ck.CKA_TOKEN, false));
        if (key instanceof SecretKey) {
            byte[] value = key.getEncoded();
            if (value == null || !"RAW".equalsIgnoreCase(key.getFormat())) {
                throw new InvalidKeyException("a secret key must give its value in RAW form to be used "
                        + "on the token");
            }
            t.add(new Attribute(Ck.CKA_CLASS, Ck.CKO_SECRET_KEY));
            t.add(new Attribute(Ck.CKA_KEY_TYPE, secretKeyType(key.getAlgorithm())));
            t.add(new Attribute(Ck.CKA_VALUE, value));
            t.add(new Attribute(Ck.CKA_SENSITIVE, false));
        } else if (key instanceof RSAPublicKey) {
            RSAPublicKey rsa = (RSAPublicKey) key;
            t.add(new Attribute(Ck.CKA_CLASS, Ck.CKO_PUBLIC_KEY));
            t.add(new Attribute(Ck.CKA_KEY_TYPE, Ck.CKK_RSA));
            t.add(new Attribute(Ck.CKA_MODULUS, unsigned(rsa.getModulus())));
            t.add(new Attribute(Ck.CKA_PUBLIC_EXPONENT, unsigned(rsa.getPublicExponent())));
        } else if (key instanceof ECPublicKey) {
            ECPublicKey ec = (ECPublicKey) key;
            t.add(new Attribute(Ck.CKA_CLASS, Ck.CKO_PUBLIC_KEY));
            t.add(new Attribute(Ck.CKA_KEY_TYPE, Ck.CKK_EC));
            t.add(new Attribute(Ck.CKA_EC_PARAMS, encodeEcParams(ec.getParams())));
            t.add(new Attribute(Ck.CKA_EC_POINT, octetString(encodePoint(ec.getW(), ec.getParams()))));
        } else if (key instanceof EdECPublicKey && "X.509".equals(key.getFormat())) {
            byte[] spki = key.getEncoded();
            if (spki == null || spki.length != ED25519_SPKI_PREFIX.length + 32
                    || !Arrays.equals(spki, 0, ED25519_SPKI_PREFIX.length, ED25519_SPKI_PREFIX, 0,
                            ED25519_SPKI_PREFIX.length)) {
                throw new InvalidKeyException("only Ed25519 public keys are used on the token");
            }
            t.add(new Attribute(Ck.CKA_CLASS, Ck.CKO_PUBLIC_KEY));
            t.add(new Attribute(Ck.CKA_KEY_TYPE, Ck.CKK_EC_EDWARDS));
            t.add(new Attribute(Ck.CKA_EC_PARAMS, ED25519_OID.clone()));
            t.add(new Attribute(Ck.CKA_EC_POINT,
                    octetString(Arrays.copyOfRange(spki, ED25519_SPKI_PREFIX.length, spki.length))));
        } else if (key instanceof java.security.PrivateKey) {
            throw new InvalidKeyException("a private key of another provider is not copied to the token ("
                    + key.getClass().getName() + ")");
        } else {
            throw new InvalidKeyException("cannot use a key of " + key.getClass().getName()
                    + " (" + key.getAlgorithm() + ") on the token");
        }
        t.add(new Attribute(purpose, true));
        return t.toArray(new Attribute[0]);
    }

    /** CKK_ type for a JCA secret key algorithm. */
    static int secretKeyType(String algorithm) throws InvalidKeyException {
        String a = algorithm.toUpperCase();
        if (a.equals("AES")) {
            return Ck.CKK_AES;
        }
        if (a.equals("DESEDE") || a.equals("TRIPLEDES")) {
            return Ck.CKK_DES3;
        }
        if (a.startsWith("HMAC") || a.equals("GENERIC")) {
            return Ck.CKK_GENERIC_SECRET;
        }
        throw new InvalidKeyException("no token key type for the secret key algorithm " + algorithm);
    }

    // Encodings

    /** CKA_EC_PARAMS (a named curve's DER OID) to the JDK's curve parameters. */
    static ECParameterSpec ecParams(byte[] der) throws GeneralSecurityException {
        AlgorithmParameters p = AlgorithmParameters.getInstance("EC");
        try {
            p.init(der);
        } catch (java.io.IOException e) {
            throw new InvalidKeyException("CKA_EC_PARAMS is not a named curve this JDK knows", e);
        }
        return p.getParameterSpec(ECParameterSpec.class);
    }

    /** The JDK's curve parameters to CKA_EC_PARAMS, the curve's DER OID. */
    static byte[] encodeEcParams(ECParameterSpec params) throws InvalidKeyException {
        try {
            AlgorithmParameters p = AlgorithmParameters.getInstance("EC");
            p.init(params);
            return p.getEncoded();
        } catch (GeneralSecurityException | java.io.IOException e) {
            throw new InvalidKeyException("the key's curve is not a named curve this JDK knows", e);
        }
    }

    /** CKA_EC_PARAMS for a curve named as the JDK names it ("secp256r1", "P-256"). */
    static byte[] encodeEcParams(String curveName) throws GeneralSecurityException {
        AlgorithmParameters p = AlgorithmParameters.getInstance("EC");
        p.init(new ECGenParameterSpec(curveName));
        try {
            return p.getEncoded();
        } catch (java.io.IOException e) {
            throw new GeneralSecurityException("cannot encode the curve " + curveName, e);
        }
    }

    /** True when CKA_EC_PARAMS names Ed25519 (by OID or by name). */
    static boolean isEd25519(byte[] ecParams) {
        return Arrays.equals(ecParams, ED25519_OID) || Arrays.equals(ecParams, EDWARDS25519_NAME);
    }

    /** The uncompressed form 04 || X || Y. */
    static byte[] encodePoint(ECPoint w, ECParameterSpec params) {
        int n = (params.getCurve().getField().getFieldSize() + 7) / 8;
        byte[] out = new byte[1 + 2 * n];
        out[0] = 4;
        fixed(w.getAffineX(), out, 1, n);
        fixed(w.getAffineY(), out, 1 + n, n);
        return out;
    }

    static ECPoint decodePoint(byte[] encoded, ECParameterSpec params) throws InvalidKeyException {
        int n = (params.getCurve().getField().getFieldSize() + 7) / 8;
        if (encoded.length != 1 + 2 * n || encoded[0] != 4) {
            throw new InvalidKeyException("the EC point is not in uncompressed form for its curve");
        }
        return new ECPoint(new BigInteger(1, Arrays.copyOfRange(encoded, 1, 1 + n)),
                new BigInteger(1, Arrays.copyOfRange(encoded, 1 + n, encoded.length)));
    }

    /** A DER OCTET STRING around {@code content}. */
    static byte[] octetString(byte[] content) {
        int len = content.length;
        byte[] header;
        if (len < 0x80) {
            header = new byte[] {0x04, (byte) len};
        } else if (len < 0x100) {
            header = new byte[] {0x04, (byte) 0x81, (byte) len};
        } else {
            header = new byte[] {0x04, (byte) 0x82, (byte) (len >> 8), (byte) len};
        }
        byte[] out = Arrays.copyOf(header, header.length + len);
        System.arraycopy(content, 0, out, header.length, len);
        return out;
    }

    /** The content of a DER OCTET STRING; a value that is not exactly one is returned as it is. */
    static byte[] unwrapOctetString(byte[] der) {
        if (der.length < 2 || der[0] != 0x04) {
            return der;
        }
        int len;
        int at;
        int first = der[1] & 0xff;
        if (first < 0x80) {
            len = first;
            at = 2;
        } else if (first == 0x81 && der.length >= 3) {
            len = der[2] & 0xff;
            at = 3;
        } else if (first == 0x82 && der.length >= 4) {
            len = ((der[2] & 0xff) << 8) | (der[3] & 0xff);
            at = 4;
        } else {
            return der;
        }
        return at + len == der.length ? Arrays.copyOfRange(der, at, der.length) : der;
    }

    static byte[] unsigned(BigInteger v) {
        byte[] b = v.toByteArray();
        return b.length > 1 && b[0] == 0 ? Arrays.copyOfRange(b, 1, b.length) : b;
    }

    private static void fixed(BigInteger v, byte[] out, int at, int n) {
        byte[] b = unsigned(v);
        System.arraycopy(b, 0, out, at + n - b.length, b.length);
    }

    /** The number an attribute read back holds; a module answering without one is a failure. */
    static int intValue(Attribute a) {
        Object v = a == null ? null : a.getValue();
        if (!(v instanceof Integer)) {
            throw new ProviderException("Kelvane: the module gave no number for attribute 0x"
                    + Integer.toHexString(a == null ? -1 : a.getType()));
        }
        return (Integer) v;
    }

    /** The bytes an attribute read back holds; a module answering without them is a failure. */
    static byte[] bytes(Attribute a) {
        Object v = a == null ? null : a.getValue();
        if (!(v instanceof byte[])) {
            throw new ProviderException("Kelvane: the module gave no value for attribute 0x"
                    + Integer.toHexString(a == null ? -1 : a.getType()));
        }
        return (byte[]) v;
    }
}
