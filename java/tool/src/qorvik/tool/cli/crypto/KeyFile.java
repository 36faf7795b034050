package qorvik.tool.cli.crypto;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.Arrays;
import java.util.Base64;
import java.util.HexFormat;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * A private key, public key or certificate read from a PEM or DER file with the JDK's parsers.
 * PEM takes PKCS #8, traditional RSA and EC private keys, X.509 and RSA public keys and
 * certificates; other blocks (EC PARAMETERS) are passed over. DER is tried as a certificate,
 * a PKCS #8 key, an X.509 public key, then the traditional RSA and EC forms.
 */
public final class KeyFile {
    /** What the file held. */
    public sealed interface Content permits PrivateContent, PublicContent, CertificateContent {
    }

    /** A private key and, when the file says, the public point that goes with it (EC) or null. */
    public record PrivateContent(PrivateKey key, byte[] publicPoint) implements Content {
    }

    public record PublicContent(PublicKey key) implements Content {
    }

    public record CertificateContent(X509Certificate certificate) implements Content {
    }

    private static final Pattern PEM =
            Pattern.compile("-----BEGIN ([A-Z0-9 ]+)-----(.*?)-----END \\1-----", Pattern.DOTALL);
    private static final byte[] RSA_ALGORITHM =
            Der.sequence(HexFormat.of().parseHex("06092a864886f70d010101"), new byte[] {Der.NULL, 0});
    private static final byte[] EC_PUBLIC_KEY = HexFormat.of().parseHex("06072a8648ce3d0201");
    private static final List<String> KEY_ALGORITHMS = List.of("RSA", "EC", "Ed25519");

    private KeyFile() {
    }

    public static Content read(Path file) throws IOException {
        byte[] bytes = Files.readAllBytes(file);
        String text = new String(bytes, StandardCharsets.ISO_8859_1);
        if (text.contains("-----BEGIN ")) {
            return pem(text);
        }
        return der(bytes);
    }

    static Content pem(String text) {
        Matcher block = PEM.matcher(text);
        while (block.find()) {
            String type = block.group(1);
            byte[] body;
            try {
                body = Base64.getMimeDecoder().decode(block.group(2).strip());
            } catch (IllegalArgumentException e) {
                throw new IllegalArgumentException("the " + type + " block is not valid base64");
            }
            switch (type) {
                case "PRIVATE KEY":
                    return pkcs8(body);
                case "RSA PRIVATE KEY":
                    return pkcs8(rsaToPkcs8(body));
                case "EC PRIVATE KEY":
                    return pkcs8(sec1ToPkcs8(body));
                case "PUBLIC KEY":
                    return spki(body);
                case "RSA PUBLIC KEY":
                    return spki(rsaPublicToSpki(body));
                case "CERTIFICATE":
                    return certificate(body);
                case "ENCRYPTED PRIVATE KEY":
                    throw new IllegalArgumentException("the private key is encrypted: decrypt it first "
                            + "(openssl pkey -in FILE -out PLAIN)");
                default:
                    break;
            }
        }
        throw new IllegalArgumentException("no private key, public key or certificate in the PEM file");
    }

    static Content der(byte[] der) {
        List<Parser> parsers = List.of(KeyFile::certificate, KeyFile::pkcs8, KeyFile::spki,
                body -> pkcs8(rsaToPkcs8(body)), body -> pkcs8(sec1ToPkcs8(body)));
        for (Parser parser : parsers) {
            try {
                return parser.parse(der);
            } catch (IllegalArgumentException e) {
                // the next form, then
            }
        }
        throw new IllegalArgumentException("neither PEM nor a DER private key, public key or certificate");
    }

    private interface Parser {
        Content parse(byte[] der);
    }

    private static Content certificate(byte[] der) {
        try {
            CertificateFactory factory = CertificateFactory.getInstance("X.509");
            return new CertificateContent(
                    (X509Certificate) factory.generateCertificate(new ByteArrayInputStream(der)));
        } catch (GeneralSecurityException | ClassCastException e) {
            throw new IllegalArgumentException("not an X.509 certificate: " + e.getMessage(), e);
        }
    }

    private static Content pkcs8(byte[] der) {
        for (String algorithm : KEY_ALGORITHMS) {
            try {
                PrivateKey key = KeyFactory.getInstance(algorithm).generatePrivate(new PKCS8EncodedKeySpec(der));
                return new PrivateContent(key, algorithm.equals("EC") ? embeddedPoint(der) : null);
            } catch (GeneralSecurityException | RuntimeException e) {
                // another algorithm, then
            }
        }
        throw new IllegalArgumentException("not a PKCS #8 private key of RSA, EC or Ed25519");
    }

