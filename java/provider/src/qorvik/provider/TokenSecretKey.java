package qorvik.provider;

import javax.crypto.SecretKey;

import qorvik.Attribute;
import qorvik.CryptokiException;

/** A secret key on the token. */
final class TokenSecretKey extends TokenKey implements SecretKey {
    private static final long serialVersionUID = 1L;

    TokenSecretKey(Token token, long handle, int keyType, String algorithm) {
        super(token, handle, keyType, algorithm, false);
    }

    @Override
    public String getFormat() {
        return "RAW";
    }

    /** The value, read from the token only when the key is extractable and not sensitive; else null. */
    @Override
    public byte[] getEncoded() {
        try {
            return token.call(s -> {
                Attribute[] flags = s.nat.J_GetAttributeValue(handle,
                        new int[] {Ck.CKA_EXTRACTABLE, Ck.CKA_SENSITIVE});
                if (!Boolean.TRUE.equals(flags[0].getValue()) || Boolean.TRUE.equals(flags[1].getValue())) {
                    return null;
                }
                Object value = s.nat.J_GetAttributeValue(handle, Ck.CKA_VALUE).getValue();
                return value instanceof byte[] ? (byte[]) value : null;
            });
        } catch (CryptokiException e) {
            return null;
        }
    }
}
