package qorvik.provider.tests;

import java.security.AlgorithmParameters;
import java.security.AuthProvider;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.Provider;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECParameterSpec;
import java.security.spec.NamedParameterSpec;
import java.security.spec.RSAKeyGenParameterSpec;
import java.util.HashMap;
import java.util.Map;

import javax.security.auth.callback.Callback;
import javax.security.auth.callback.PasswordCallback;

import qorvik.CryptokiException;
import qorvik.nat.CryptokiLock;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/**
 * The key pairs the signature suites share: each kind made once on the token through the
 * provider, and once by the JDK; the JDK provider that judges each algorithm; and direct access
 * to the token through the bridge for what the provider does not offer.
 */
final class SigningKeys {
    /** The kinds of key the suites sign with. */
    enum Kind {
        RSA_2048("RSA", "SunRsaSign", new RSAKeyGenParameterSpec(2048, RSAKeyGenParameterSpec.F4)),
        P_256("EC", "SunEC", new ECGenParameterSpec("secp256r1")),
        P_384("EC", "SunEC", new ECGenParameterSpec("secp384r1")),
        P_521("EC", "SunEC", new ECGenParameterSpec("secp521r1")),
        ED25519("Ed25519", "SunEC", NamedParameterSpec.ED25519);

        final String keyAlgorithm;
        final String jdkProvider;
        final AlgorithmParameterSpec parameters;

        Kind(String keyAlgorithm, String jdkProvider, AlgorithmParameterSpec parameters) {
            this.keyAlgorithm = keyAlgorithm;
            this.jdkProvider = jdkProvider;
            this.parameters = parameters;
        }
    }

    private static final Map<Kind, KeyPair> TOKEN = new HashMap<>();
    private static final Map<Kind, KeyPair> JDK = new HashMap<>();

    private SigningKeys() {
    }

    static Provider provider() {
        return ProviderSetup.provider();
    }

    /** A pair whose private key is a session object of the token, made through the provider. */
    static synchronized KeyPair token(Kind kind) throws Exception {
        KeyPair pair = TOKEN.get(kind);
        if (pair == null) {
            KeyPairGenerator g = KeyPairGenerator.getInstance(kind.keyAlgorithm, provider());
            g.initialize(kind.parameters);
            pair = g.generateKeyPair();
            TOKEN.put(kind, pair);
        }
        return pair;
    }

    /** A pair made by the JDK's own provider. */
    static synchronized KeyPair jdk(Kind kind) throws Exception {
        KeyPair pair = JDK.get(kind);
        if (pair == null) {
            KeyPairGenerator g = KeyPairGenerator.getInstance(kind.keyAlgorithm, kind.jdkProvider);
            g.initialize(kind.parameters);
            pair = g.generateKeyPair();
            JDK.put(kind, pair);
        }
        return pair;
    }

    /** The JDK's parameters of a named curve. */
    static ECParameterSpec paramsOf(String curve) throws Exception {
        AlgorithmParameters p = AlgorithmParameters.getInstance("EC", "SunEC");
        p.init(new ECGenParameterSpec(curve));
        return p.getParameterSpec(ECParameterSpec.class);
    }

    /** Which of the three NIST curves {@code params} describe. */
    static String curveName(ECParameterSpec params) throws Exception {
        for (String name : new String[] {"secp256r1", "secp384r1", "secp521r1"}) {
            ECParameterSpec known = paramsOf(name);
            if (known.getOrder().equals(params.getOrder()) && known.getGenerator().equals(params.getGenerator())
                    && known.getCurve().equals(params.getCurve())) {
                return name;
            }
        }
        return "unknown curve of order " + params.getOrder();
    }

    /** The JDK provider that checks signatures of {@code algorithm}. */
    static String judge(String algorithm) {
        return algorithm.contains("RSA") ? "SunRsaSign" : "SunEC";
    }

    /** Work on a session of the shared token, made through the bridge holding the module's lock. */
    @FunctionalInterface
    interface SessionWork<T> {
        T run(NativeSession session) throws CryptokiException;
    }

    /**
     * Runs {@code work} on a new read-write session of the shared token, the user logged in
     * through the provider (the login is the module's, shared by its sessions).
     */
    static <T> T onToken(SessionWork<T> work) throws Exception {
        ((AuthProvider) provider()).login(null, callbacks -> {
            for (Callback c : callbacks) {
                ((PasswordCallback) c).setPassword(ProviderSetup.USER_PIN.toCharArray());
            }
        });
        return CryptokiLock.call(() -> {
            NativeSlot slot = null;
            for (NativeSlot s : new NativeCryptoki().GetSlotList(true)) {
                if (s.J_GetTokenInfo().getLabel().trim().equals(ProviderSetup.tokenLabel())) {
                    slot = s;
                }
            }
            if (slot == null) {
                throw new IllegalStateException("no token labelled " + ProviderSetup.tokenLabel());
            }
            NativeSession session = slot.J_OpenSession(0x4 | 0x2);
            try {
                return work.run(session);
            } finally {
                session.J_CloseSession();
            }
        });
    }
}
