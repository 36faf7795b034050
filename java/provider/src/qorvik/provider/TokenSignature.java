package qorvik.provider;

import java.lang.ref.Cleaner;
import java.math.BigInteger;
import java.nio.ByteBuffer;
import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.InvalidParameterException;
import java.security.Key;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.ProviderException;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.SignatureException;
import java.security.SignatureSpi;
import java.security.interfaces.ECKey;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.EdECKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.Arrays;
import java.util.Locale;
import java.util.Map;

import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.nat.CryptokiLock;
import qorvik.params.PSSParams;

/**
 * Signatures made and checked on the token, one engine for every algorithm of {@link #ALGORITHMS}.
 *
 * <p>Short data is collected here and signed in one native call on a pooled session. Past
 * {@link #MULTIPART_THRESHOLD} bytes, an algorithm whose mechanism hashes on the token turns into
 * a multi-part operation on a leased session; ECDSA hashes with the JDK and signs the digest,
 * since tokens rarely hash for it. ECDSA signatures are DER SEQUENCEs of r and s, as the JDK
 * gives and takes them; the token's r||s is converted both ways.
 *
 * <p>A key that asks for its PIN on each use (CKA_ALWAYS_AUTHENTICATE) is signed with on a leased
 * session: the signature is started, the signer PIN given by a context-specific login, then the
 * data signed.
 */
final class TokenSignature extends SignatureSpi {
    /** Data beyond this many bytes goes to the token in parts rather than in one call. */
    static final int MULTIPART_THRESHOLD = 16 * 1024;

    /** The key an algorithm takes. */
    enum Family { RSA, EC, ED25519 }

    /** How one algorithm reaches the token. */
    static final class Algorithm {
        final String name;
        final Family family;
        /** The mechanism, or 0 when it follows from the PSS parameters. */
        final int mechanism;
        /** The JDK digest applied here before the token signs, or null. */
        final String hashHere;
        /** Whether the mechanism takes its data in parts (it hashes on the token). */
        final boolean multiPart;
        final boolean pss;

        Algorithm(String name, Family family, int mechanism, String hashHere, boolean multiPart,
                  boolean pss) {
            this.name = name;
            this.family = family;
            this.mechanism = mechanism;
            this.hashHere = hashHere;
            this.multiPart = multiPart;
            this.pss = pss;
        }
    }

    private static Algorithm rsa(String name, int mechanism) {
        return new Algorithm(name, Family.RSA, mechanism, null, mechanism != Ck.CKM_RSA_PKCS, false);
    }

    private static Algorithm ecdsa(String name, String hash) {
        return new Algorithm(name, Family.EC, Ck.CKM_ECDSA, hash, false, false);
    }

    /** Every algorithm, with the OIDs the services are also known by. */
    static final Map<Algorithm, String[]> ALGORITHMS = Map.ofEntries(
            Map.entry(rsa("SHA1withRSA", Ck.CKM_SHA1_RSA_PKCS),
                    new String[] {"1.2.840.113549.1.1.5", "1.3.14.3.2.29"}),
            Map.entry(rsa("SHA224withRSA", Ck.CKM_SHA224_RSA_PKCS), new String[] {"1.2.840.113549.1.1.14"}),
            Map.entry(rsa("SHA256withRSA", Ck.CKM_SHA256_RSA_PKCS), new String[] {"1.2.840.113549.1.1.11"}),
            Map.entry(rsa("SHA384withRSA", Ck.CKM_SHA384_RSA_PKCS), new String[] {"1.2.840.113549.1.1.12"}),
            Map.entry(rsa("SHA512withRSA", Ck.CKM_SHA512_RSA_PKCS), new String[] {"1.2.840.113549.1.1.13"}),
            Map.entry(rsa("NONEwithRSA", Ck.CKM_RSA_PKCS), new String[0]),
            Map.entry(new Algorithm("RSASSA-PSS", Family.RSA, 0, null, true, true),
                    new String[] {"1.2.840.113549.1.1.10", "PSS"}),
            Map.entry(ecdsa("SHA256withECDSA", "SHA-256"), new String[] {"1.2.840.10045.4.3.2"}),
            Map.entry(ecdsa("SHA384withECDSA", "SHA-384"), new String[] {"1.2.840.10045.4.3.3"}),
            Map.entry(ecdsa("SHA512withECDSA", "SHA-512"), new String[] {"1.2.840.10045.4.3.4"}),
            Map.entry(ecdsa("NONEwithECDSA", null), new String[0]),
            Map.entry(new Algorithm("Ed25519", Family.ED25519, Ck.CKM_EDDSA, null, false, false),
                    new String[] {"1.3.101.112"}));

