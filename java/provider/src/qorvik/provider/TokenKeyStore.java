package qorvik.provider;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.Key;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.KeyStoreSpi;
import java.security.UnrecoverableEntryException;
import java.security.UnrecoverableKeyException;
import java.security.cert.Certificate;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Date;
import java.util.Enumeration;
import java.util.HashSet;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;

import javax.security.auth.callback.CallbackHandler;
import javax.security.auth.login.LoginException;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.CryptokiObject;

/**
 * The token's objects as a key store. Aliases are labels; a label several entries share becomes
 * "label#ID" with the CKA_ID in hex. A private key with a certificate of the same CKA_ID is a key
 * entry, its chain completed from the token's certificates by issuer and subject; a private key
 * without one makes no entry (a JCA key entry needs a certificate). Secret keys are secret key
 * entries, and every other certificate is a trusted certificate entry.
 *
 * <p>The entries are read at {@link #engineLoad}. {@link #engineSetCertificateEntry} and
 * {@link #engineDeleteEntry} write to the token at once; no other write is made.
 */
final class TokenKeyStore extends KeyStoreSpi {
    private static final HexFormat HEX = HexFormat.of();

    private final Token token;
    private Map<String, Entry> entries = Map.of();
    private boolean loaded;
    /** When the entries were read, in milliseconds. */
    private long readAt;

    TokenKeyStore(Token token) {
        this.token = token;
    }

    /** What the store knows of one entry. */
    private static final class Entry {
        enum Kind { PRIVATE_KEY, SECRET_KEY, CERTIFICATE }

        final Kind kind;
        final String label;
        final byte[] id;
        /** The private or secret key's handle; for a trusted certificate, the certificate's. */
        final long handle;
        /** For a key entry, the handle of its own certificate; otherwise -1. */
        final long certificateHandle;
        /** For a key entry its chain, for a trusted certificate the certificate; none for a secret key. */
        final X509Certificate[] chain;

        Entry(Kind kind, String label, byte[] id, long handle, long certificateHandle,
              X509Certificate[] chain) {
            this.kind = kind;
            this.label = label;
            this.id = id;
            this.handle = handle;
            this.certificateHandle = certificateHandle;
            this.chain = chain;
        }
    }

    /** A certificate object of the token. */
    private static final class TokenCertificate {
        final long handle;
        final String label;
        final byte[] id;
        final X509Certificate certificate;

        TokenCertificate(long handle, String label, byte[] id, X509Certificate certificate) {
            this.handle = handle;
            this.label = label;
            this.id = id;
            this.certificate = certificate;
        }
    }

    // Loading

    /** Reads the token; a password, when given, logs the user in (it takes precedence over 'pin'). */
    @Override
    public void engineLoad(InputStream stream, char[] password) throws IOException {
        if (stream != null) {
            throw new IOException("Kelvane: the key store is the token itself; load it with a null stream");
        }
        if (password != null && password.length > 0) {
            login(password);
        }
        refresh();
    }

    /**
     * Reads the token, logging in with the parameter's password or the PIN its callback handler
     * gives; a null parameter, or none, loads with the configuration's 'pin'.
     */
    @Override
    public void engineLoad(KeyStore.LoadStoreParameter param) throws IOException {
        KeyStore.ProtectionParameter protection = param == null ? null : param.getProtectionParameter();
        if (protection == null) {
            engineLoad(null, null);
        } else if (protection instanceof KeyStore.PasswordProtection) {
            char[] password = ((KeyStore.PasswordProtection) protection).getPassword();
            if (password == null) {
                throw new IllegalArgumentException("Kelvane: the PasswordProtection holds no password");
            }
            engineLoad(null, password);
        } else if (protection instanceof KeyStore.CallbackHandlerProtection) {
            CallbackHandler handler = ((KeyStore.CallbackHandlerProtection) protection).getCallbackHandler();
            char[] pin;
            try {
                pin = KelvaneProvider.askPin(handler, token);
            } catch (LoginException e) {
                throw new IOException(e.getMessage(), e);
            }
            try {
                engineLoad(null, pin);
            } finally {
                java.util.Arrays.fill(pin, '\0');
            }
        } else {
            throw new IllegalArgumentException("Kelvane: a key store is loaded with a PasswordProtection or "
                    + "a CallbackHandlerProtection, not " + protection.getClass().getName());
        }
    }