    private static Content spki(byte[] der) {
        for (String algorithm : KEY_ALGORITHMS) {
            try {
                return new PublicContent(KeyFactory.getInstance(algorithm).generatePublic(new X509EncodedKeySpec(der)));
            } catch (GeneralSecurityException | RuntimeException e) {
                // another algorithm, then
            }
        }
        throw new IllegalArgumentException("not an X.509 public key of RSA, EC or Ed25519");
    }

    /** PKCS #1 RSAPrivateKey inside a PKCS #8 envelope. */
    static byte[] rsaToPkcs8(byte[] pkcs1) {
        return Der.sequence(Der.tlv(Der.INTEGER, new byte[] {0}), RSA_ALGORITHM, Der.tlv(Der.OCTET_STRING, pkcs1));
    }

    /** PKCS #1 RSAPublicKey inside an X.509 SubjectPublicKeyInfo. */
    static byte[] rsaPublicToSpki(byte[] pkcs1) {
        byte[] bits = new byte[pkcs1.length + 1];
        System.arraycopy(pkcs1, 0, bits, 1, pkcs1.length);
        return Der.sequence(RSA_ALGORITHM, Der.tlv(Der.BIT_STRING, bits));
    }

    /** SEC 1 ECPrivateKey (with its curve in [0]) inside a PKCS #8 envelope. */
    static byte[] sec1ToPkcs8(byte[] sec1) {
        Der.Element key = Der.read(sec1, 0);
        if (key.tag() != Der.SEQUENCE) {
            throw new IllegalArgumentException("not an EC private key");
        }
        byte[] curve = null;
        for (Der.Element part : Der.children(key.content())) {
            if (part.tag() == 0xA0) {
                curve = part.content();
            }
        }
        if (curve == null || Der.read(curve, 0).tag() != Der.OID) {
            throw new IllegalArgumentException("the EC private key does not name its curve");
        }
        return Der.sequence(Der.tlv(Der.INTEGER, new byte[] {0}), Der.sequence(EC_PUBLIC_KEY, curve),
                Der.tlv(Der.OCTET_STRING, sec1));
    }

    /** The public point a PKCS #8 EC key carries in its SEC 1 [1] field, or null. */
    private static byte[] embeddedPoint(byte[] pkcs8) {
        try {
            List<Der.Element> outer = Der.children(Der.read(pkcs8, 0).content());
            byte[] sec1 = outer.get(2).content();
            for (Der.Element part : Der.children(Der.read(sec1, 0).content())) {
                if (part.tag() == 0xA1) {
                    return bitStringBytes(Der.read(part.content(), 0));
                }
            }
        } catch (RuntimeException e) {
            // no point, then
        }
        return null;
    }

    private static byte[] bitStringBytes(Der.Element bits) {
        byte[] content = bits.content();
        if (bits.tag() != Der.BIT_STRING || content.length == 0 || content[0] != 0) {
            throw new IllegalArgumentException("not a whole-byte BIT STRING");
        }
        return Arrays.copyOfRange(content, 1, content.length);
    }

    /** The subjectPublicKey bytes of an X.509 SubjectPublicKeyInfo: an EC point or an EdDSA key. */
    public static byte[] publicKeyBytes(PublicKey key) {
        List<Der.Element> parts = Der.children(Der.read(key.getEncoded(), 0).content());
        return bitStringBytes(parts.get(1));
    }

    /** The curve of an EC or Ed25519 public key, from its SubjectPublicKeyInfo. */
    public static Curve curveOf(PublicKey key) {
        List<Der.Element> info = Der.children(Der.read(key.getEncoded(), 0).content());
        List<Der.Element> algorithm = Der.children(info.get(0).content());
        Curve curve = null;
        if (algorithm.size() == 2 && algorithm.get(1).tag() == Der.OID) {
            curve = Curve.byParams(Der.tlv(Der.OID, algorithm.get(1).content()));
        } else if (algorithm.size() == 1) {
            curve = Curve.byParams(Der.tlv(Der.OID, algorithm.get(0).content()));
        }
        if (curve == null) {
            throw new IllegalArgumentException("the key's curve is not one of " + Curve.names());
        }
        return curve;
    }
}
