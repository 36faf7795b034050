package qorvik.provider;

import java.math.BigInteger;
import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidParameterException;
import java.security.KeyPair;
import java.security.KeyPairGeneratorSpi;
import java.security.ProviderException;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECParameterSpec;
import java.security.spec.NamedParameterSpec;
import java.security.spec.RSAKeyGenParameterSpec;
import java.util.ArrayList;
import java.util.List;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.Mechanism;

/**
 * Key pairs made on the token (RSA, EC, Ed25519) as session objects: the public half is read into
 * a JDK public key and its object destroyed; the private half stays on the token, sensitive and
 * not extractable, held by the returned key and destroyed when that key is collected.
 */
final class TokenKeyPairGenerator extends KeyPairGeneratorSpi {
    static final int DEFAULT_RSA_BITS = 2048;
    static final String DEFAULT_CURVE = "secp256r1";
    private static final int MIN_RSA_BITS = 512;
    private static final int MAX_RSA_BITS = 16384;

    private final Token token;
    private final TokenSignature.Family family;

    private int rsaBits = DEFAULT_RSA_BITS;
    private BigInteger publicExponent = RSAKeyGenParameterSpec.F4;
    private byte[] ecParams;

    TokenKeyPairGenerator(Token token, String algorithm) {
        this.token = token;
        switch (algorithm) {
            case "RSA":
                family = TokenSignature.Family.RSA;
                break;
            case "EC":
                family = TokenSignature.Family.EC;
                break;
            case "Ed25519":
                family = TokenSignature.Family.ED25519;
                ecParams = TokenKeys.ED25519_OID.clone();
                break;
            default:
                throw new InvalidParameterException("no key pair generator for " + algorithm);
        }
    }

    @Override
    public void initialize(int keysize, SecureRandom random) {
        switch (family) {
            case RSA:
                if (keysize < MIN_RSA_BITS || keysize > MAX_RSA_BITS) {
                    throw new InvalidParameterException("RSA keys are " + MIN_RSA_BITS + " to " + MAX_RSA_BITS
                            + " bits, not " + keysize);
                }
                rsaBits = keysize;
                publicExponent = RSAKeyGenParameterSpec.F4;
                break;
            case EC: {
                String curve = keysize == 256 ? "secp256r1" : keysize == 384 ? "secp384r1"
                        : keysize == 521 ? "secp521r1" : null;
                if (curve == null) {
                    throw new InvalidParameterException("EC key sizes are 256, 384 and 521 (or name a curve "
                            + "with ECGenParameterSpec), not " + keysize);
                }
                ecParams = curveParams(curve);
                break;
            }
            default:
                if (keysize != 255) {
                    throw new InvalidParameterException("Ed25519 keys are 255 bits, not " + keysize);
                }
        }
    }