    private void login(char[] pin) throws IOException {
        try {
            token.login(pin);
        } catch (CryptokiException e) {
            throw new IOException("Kelvane: cannot log in to " + token.displayName + ": "
                    + Failures.describe(e), e);
        }
    }

    private void refresh() throws IOException {
        Objects objects;
        try {
            objects = token.call(TokenKeyStore::readObjects);
        } catch (CryptokiException e) {
            throw new IOException("Kelvane: cannot read the objects of " + token.displayName + ": "
                    + Failures.describe(e), e);
        } catch (java.security.ProviderException e) {
            throw new IOException(e.getMessage(), e);
        }
        entries = entries(objects);
        readAt = System.currentTimeMillis();
        loaded = true;
    }

    /** The token's certificates, private keys and secret keys, with the attributes the store uses. */
    private static final class Objects {
        CryptokiObject[] certificates;
        CryptokiObject[] privateKeys;
        CryptokiObject[] secretKeys;
    }

    /** Called holding the lock; the certificates are parsed and chained after it is released. */
    private static Objects readObjects(TokenSession s) throws CryptokiException {
        Objects o = new Objects();
        o.certificates = find(s, Ck.CKO_CERTIFICATE, Ck.CKA_LABEL, Ck.CKA_ID, Ck.CKA_CERTIFICATE_TYPE,
                Ck.CKA_VALUE);
        o.privateKeys = find(s, Ck.CKO_PRIVATE_KEY, Ck.CKA_LABEL, Ck.CKA_ID);
        o.secretKeys = find(s, Ck.CKO_SECRET_KEY, Ck.CKA_LABEL, Ck.CKA_ID);
        return o;
    }

    private static Map<String, Entry> entries(Objects objects) {
        List<TokenCertificate> certificates = new ArrayList<>();
        for (CryptokiObject o : objects.certificates) {
            Attribute[] a = o.getAttributes();
            Object type = a[2].getValue();
            Object value = a[3].getValue();
            if (!(type instanceof Integer) || (Integer) type != Ck.CKC_X_509 || !(value instanceof byte[])) {
                continue;
            }
            X509Certificate certificate = parse((byte[]) value);
            if (certificate != null) {
                certificates.add(new TokenCertificate(o.getHandle(), label(a[0]), id(a[1]), certificate));
            }
        }

        List<Entry> found = new ArrayList<>();
        Set<TokenCertificate> endEntities = new HashSet<>();
        for (CryptokiObject o : objects.privateKeys) {
            Attribute[] a = o.getAttributes();
            byte[] id = id(a[1]);
            TokenCertificate own = id.length == 0 ? null : ownCertificate(id, certificates);
            if (own == null) {
                continue;
            }
            endEntities.add(own);
            found.add(new Entry(Entry.Kind.PRIVATE_KEY, label(a[0]), id, o.getHandle(), own.handle,
                    chain(own.certificate, certificates)));
        }
        for (CryptokiObject o : objects.secretKeys) {
            Attribute[] a = o.getAttributes();
            found.add(new Entry(Entry.Kind.SECRET_KEY, label(a[0]), id(a[1]), o.getHandle(), -1, null));
        }
        for (TokenCertificate c : certificates) {
            if (!endEntities.contains(c)) {
                found.add(new Entry(Entry.Kind.CERTIFICATE, c.label, c.id, c.handle, -1,
                        new X509Certificate[] {c.certificate}));
            }
        }
        return aliases(found);
    }

    /** The token objects of class {@code objectClass} with the attributes {@code types} read. */
    private static CryptokiObject[] find(TokenSession s, int objectClass, int... types)
            throws CryptokiException {
        CryptokiObject[] found = s.nat.J_FindObjects(new Attribute[] {
            new Attribute(Ck.CKA_TOKEN, true), new Attribute(Ck.CKA_CLASS, objectClass)}, types);
        return found == null ? new CryptokiObject[0] : found;
    }

    /**
     * Gives each entry its alias: the label, or "label#ID" where several entries share the label,
     * and "label#ID#N" (N from 2) for entries that share both. Sorted by alias.
     */
    private static Map<String, Entry> aliases(List<Entry> found) {
        Map<String, Integer> labelUse = new LinkedHashMap<>();
        for (Entry e : found) {
            labelUse.merge(e.label, 1, Integer::sum);
        }
        Map<String, Entry> result = new TreeMap<>();
        for (Entry e : found) {
            String alias = labelUse.get(e.label) == 1 ? e.label : e.label + "#" + HEX.formatHex(e.id);
            String unique = alias;
            for (int n = 2; result.containsKey(unique); n++) {
                unique = alias + "#" + n;
            }
            result.put(unique, e);
        }
        return Collections.unmodifiableMap(result);
    }