    /** PSS: the JDK's digest names, the token's hash mechanism, PSS mechanism and MGF1 choice. */
    private static final Map<String, int[]> PSS_HASHES = Map.of(
            "SHA-1", new int[] {Ck.CKM_SHA_1, Ck.CKM_SHA1_RSA_PKCS_PSS, Ck.CKG_MGF1_SHA1},
            "SHA-224", new int[] {Ck.CKM_SHA224, Ck.CKM_SHA224_RSA_PKCS_PSS, Ck.CKG_MGF1_SHA224},
            "SHA-256", new int[] {Ck.CKM_SHA256, Ck.CKM_SHA256_RSA_PKCS_PSS, Ck.CKG_MGF1_SHA256},
            "SHA-384", new int[] {Ck.CKM_SHA384, Ck.CKM_SHA384_RSA_PKCS_PSS, Ck.CKG_MGF1_SHA384},
            "SHA-512", new int[] {Ck.CKM_SHA512, Ck.CKM_SHA512_RSA_PKCS_PSS, Ck.CKG_MGF1_SHA512});

    private final Token token;
    private final Algorithm algorithm;
    private final MessageDigest hash;

    private PSSParameterSpec pssParameters;
    private Mechanism mechanism;

    private boolean signing;
    /** The key's handle for this engine's operations (an imported public key is closed at the next init). */
    private TokenKeys.Use keyUse;
    /** Closes {@link #keyUse} at the next init, or when this engine is collected. */
    private Cleaner.Cleanable keyCleanup;
    private boolean alwaysAuthenticate;
    /** The ECDSA signature's half length, r and s each, for a verification. */
    private int ecdsaHalf;

    /** Data collected for a one-call operation. */
    private byte[] buffer = new byte[256];
    private int buffered;
    /** The session of a multi-part operation in progress, or null. */
    private Token.Lease lease;

    TokenSignature(Token token, String algorithmName) {
        this.token = token;
        this.algorithm = find(algorithmName);
        if (algorithm.hashHere != null) {
            this.hash = jdkDigest(algorithm.hashHere);
        } else {
            this.hash = null;
        }
        if (!algorithm.pss) {
            mechanism = new Mechanism(algorithm.mechanism);
        }
    }

    static Algorithm find(String name) {
        for (Algorithm a : ALGORITHMS.keySet()) {
            if (a.name.equalsIgnoreCase(name)) {
                return a;
            }
        }
        throw new InvalidParameterException("no signature algorithm " + name);
    }

    /** The JDK's own digest (this provider's may be installed first; hashing here needs no token). */
    private static MessageDigest jdkDigest(String name) {
        try {
            return MessageDigest.getInstance(name, "SUN");
        } catch (GeneralSecurityException e) {
            try {
                return MessageDigest.getInstance(name);
            } catch (NoSuchAlgorithmException again) {
                throw new ProviderException("no " + name + " digest in this JDK", again);
            }
        }
    }

    // Keys

    @Override
    protected void engineInitSign(PrivateKey key) throws InvalidKeyException {
        checkFamily(key);
        if (!(key instanceof TokenPrivateKey)) {
            throw new InvalidKeyException(algorithm.name + " signs with private keys of the token only, not "
                    + key.getClass().getName());
        }
        start(TokenKeys.use(token, key, Ck.CKA_SIGN), true);
        alwaysAuthenticate = ((TokenPrivateKey) key).alwaysAuthenticate;
        if (key instanceof ECKey) {
            ecdsaHalf = orderBytes((ECKey) key);
        }
    }

    @Override
    protected void engineInitSign(PrivateKey key, SecureRandom random) throws InvalidKeyException {
        engineInitSign(key);
    }

