package qorvik.provider;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/** The provider's services of this family: signatures, key pairs, key agreement. */
final class SignatureServices {
    private SignatureServices() {
    }

    static void register(Registrar r) {
        for (Map.Entry<TokenSignature.Algorithm, String[]> e : TokenSignature.ALGORITHMS.entrySet()) {
            List<String> aliases = new ArrayList<>();
            for (String oid : e.getValue()) {
                aliases.add(oid);
                if (Character.isDigit(oid.charAt(0))) {
                    aliases.add("OID." + oid);
                }
            }
            r.add("Signature", e.getKey().name, aliases, TokenSignature::new);
        }
        r.add("KeyPairGenerator", "RSA", List.of("1.2.840.113549.1.1.1"), TokenKeyPairGenerator::new);
        r.add("KeyPairGenerator", "EC", List.of("EllipticCurve", "1.2.840.10045.2.1"),
                TokenKeyPairGenerator::new);
        r.add("KeyPairGenerator", "Ed25519", List.of("1.3.101.112"), TokenKeyPairGenerator::new);
        r.add("KeyAgreement", "ECDH", TokenKeyAgreement::new);
    }
}