    @Override
    public void initialize(AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidAlgorithmParameterException {
        switch (family) {
            case RSA: {
                if (!(params instanceof RSAKeyGenParameterSpec)) {
                    throw wrongSpec(params, "an RSAKeyGenParameterSpec");
                }
                RSAKeyGenParameterSpec parameters = (RSAKeyGenParameterSpec) params;
                if (parameters.getKeysize() < MIN_RSA_BITS || parameters.getKeysize() > MAX_RSA_BITS) {
                    throw new InvalidAlgorithmParameterException("RSA keys are " + MIN_RSA_BITS + " to "
                            + MAX_RSA_BITS + " bits, not " + parameters.getKeysize());
                }
                BigInteger e = parameters.getPublicExponent();
                if (e.signum() <= 0 || !e.testBit(0) || e.equals(BigInteger.ONE)) {
                    throw new InvalidAlgorithmParameterException("the RSA public exponent must be odd and "
                            + "greater than 1, not " + e);
                }
                rsaBits = parameters.getKeysize();
                publicExponent = e;
                break;
            }
            case EC:
                if (params instanceof ECGenParameterSpec) {
                    try {
                        ecParams = TokenKeys.encodeEcParams(((ECGenParameterSpec) params).getName());
                    } catch (GeneralSecurityException e) {
                        throw new InvalidAlgorithmParameterException("unknown curve "
                                + ((ECGenParameterSpec) params).getName(), e);
                    }
                } else if (params instanceof ECParameterSpec) {
                    try {
                        ecParams = TokenKeys.encodeEcParams((ECParameterSpec) params);
                    } catch (java.security.InvalidKeyException e) {
                        throw new InvalidAlgorithmParameterException(e.getMessage(), e);
                    }
                } else {
                    throw wrongSpec(params, "an ECGenParameterSpec or ECParameterSpec");
                }
                break;
            default:
                if (!(params instanceof NamedParameterSpec)
                        || !"Ed25519".equalsIgnoreCase(((NamedParameterSpec) params).getName())) {
                    throw wrongSpec(params, "NamedParameterSpec.ED25519");
                }
        }
    }

    private static InvalidAlgorithmParameterException wrongSpec(AlgorithmParameterSpec params,
                                                                String wanted) {
        return new InvalidAlgorithmParameterException("the parameters must be " + wanted + ", not "
                + (params == null ? "null" : params.getClass().getName()));
    }

    private static byte[] curveParams(String curve) {
        try {
            return TokenKeys.encodeEcParams(curve);
        } catch (GeneralSecurityException e) {
            throw new ProviderException("this JDK does not know the curve " + curve, e);
        }
    }

    @Override
    public KeyPair generateKeyPair() {
        if (family == TokenSignature.Family.EC && ecParams == null) {
            ecParams = curveParams(DEFAULT_CURVE);
        }
        List<Attribute> pub = new ArrayList<>();
        List<Attribute> priv = new ArrayList<>();
        pub.add(new Attribute(Ck.CKA_TOKEN, false));
        pub.add(new Attribute(Ck.CKA_VERIFY, true));
        priv.add(new Attribute(Ck.CKA_TOKEN, false));
        priv.add(new Attribute(Ck.CKA_PRIVATE, true));
        priv.add(new Attribute(Ck.CKA_SENSITIVE, true));
        priv.add(new Attribute(Ck.CKA_EXTRACTABLE, false));
        priv.add(new Attribute(Ck.CKA_SIGN, true));
        Mechanism mechanism;
        switch (family) {
            case RSA:
                mechanism = new Mechanism(Ck.CKM_RSA_PKCS_KEY_PAIR_GEN);
                pub.add(new Attribute(Ck.CKA_ENCRYPT, true));
                pub.add(new Attribute(Ck.CKA_MODULUS_BITS, rsaBits));
                pub.add(new Attribute(Ck.CKA_PUBLIC_EXPONENT, TokenKeys.unsigned(publicExponent)));
                priv.add(new Attribute(Ck.CKA_DECRYPT, true));
                break;
            case EC:
                mechanism = new Mechanism(Ck.CKM_EC_KEY_PAIR_GEN);
                pub.add(new Attribute(Ck.CKA_EC_PARAMS, ecParams.clone()));
                priv.add(new Attribute(Ck.CKA_DERIVE, true));
                break;
            default:
                mechanism = new Mechanism(Ck.CKM_EC_EDWARDS_KEY_PAIR_GEN);
                pub.add(new Attribute(Ck.CKA_EC_PARAMS, ecParams.clone()));
        }
        Attribute[] pubTemplate = pub.toArray(new Attribute[0]);
        Attribute[] privTemplate = priv.toArray(new Attribute[0]);
        KeyPair pair;
        try {
            pair = token.callHome(s -> {
                long[] handles = s.nat.J_GenerateKeyPair(mechanism, pubTemplate, privTemplate);
                boolean done = false;
                try {
                    PublicKey publicKey = TokenKeys.publicKey(s, handles[0]);
                    TokenPrivateKey privateKey = TokenKeys.privateKey(token, s, handles[1]);
                    done = true;
                    return new KeyPair(publicKey, privateKey);
                } catch (GeneralSecurityException e) {
                    throw new ProviderException("Kelvane: cannot read the generated key pair: "
                            + e.getMessage(), e);
                } finally {
                    s.nat.J_DestroyObject(handles[0]);
                    if (!done) {
                        s.nat.J_DestroyObject(handles[1]);
                    }
                }
            });
        } catch (CryptokiException e) {
            throw Failures.provider(e);
        }
        TokenPrivateKey key = (TokenPrivateKey) pair.getPrivate();
        token.destroyWhenUnreachable(key, key.handle);
        return pair;
    }
}