    @Override
    protected void engineInitVerify(PublicKey key) throws InvalidKeyException {
        checkFamily(key);
        if (keyUse != null && !signing && keyUse.key == key) {
            reset();
            return;
        }
        start(TokenKeys.use(token, key, Ck.CKA_VERIFY), false);
        alwaysAuthenticate = false;
        if (key instanceof ECKey) {
            ecdsaHalf = orderBytes((ECKey) key);
        }
    }

    private void checkFamily(Key key) throws InvalidKeyException {
        if (key == null) {
            throw new InvalidKeyException(algorithm.name + " needs a key");
        }
        Family family;
        if (key instanceof TokenKey) {
            int type = ((TokenKey) key).keyType;
            family = type == Ck.CKK_RSA ? Family.RSA
                    : type == Ck.CKK_EC ? Family.EC
                    : type == Ck.CKK_EC_EDWARDS ? Family.ED25519 : null;
        } else if (key instanceof RSAPublicKey) {
            family = Family.RSA;
        } else if (key instanceof ECPublicKey) {
            family = Family.EC;
        } else if (key instanceof EdECKey && "Ed25519".equalsIgnoreCase(
                ((EdECKey) key).getParams().getName())) {
            family = Family.ED25519;
        } else {
            family = null;
        }
        if (family != algorithm.family) {
            throw new InvalidKeyException(algorithm.name + " needs " + algorithm.family + " keys, not a "
                    + key.getAlgorithm() + " key (" + key.getClass().getName() + ")");
        }
    }

    private static int orderBytes(ECKey key) {
        return (key.getParams().getOrder().bitLength() + 7) / 8;
    }

    private void start(TokenKeys.Use use, boolean sign) {
        reset();
        if (keyCleanup != null) {
            keyCleanup.clean();
        }
        keyUse = use;
        keyCleanup = Token.CLEANER.register(this, use::close);
        signing = sign;
    }

    /** Back to the state after init: data dropped, a multi-part operation abandoned. */
    private void reset() {
        buffered = 0;
        if (hash != null) {
            hash.reset();
        }
        if (lease != null) {
            Token.Lease l = lease;
            lease = null;
            l.close();
        }
    }

    // Parameters

    @Override
    protected void engineSetParameter(AlgorithmParameterSpec params)
            throws InvalidAlgorithmParameterException {
        if (!algorithm.pss) {
            if (params == null) {
                return;
            }
            throw new InvalidAlgorithmParameterException(algorithm.name + " takes no parameters");
        }
        if (!(params instanceof PSSParameterSpec)) {
            throw new InvalidAlgorithmParameterException("RSASSA-PSS takes a PSSParameterSpec, not "
                    + (params == null ? "null" : params.getClass().getName()));
        }
        if (buffered > 0 || lease != null) {
            throw new ProviderException(
                    "RSASSA-PSS: the parameters cannot change while data is being signed");
        }
        PSSParameterSpec parameters = (PSSParameterSpec) params;
        int[] hashIds = PSS_HASHES.get(canonicalDigest(parameters.getDigestAlgorithm()));
        if (hashIds == null) {
            throw new InvalidAlgorithmParameterException("RSASSA-PSS: unsupported digest "
                    + parameters.getDigestAlgorithm() + " (SHA-1, SHA-224, SHA-256, SHA-384, SHA-512)");
        }
        if (!"MGF1".equalsIgnoreCase(parameters.getMGFAlgorithm())) {
            throw new InvalidAlgorithmParameterException("RSASSA-PSS: unsupported mask generation function "
                    + parameters.getMGFAlgorithm() + " (MGF1 only)");
        }
        int[] mgfIds = hashIds;
        AlgorithmParameterSpec mgf = parameters.getMGFParameters();
        if (mgf != null) {
            if (!(mgf instanceof MGF1ParameterSpec)) {
                throw new InvalidAlgorithmParameterException("RSASSA-PSS: MGF1 takes an MGF1ParameterSpec");
            }
            mgfIds = PSS_HASHES.get(canonicalDigest(((MGF1ParameterSpec) mgf).getDigestAlgorithm()));
            if (mgfIds == null) {
                throw new InvalidAlgorithmParameterException("RSASSA-PSS: unsupported MGF1 digest "
                        + ((MGF1ParameterSpec) mgf).getDigestAlgorithm());
            }
        }
        if (parameters.getTrailerField() != PSSParameterSpec.TRAILER_FIELD_BC) {
            throw new InvalidAlgorithmParameterException(
                    "RSASSA-PSS: only the trailer field 1 (0xBC) is used");
        }
        if (parameters.getSaltLength() < 0) {
            throw new InvalidAlgorithmParameterException("RSASSA-PSS: negative salt length");
        }
        pssParameters = parameters;
        mechanism = new Mechanism(hashIds[1], new PSSParams(hashIds[0], mgfIds[2], parameters.getSaltLength()));
    }

