package qorvik.tool.cli.crypto;

import static qorvik.tool.cli.crypto.Ck.*;

import java.math.BigInteger;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.interfaces.ECPrivateKey;
import java.security.interfaces.EdECPrivateKey;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPublicKey;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import qorvik.Attribute;

/**
 * Cryptoki templates of the objects the commands make: token objects with a label and an ID,
 * private and secret keys private and sensitive, each key allowed what its kind is for.
 * The ID, unless the user gives one, is the SHA-1 of the public value (an RSA modulus, an EC
 * point), so a key pair and its certificate share it whichever command made them.
 */
public final class Templates {
    private final List<Attribute> attributes = new ArrayList<>();

    private Templates() {
    }

    /** A token object of {@code objectClass} with the given label and ID (either may be null). */
    public static Templates object(int objectClass, String label, byte[] id) {
        Templates t = new Templates();
        t.add(CKA_CLASS, objectClass).add(CKA_TOKEN, true);
        if (label != null) {
            t.add(CKA_LABEL, label);
        }
        if (id != null) {
            t.add(CKA_ID, id);
        }
        return t;
    }

    public Templates add(int type, Object value) {
        attributes.add(new Attribute(type, value));
        return this;
    }

    public Attribute[] build() {
        return attributes.toArray(new Attribute[0]);
    }

    /** Big-endian bytes of a non-negative number without a sign byte. */
    public static byte[] unsigned(BigInteger value) {
        byte[] bytes = value.toByteArray();
        return bytes.length > 1 && bytes[0] == 0 ? Arrays.copyOfRange(bytes, 1, bytes.length) : bytes;
    }

    /** {@code value} left-padded with zeros to {@code length} bytes. */
    static byte[] fixed(BigInteger value, int length) {
        byte[] bytes = unsigned(value);
        byte[] out = new byte[Math.max(length, bytes.length)];
        System.arraycopy(bytes, 0, out, out.length - bytes.length, bytes.length);
        return out;
    }

    public static byte[] sha1(byte[] data) {
        try {
            return MessageDigest.getInstance("SHA-1").digest(data);
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException(e);
        }
    }

    /** CKA_EC_POINT of a point: its bytes as a DER OCTET STRING. */
    public static byte[] ecPoint(byte[] point) {
        return Der.tlv(Der.OCTET_STRING, point);
    }

    /** The default ID of a key whose public value is {@code publicValue}. */
    public static byte[] defaultId(byte[] publicValue) {
        return publicValue == null ? null : sha1(publicValue);
    }

    /** The public value the default ID is computed over: modulus or point. */
    public static byte[] publicValue(PublicKey key) {
        if (key instanceof RSAPublicKey rsa) {
            return unsigned(rsa.getModulus());
        }
        return KeyFile.publicKeyBytes(key);
    }