    /** The certificate with {@code id} that lasts longest, or null. */
    private static TokenCertificate ownCertificate(byte[] id, List<TokenCertificate> certificates) {
        TokenCertificate best = null;
        for (TokenCertificate c : certificates) {
            if (java.util.Arrays.equals(c.id, id) && (best == null
                    || c.certificate.getNotAfter().after(best.certificate.getNotAfter()))) {
                best = c;
            }
        }
        return best;
    }

    /** {@code first} followed by its issuers found on the token, up to a self-signed one. */
    private static X509Certificate[] chain(X509Certificate first, List<TokenCertificate> certificates) {
        List<X509Certificate> chain = new ArrayList<>();
        chain.add(first);
        X509Certificate current = first;
        while (!signedBy(current, current)) {
            X509Certificate issuer = null;
            for (TokenCertificate c : certificates) {
                if (c.certificate.getSubjectX500Principal().equals(current.getIssuerX500Principal())
                        && !chain.contains(c.certificate) && signedBy(current, c.certificate)) {
                    issuer = c.certificate;
                    break;
                }
            }
            if (issuer == null) {
                break;
            }
            chain.add(issuer);
            current = issuer;
        }
        return chain.toArray(new X509Certificate[0]);
    }

    private static boolean signedBy(X509Certificate certificate, X509Certificate issuer) {
        if (!certificate.getIssuerX500Principal().equals(issuer.getSubjectX500Principal())) {
            return false;
        }
        try {
            certificate.verify(issuer.getPublicKey());
            return true;
        } catch (GeneralSecurityException | RuntimeException e) {
            return false;
        }
    }

    private static X509Certificate parse(byte[] der) {
        try {
            return (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new ByteArrayInputStream(der));
        } catch (CertificateException e) {
            return null;
        }
    }

    private static String label(Attribute a) {
        Object v = a.getValue();
        return v instanceof byte[] ? new String((byte[]) v, StandardCharsets.UTF_8) : "";
    }

    private static byte[] id(Attribute a) {
        Object v = a.getValue();
        return v instanceof byte[] ? (byte[]) v : new byte[0];
    }

    // Reading

    private Entry entry(String alias) {
        return alias == null ? null : entries.get(alias);
    }

    @Override
    public Key engineGetKey(String alias, char[] password) throws UnrecoverableKeyException {
        Entry e = entry(alias);
        if (e == null || e.kind == Entry.Kind.CERTIFICATE) {
            return null;
        }
        try {
            return token.call(s -> {
                if (e.kind == Entry.Kind.SECRET_KEY) {
                    return TokenKeys.secretKey(token, s, e.handle);
                }
                try {
                    return TokenKeys.privateKey(token, s, e.handle);
                } catch (GeneralSecurityException failure) {
                    UnrecoverableKeyException k = new UnrecoverableKeyException("Kelvane: " + alias + ": "
                            + failure.getMessage());
                    k.initCause(failure);
                    throw new WrappedKeyFailure(k);
                }
            });
        } catch (WrappedKeyFailure w) {
            throw w.failure;
        } catch (CryptokiException failure) {
            UnrecoverableKeyException k = new UnrecoverableKeyException("Kelvane: " + alias + ": "
                    + Failures.describe(failure));
            k.initCause(failure);
            throw k;
        }
    }

    /** Carries a key failure out of a session call. */
    private static final class WrappedKeyFailure extends RuntimeException {
        private static final long serialVersionUID = 1L;
        final transient UnrecoverableKeyException failure;

        WrappedKeyFailure(UnrecoverableKeyException failure) {
            super(failure);
            this.failure = failure;
        }
    }

    @Override
    public Certificate[] engineGetCertificateChain(String alias) {
        Entry e = entry(alias);
        return e == null || e.kind != Entry.Kind.PRIVATE_KEY ? null : e.chain.clone();
    }

    @Override
    public Certificate engineGetCertificate(String alias) {
        Entry e = entry(alias);
        return e == null || e.chain == null ? null : e.chain[0];
    }