    /** "SHA256", "SHA-256" and "sha-256" all name SHA-256. */
    private static String canonicalDigest(String name) {
        String n = name.toUpperCase(Locale.ROOT);
        if (n.startsWith("SHA") && !n.startsWith("SHA-") && !n.startsWith("SHA3")) {
            n = "SHA-" + n.substring(3);
        }
        return n;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (!algorithm.pss || pssParameters == null) {
            return null;
        }
        try {
            AlgorithmParameters p = AlgorithmParameters.getInstance("RSASSA-PSS");
            p.init(pssParameters);
            return p;
        } catch (GeneralSecurityException e) {
            throw new ProviderException("cannot encode the PSS parameters", e);
        }
    }

    @Override
    @Deprecated
    protected void engineSetParameter(String param, Object value) {
        throw new InvalidParameterException("no parameter " + param);
    }

    @Override
    @Deprecated
    protected Object engineGetParameter(String param) {
        throw new InvalidParameterException("no parameter " + param);
    }

    // Data

    @Override
    protected void engineUpdate(byte b) throws SignatureException {
        engineUpdate(new byte[] {b}, 0, 1);
    }

    @Override
    protected void engineUpdate(byte[] data, int off, int len) throws SignatureException {
        ready();
        if (len == 0) {
            return;
        }
        if (hash != null) {
            hash.update(data, off, len);
            return;
        }
        if (lease != null) {
            updatePart(data, off, len);
            return;
        }
        if (algorithm.multiPart && buffered + len > MULTIPART_THRESHOLD) {
            startMultiPart(data, off, len);
            return;
        }
        if (buffered + len > buffer.length) {
            buffer = Arrays.copyOf(buffer, Math.max(buffered + len, 2 * buffer.length));
        }
        System.arraycopy(data, off, buffer, buffered, len);
        buffered += len;
    }

    @Override
    protected void engineUpdate(ByteBuffer input) {
        if (input.hasArray()) {
            super.engineUpdate(input);
            return;
        }
        byte[] chunk = new byte[Math.min(input.remaining(), 8192)];
        try {
            while (input.hasRemaining()) {
                int n = Math.min(chunk.length, input.remaining());
                input.get(chunk, 0, n);
                engineUpdate(chunk, 0, n);
            }
        } catch (SignatureException e) {
            throw new ProviderException(e.getMessage(), e);
        }
    }

    private void ready() throws SignatureException {
        if (keyUse == null) {
            throw new SignatureException(algorithm.name + ": not initialised");
        }
        if (algorithm.pss && mechanism == null) {
            throw new SignatureException("RSASSA-PSS needs its parameters (a PSSParameterSpec) before data");
        }
    }

    /**
     * Moves to a leased session: starts the operation there and hands it what was collected, then
     * {@code data}.
     */
    private void startMultiPart(byte[] data, int off, int len) throws SignatureException {
        try {
            lease = token.lease(this);
        } catch (CryptokiException e) {
            throw Failures.signature(e);
        }
        TokenSession s = lease.session;
        long key = keyUse.handle;
        Mechanism m = mechanism;
        try {
            if (signing) {
                CryptokiLock.run(() -> s.nat.J_SignInit(s.handle, m, key));
                s.operationActive = true;
                if (alwaysAuthenticate) {
                    contextLogin(s);
                }
            } else {
                // Verification starts with its first part.
                byte[] first = buffered > 0 ? buffer : data;
                int firstOff = buffered > 0 ? 0 : off;
                int firstLen = buffered > 0 ? buffered : len;
                CryptokiLock.run(() ->
                        s.nat.J_VerifyUpdate(s.handle, true, m, key, first, firstOff, firstLen));
                s.operationActive = true;
                if (buffered == 0) {
                    return;
                }
                buffered = 0;
                updatePart(data, off, len);
                return;
            }
        } catch (CryptokiException e) {
            reset();
            throw Failures.signature(e);
        } catch (SignatureException e) {
            reset();
            throw e;
        }
        if (buffered > 0) {
            int n = buffered;
            buffered = 0;
            updatePart(buffer, 0, n);
        }
        updatePart(data, off, len);
    }

