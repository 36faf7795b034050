package qorvik.provider;

import java.security.InvalidKeyException;
import java.security.KeyStoreException;
import java.security.ProviderException;
import java.security.SignatureException;

import javax.crypto.BadPaddingException;

import qorvik.CryptokiException;

/**
 * Turns a failed Cryptoki call into the exception the JCA caller expects. The message names the
 * operation, the code and the module's text; the {@link CryptokiException} itself is always the
 * cause, so a caller can read the exact failure from it.
 */
final class Failures {
    private Failures() {
    }

    /** "J_Sign failed: 0xC1: text" */
    static String describe(CryptokiException e) {
        return e.getFunctionName() + " failed: 0x" + Integer.toHexString(e.getCode()).toUpperCase()
                + ": " + e.getMessage();
    }

    static ProviderException provider(CryptokiException e) {
        return new ProviderException(describe(e), e);
    }

    static SignatureException signature(CryptokiException e) {
        return new SignatureException(describe(e), e);
    }

    static InvalidKeyException invalidKey(CryptokiException e) {
        return new InvalidKeyException(describe(e), e);
    }

    static KeyStoreException keyStore(CryptokiException e) {
        return new KeyStoreException(describe(e), e);
    }

    static BadPaddingException badPadding(CryptokiException e) {
        BadPaddingException failure = new BadPaddingException(describe(e));
        failure.initCause(e);
        return failure;
    }

    /** The CryptokiException behind {@code t}, following its causes, or null. */
    static CryptokiException cryptokiCause(Throwable t) {
        for (Throwable c = t; c != null; c = c.getCause()) {
            if (c instanceof CryptokiException) {
                return (CryptokiException) c;
            }
        }
        return null;
    }
}