    /**
     * The token keeps no creation date: an entry with a certificate gives the certificate's
     * start of validity, a secret key the time the store was read.
     */
    @Override
    public Date engineGetCreationDate(String alias) {
        Entry e = entry(alias);
        if (e == null) {
            return null;
        }
        return e.chain != null ? e.chain[0].getNotBefore() : new Date(readAt);
    }

    @Override
    public Enumeration<String> engineAliases() {
        return Collections.enumeration(entries.keySet());
    }

    @Override
    public boolean engineContainsAlias(String alias) {
        return entry(alias) != null;
    }

    @Override
    public int engineSize() {
        return entries.size();
    }

    @Override
    public boolean engineIsKeyEntry(String alias) {
        Entry e = entry(alias);
        return e != null && e.kind != Entry.Kind.CERTIFICATE;
    }

    @Override
    public boolean engineIsCertificateEntry(String alias) {
        Entry e = entry(alias);
        return e != null && e.kind == Entry.Kind.CERTIFICATE;
    }

    @Override
    public boolean engineEntryInstanceOf(String alias, Class<? extends KeyStore.Entry> entryClass) {
        Entry e = entry(alias);
        if (e == null) {
            return false;
        }
        switch (e.kind) {
            case PRIVATE_KEY:
                return entryClass == KeyStore.PrivateKeyEntry.class;
            case SECRET_KEY:
                return entryClass == KeyStore.SecretKeyEntry.class;
            default:
                return entryClass == KeyStore.TrustedCertificateEntry.class;
        }
    }

    /** Entries need no password: the token's login protects them. */
    @Override
    public KeyStore.Entry engineGetEntry(String alias, KeyStore.ProtectionParameter protection)
            throws KeyStoreException, UnrecoverableEntryException {
        Entry e = entry(alias);
        if (e == null) {
            return null;
        }
        switch (e.kind) {
            case PRIVATE_KEY:
                return new KeyStore.PrivateKeyEntry((java.security.PrivateKey) engineGetKey(alias, null),
                        e.chain.clone());
            case SECRET_KEY:
                return new KeyStore.SecretKeyEntry((javax.crypto.SecretKey) engineGetKey(alias, null));
            default:
                return new KeyStore.TrustedCertificateEntry(e.chain[0]);
        }
    }

    @Override
    public String engineGetCertificateAlias(Certificate certificate) {
        for (Map.Entry<String, Entry> e : entries.entrySet()) {
            if (e.getValue().kind == Entry.Kind.CERTIFICATE && e.getValue().chain[0].equals(certificate)) {
                return e.getKey();
            }
        }
        for (Map.Entry<String, Entry> e : entries.entrySet()) {
            if (e.getValue().kind == Entry.Kind.PRIVATE_KEY && e.getValue().chain[0].equals(certificate)) {
                return e.getKey();
            }
        }
        return null;
    }

    // Writing

    /**
     * Writes {@code certificate} to the token as a trusted certificate labelled {@code alias}, or
     * replaces the certificate of the trusted certificate entry {@code alias} (keeping its label
     * and CKA_ID).
     */
    @Override
    public void engineSetCertificateEntry(String alias, Certificate certificate) throws KeyStoreException {
        requireLoaded();
        if (alias == null || alias.isEmpty()) {
            throw new KeyStoreException(
                    "Kelvane: a certificate entry needs an alias (its label on the token)");
        }
        if (!(certificate instanceof X509Certificate)) {
            throw new KeyStoreException("Kelvane: the token keeps X.509 certificates only, not "
                    + (certificate == null ? "null" : certificate.getType()));
        }
        X509Certificate x509 = (X509Certificate) certificate;
        Entry old = entry(alias);
        String label = alias;
        byte[] id = new byte[0];
        if (old != null) {
            if (old.kind != Entry.Kind.CERTIFICATE) {
                throw new KeyStoreException("Kelvane: " + alias + " is a key entry; a certificate entry "
                        + "replaces only a trusted certificate");
            }
            label = old.label;
            id = old.id;
        } else {
            for (Entry e : entries.values()) {
                if (e.label.equals(alias)) {
                    throw new KeyStoreException("Kelvane: the label " + alias + " is shared by entries "
                            + "already (their aliases are " + alias + "#ID); choose another alias");
                }
            }
        }
        Attribute[] template;
        try {
            template = new Attribute[] {
                new Attribute(Ck.CKA_CLASS, Ck.CKO_CERTIFICATE),
                new Attribute(Ck.CKA_CERTIFICATE_TYPE, Ck.CKC_X_509),
                new Attribute(Ck.CKA_TOKEN, true),
                new Attribute(Ck.CKA_PRIVATE, false),
                new Attribute(Ck.CKA_LABEL, label.getBytes(StandardCharsets.UTF_8)),
                new Attribute(Ck.CKA_ID, id),
                new Attribute(Ck.CKA_SUBJECT, x509.getSubjectX500Principal().getEncoded()),
                new Attribute(Ck.CKA_ISSUER, x509.getIssuerX500Principal().getEncoded()),
                new Attribute(Ck.CKA_SERIAL_NUMBER, derInteger(x509.getSerialNumber())),
                new Attribute(Ck.CKA_VALUE, x509.getEncoded()),
            };
        } catch (java.security.cert.CertificateEncodingException e) {
            throw new KeyStoreException("Kelvane: cannot encode the certificate: " + e.getMessage(), e);
        }
        try {
            token.call(s -> {
                long created = s.nat.J_CreateObject(template);
                if (old != null) {
                    try {
                        s.nat.J_DestroyObject(old.handle);
                    } catch (CryptokiException e) {
                        s.nat.J_DestroyObject(created);
                        throw e;
                    }
                }
                return null;
            });
        } catch (CryptokiException e) {
            throw Failures.keyStore(e);
        }
        reread();
    }