    private void updatePart(byte[] data, int off, int len) throws SignatureException {
        TokenSession s = lease.session;
        try {
            if (signing) {
                CryptokiLock.run(() -> s.nat.J_SignUpdate(s.handle, false, null, 0, data, off, len));
            } else {
                CryptokiLock.run(() -> s.nat.J_VerifyUpdate(s.handle, false, null, 0, data, off, len));
            }
        } catch (CryptokiException e) {
            reset();
            throw Failures.signature(e);
        }
    }

    // Signing

    @Override
    protected byte[] engineSign() throws SignatureException {
        ready();
        if (!signing) {
            throw new SignatureException(algorithm.name + ": initialised for verification, not signing");
        }
        byte[] raw;
        try {
            raw = lease != null ? finishSign() : signOnce(data(), dataLength());
        } finally {
            reset();
        }
        return algorithm.family == Family.EC ? EcdsaDer.encode(raw) : raw;
    }

    private byte[] data() {
        return hash != null ? hash.digest() : buffer;
    }

    private int dataLength() {
        return hash != null ? hash.getDigestLength() : buffered;
    }

    private byte[] finishSign() throws SignatureException {
        TokenSession s = lease.session;
        try {
            byte[] sig = CryptokiLock.call(s.nat::J_SignFinal);
            s.operationActive = false;
            return sig;
        } catch (CryptokiException e) {
            throw Failures.signature(e);
        }
    }

    private byte[] signOnce(byte[] data, int len) throws SignatureException {
        long key = keyUse.handle;
        Mechanism m = mechanism;
        if (!alwaysAuthenticate) {
            try {
                return token.call(s -> s.nat.J_Sign(s.handle, true, m, key, data, 0, len));
            } catch (CryptokiException e) {
                throw Failures.signature(e);
            }
        }
        // The signer PIN may come from a prompt: the lock is not held while it is read.
        try (Token.Lease l = token.lease(this)) {
            TokenSession s = l.session;
            CryptokiLock.run(() -> s.nat.J_SignInit(s.handle, m, key));
            s.operationActive = true;
            contextLogin(s);
            byte[] sig = CryptokiLock.call(() -> s.nat.J_Sign(s.handle, false, null, 0, data, 0, len));
            s.operationActive = false;
            return sig;
        } catch (CryptokiException e) {
            throw Failures.signature(e);
        }
    }

    private void contextLogin(TokenSession s) throws SignatureException, CryptokiException {
        try {
            token.contextLogin(s);
        } catch (PinSource.PinUnavailable e) {
            throw new SignatureException("Kelvane: no signer PIN for " + token.displayName + ": "
                    + e.getMessage(), e);
        }
    }

    // Verification

    @Override
    protected boolean engineVerify(byte[] signature) throws SignatureException {
        return engineVerify(signature, 0, signature.length);
    }

    @Override
    protected boolean engineVerify(byte[] signature, int off, int len) throws SignatureException {
        ready();
        if (signing) {
            throw new SignatureException(algorithm.name + ": initialised for signing, not verification");
        }
        try {
            byte[] sig = algorithm.family == Family.EC
                    ? EcdsaDer.decode(signature, off, len, ecdsaHalf)
                    : Arrays.copyOfRange(signature, off, off + len);
            return lease != null ? finishVerify(sig) : verifyOnce(sig);
        } finally {
            reset();
        }
    }

    private boolean finishVerify(byte[] sig) throws SignatureException {
        TokenSession s = lease.session;
        try {
            CryptokiLock.run(() -> s.nat.J_VerifyFinal(sig, 0, sig.length));
            s.operationActive = false;
            return true;
        } catch (CryptokiException e) {
            if (isMismatch(e)) {
                s.operationActive = false;
                return false;
            }
            throw Failures.signature(e);
        }
    }

