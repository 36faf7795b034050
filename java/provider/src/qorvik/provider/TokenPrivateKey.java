package qorvik.provider;

import java.math.BigInteger;
import java.security.PrivateKey;
import java.security.interfaces.ECKey;
import java.security.interfaces.RSAKey;
import java.security.spec.ECParameterSpec;

/** A private key on the token, used through its handle. */
class TokenPrivateKey extends TokenKey implements PrivateKey {
    private static final long serialVersionUID = 1L;

    TokenPrivateKey(Token token, long handle, int keyType, String algorithm, boolean alwaysAuthenticate) {
        super(token, handle, keyType, algorithm, alwaysAuthenticate);
    }

    /** An RSA private key: its modulus is public, and callers size signatures by it. */
    static final class Rsa extends TokenPrivateKey implements RSAKey {
        private static final long serialVersionUID = 1L;
        private final BigInteger modulus;

        Rsa(Token token, long handle, boolean alwaysAuthenticate, BigInteger modulus) {
            super(token, handle, Ck.CKK_RSA, "RSA", alwaysAuthenticate);
            this.modulus = modulus;
        }

        @Override
        public BigInteger getModulus() {
            return modulus;
        }
    }

    /** An EC private key with its curve's parameters. */
    static final class Ec extends TokenPrivateKey implements ECKey {
        private static final long serialVersionUID = 1L;
        private final transient ECParameterSpec params;

        Ec(Token token, long handle, boolean alwaysAuthenticate, ECParameterSpec params) {
            super(token, handle, Ck.CKK_EC, "EC", alwaysAuthenticate);
            this.params = params;
        }

        @Override
        public ECParameterSpec getParams() {
            return params;
        }
    }
}