    /** The template of an imported private key. */
    public static Attribute[] privateKey(PrivateKey key, byte[] publicPoint, String label, byte[] id) {
        if (key instanceof RSAPrivateCrtKey rsa) {
            byte[] keyId = id != null ? id : defaultId(unsigned(rsa.getModulus()));
            return object(CKO_PRIVATE_KEY, label, keyId).add(CKA_KEY_TYPE, CKK_RSA)
                    .add(CKA_PRIVATE, true).add(CKA_SENSITIVE, true)
                    .add(CKA_SIGN, true).add(CKA_DECRYPT, true).add(CKA_UNWRAP, true)
                    .add(CKA_MODULUS, unsigned(rsa.getModulus()))
                    .add(CKA_PUBLIC_EXPONENT, unsigned(rsa.getPublicExponent()))
                    .add(CKA_PRIVATE_EXPONENT, unsigned(rsa.getPrivateExponent()))
                    .add(CKA_PRIME_1, unsigned(rsa.getPrimeP()))
                    .add(CKA_PRIME_2, unsigned(rsa.getPrimeQ()))
                    .add(CKA_EXPONENT_1, unsigned(rsa.getPrimeExponentP()))
                    .add(CKA_EXPONENT_2, unsigned(rsa.getPrimeExponentQ()))
                    .add(CKA_COEFFICIENT, unsigned(rsa.getCrtCoefficient())).build();
        }
        if (key instanceof ECPrivateKey ec) {
            Curve curve = curveOfPrivate(ec);
            byte[] keyId = id != null ? id : defaultId(publicPoint);
            return object(CKO_PRIVATE_KEY, label, keyId).add(CKA_KEY_TYPE, CKK_EC)
                    .add(CKA_PRIVATE, true).add(CKA_SENSITIVE, true).add(CKA_SIGN, true)
                    .add(CKA_EC_PARAMS, curve.params())
                    .add(CKA_VALUE, fixed(ec.getS(), curve.fieldBytes())).build();
        }
        if (key instanceof EdECPrivateKey ed) {
            if (!"Ed25519".equals(ed.getParams().getName())) {
                throw new IllegalArgumentException("only Ed25519 keys of the Edwards curves are taken");
            }
            byte[] seed = ed.getBytes().orElseThrow(() -> new IllegalArgumentException("the key holds no value"));
            return object(CKO_PRIVATE_KEY, label, id).add(CKA_KEY_TYPE, CKK_EC_EDWARDS)
                    .add(CKA_PRIVATE, true).add(CKA_SENSITIVE, true).add(CKA_SIGN, true)
                    .add(CKA_EC_PARAMS, Curve.ED25519.params()).add(CKA_VALUE, seed).build();
        }
        throw new IllegalArgumentException("a private key of type " + key.getAlgorithm() + " cannot be imported");
    }

    private static Curve curveOfPrivate(ECPrivateKey ec) {
        int bits = ec.getParams().getCurve().getField().getFieldSize();
        for (Curve curve : Curve.values()) {
            if (!curve.edwards() && curve.bits() == bits) {
                return curve;
            }
        }
        throw new IllegalArgumentException("the key's curve is not one of " + Curve.names());
    }

    /** The template of an imported public key. */
    public static Attribute[] publicKey(PublicKey key, String label, byte[] id) {
        byte[] keyId = id != null ? id : defaultId(publicValue(key));
        if (key instanceof RSAPublicKey rsa) {
            return object(CKO_PUBLIC_KEY, label, keyId).add(CKA_KEY_TYPE, CKK_RSA)
                    .add(CKA_VERIFY, true).add(CKA_ENCRYPT, true).add(CKA_WRAP, true)
                    .add(CKA_MODULUS, unsigned(rsa.getModulus()))
                    .add(CKA_PUBLIC_EXPONENT, unsigned(rsa.getPublicExponent())).build();
        }
        Curve curve = KeyFile.curveOf(key);
        return object(CKO_PUBLIC_KEY, label, keyId).add(CKA_KEY_TYPE, curve.edwards() ? CKK_EC_EDWARDS : CKK_EC)
                .add(CKA_VERIFY, true).add(CKA_EC_PARAMS, curve.params())
                .add(CKA_EC_POINT, ecPoint(KeyFile.publicKeyBytes(key))).build();
    }

    /** The template of an imported X.509 certificate. */
    public static Attribute[] certificate(X509Certificate certificate, String label, byte[] id)
            throws java.security.cert.CertificateEncodingException {
        byte[] certId = id != null ? id : defaultId(publicValue(certificate.getPublicKey()));
        return object(CKO_CERTIFICATE, label, certId).add(CKA_CERTIFICATE_TYPE, CKC_X_509)
                .add(CKA_PRIVATE, false)
                .add(CKA_SUBJECT, certificate.getSubjectX500Principal().getEncoded())
                .add(CKA_ISSUER, certificate.getIssuerX500Principal().getEncoded())
                .add(CKA_SERIAL_NUMBER, Der.integer(certificate.getSerialNumber()))
                .add(CKA_VALUE, certificate.getEncoded()).build();
    }
}