    private boolean verifyOnce(byte[] sig) throws SignatureException {
        byte[] data = data();
        int len = dataLength();
        long key = keyUse.handle;
        Mechanism m = mechanism;
        try {
            return token.call(s -> {
                try {
                    s.nat.J_Verify(s.handle, true, m, key, data, 0, len, sig, 0, sig.length);
                    return true;
                } catch (CryptokiException e) {
                    if (isMismatch(e)) {
                        return false;
                    }
                    throw e;
                }
            });
        } catch (CryptokiException e) {
            throw Failures.signature(e);
        }
    }

    /** The answers of a signature that does not match (these end the operation). */
    private static boolean isMismatch(CryptokiException e) {
        return e.getCode() == Ck.CKR_SIGNATURE_INVALID || e.getCode() == Ck.CKR_SIGNATURE_LEN_RANGE;
    }

    /** ECDSA signatures between the token's r||s and the DER SEQUENCE { INTEGER r, INTEGER s }. */
    static final class EcdsaDer {
        private EcdsaDer() {
        }

        static byte[] encode(byte[] rs) throws SignatureException {
            if (rs.length == 0 || rs.length % 2 != 0) {
                throw new SignatureException("the token gave an ECDSA signature of " + rs.length + " bytes");
            }
            int half = rs.length / 2;
            byte[] r = integer(new BigInteger(1, Arrays.copyOfRange(rs, 0, half)));
            byte[] s = integer(new BigInteger(1, Arrays.copyOfRange(rs, half, rs.length)));
            int content = r.length + s.length;
            byte[] header = content < 0x80 ? new byte[] {0x30, (byte) content}
                    : new byte[] {0x30, (byte) 0x81, (byte) content};
            byte[] out = Arrays.copyOf(header, header.length + content);
            System.arraycopy(r, 0, out, header.length, r.length);
            System.arraycopy(s, 0, out, header.length + r.length, s.length);
            return out;
        }

        private static byte[] integer(BigInteger v) {
            byte[] value = v.toByteArray();
            byte[] out = new byte[2 + value.length];
            out[0] = 0x02;
            out[1] = (byte) value.length;
            System.arraycopy(value, 0, out, 2, value.length);
            return out;
        }

        /** r||s of {@code half} bytes each; anything but one well-formed DER SEQUENCE fails. */
        static byte[] decode(byte[] der, int off, int len, int half) throws SignatureException {
            if (off < 0 || len < 0 || off + len > der.length) {
                throw new SignatureException("signature window outside its array");
            }
            int end = off + len;
            int at = off;
            if (len < 2 || der[at++] != 0x30) {
                throw malformed("not a SEQUENCE");
            }
            int seqLen = der[at++] & 0xff;
            if (seqLen == 0x81 && at < end) {
                seqLen = der[at++] & 0xff;
                if (seqLen < 0x80) {
                    throw malformed("length not in its shortest form");
                }
            } else if (seqLen >= 0x80) {
                throw malformed("length form");
            }
            if (at + seqLen != end) {
                throw malformed("length does not match the signature's");
            }
            byte[] out = new byte[2 * half];
            at = readInteger(der, at, end, out, 0, half);
            at = readInteger(der, at, end, out, half, half);
            if (at != end) {
                throw malformed("bytes after s");
            }
            return out;
        }

        private static int readInteger(byte[] der, int at, int end, byte[] out, int outAt, int half)
                throws SignatureException {
            if (end - at < 2 || der[at] != 0x02) {
                throw malformed("INTEGER expected");
            }
            int n = der[at + 1] & 0xff;
            at += 2;
            if (n == 0 || n >= 0x80 || n > end - at) {
                throw malformed("INTEGER length");
            }
            if ((der[at] & 0x80) != 0) {
                throw malformed("negative INTEGER");
            }
            if (n > 1 && der[at] == 0 && (der[at + 1] & 0x80) == 0) {
                throw malformed("INTEGER not in its shortest form");
            }
            int skip = der[at] == 0 ? 1 : 0;
            int size = n - skip;
            if (size > half) {
                throw malformed("INTEGER longer than the curve's order");
            }
            System.arraycopy(der, at + skip, out, outAt + half - size, size);
            return at + n;
        }

        private static SignatureException malformed(String what) {
            return new SignatureException("malformed ECDSA signature: " + what);
        }
    }
}