    /**
     * Removes the entry's objects from the token: a key entry's private key, its certificate and
     * the public key of the same CKA_ID; a secret key; a trusted certificate. An unknown alias
     * removes nothing.
     */
    @Override
    public void engineDeleteEntry(String alias) throws KeyStoreException {
        requireLoaded();
        Entry e = entry(alias);
        if (e == null) {
            return;
        }
        try {
            token.call(s -> {
                if (e.kind == Entry.Kind.PRIVATE_KEY) {
                    long[] publicKeys = s.nat.J_FindObjects(new Attribute[] {
                        new Attribute(Ck.CKA_TOKEN, true),
                        new Attribute(Ck.CKA_CLASS, Ck.CKO_PUBLIC_KEY),
                        new Attribute(Ck.CKA_ID, e.id)});
                    s.nat.J_DestroyObject(e.handle);
                    s.nat.J_DestroyObject(e.certificateHandle);
                    for (long h : publicKeys == null ? new long[0] : publicKeys) {
                        s.nat.J_DestroyObject(h);
                    }
                } else {
                    s.nat.J_DestroyObject(e.handle);
                }
                return null;
            });
        } catch (CryptokiException failure) {
            reread();
            throw Failures.keyStore(failure);
        }
        reread();
    }

    @Override
    public void engineSetKeyEntry(String alias, Key key, char[] password, Certificate[] chain)
            throws KeyStoreException {
        throw refusedWrite();
    }

    @Override
    public void engineSetKeyEntry(String alias, byte[] key, Certificate[] chain) throws KeyStoreException {
        throw refusedWrite();
    }

    /** The token is written as entries change: storing to no stream does nothing; to a stream, fails. */
    @Override
    public void engineStore(OutputStream stream, char[] password) throws IOException {
        if (stream != null) {
            throw new IOException("Kelvane: the key store is the token itself and is not written to a "
                    + "stream; store it with a null stream");
        }
    }

    @Override
    public void engineStore(KeyStore.LoadStoreParameter param) throws IOException {
        engineStore((OutputStream) null, null);
    }

    private static KeyStoreException refusedWrite() {
        return new KeyStoreException("Kelvane: the key store writes certificates (setCertificateEntry) "
                + "and removes entries (deleteEntry); keys are not written to the token through it");
    }

    private void requireLoaded() throws KeyStoreException {
        if (!loaded) {
            throw new KeyStoreException("Kelvane: the key store is not loaded");
        }
    }

    private void reread() throws KeyStoreException {
        try {
            refresh();
        } catch (IOException e) {
            throw new KeyStoreException(e.getMessage(), e.getCause() != null ? e.getCause() : e);
        }
    }

    /** A DER INTEGER, as CKA_SERIAL_NUMBER holds the serial. */
    private static byte[] derInteger(BigInteger value) {
        byte[] content = value.toByteArray();
        byte[] inner = TokenKeys.octetString(content);
        inner[0] = 0x02;
        return inner;
    }
}
