package qorvik.tests;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;

/**
 * openssl as the independent reference for what the token computes: digests, ciphertexts and
 * signature checks. Inputs and outputs pass through temporary files, removed afterwards.
 */
final class OpenSsl {
    private OpenSsl() {
    }

    /** {@code openssl dgst -NAME -binary} over {@code data} ("sha1", "md5", "sha256", "sha512"). */
    static byte[] digest(String name, byte[] data) {
        return withFiles(data, (in, out) -> List.of("dgst", "-" + name, "-binary", "-out", out, in));
    }

    /**
     * {@code openssl enc -CIPHER -K KEY [-iv IV] [-nopad]} over {@code data}; {@code iv} null for
     * ECB ciphers.
     */
    static byte[] encrypt(String cipher, byte[] key, byte[] iv, boolean pad, byte[] data) {
        return withFiles(data, (in, out) -> {
            List<String> args = new ArrayList<>(List.of("enc", "-" + cipher, "-K", HexFormat.of().formatHex(key)));
            if (iv != null) {
                args.addAll(List.of("-iv", HexFormat.of().formatHex(iv)));
            }
            if (!pad) {
                args.add("-nopad");
            }
            args.addAll(List.of("-in", in, "-out", out));
            return args;
        });
    }

    /** RSA OAEP (SHA-1, MGF1 with SHA-1, no label) under the DER public key in {@code publicKey}. */
    static byte[] oaepEncrypt(Path publicKey, byte[] data) {
        return withFiles(data, (in, out) -> List.of("pkeyutl", "-encrypt", "-pubin", "-keyform", "DER",
                "-inkey", publicKey.toString(), "-pkeyopt", "rsa_padding_mode:oaep", "-in", in, "-out", out));
    }

    /**
     * Whether {@code openssl dgst -DIGEST -verify} accepts {@code signature} (PKCS #1 v1.5 for RSA,
     * DER for ECDSA) over {@code data} under the DER public key in {@code publicKey}.
     */
    static boolean verifies(String digest, Path publicKey, byte[] data, byte[] signature) {
        return verifies(digest, publicKey, data, signature, List.of());
    }

    /**
     * As {@link #verifies(String, Path, byte[], byte[])}, with each of {@code sigopts} passed as
     * {@code -sigopt} ("rsa_padding_mode:pss", "rsa_pss_saltlen:32", "rsa_mgf1_md:sha1").
     */
    static boolean verifies(String digest, Path publicKey, byte[] data, byte[] signature, List<String> sigopts) {
        List<String> command = new ArrayList<>(List.of("openssl", "dgst", "-" + digest, "-keyform", "DER",
                "-verify", publicKey.toString()));
        for (String option : sigopts) {
            command.addAll(List.of("-sigopt", option));
        }
        return check(data, signature, "Verified OK", "Verification failure", (in, sig) -> {
            command.addAll(List.of("-signature", sig, in));
            return command;
        });
    }

    /**
     * Whether {@code openssl pkeyutl -verify -rawin} accepts {@code signature} over the message
     * {@code data} itself (EdDSA) under the DER public key in {@code publicKey}.
     */
    static boolean verifiesRaw(Path publicKey, byte[] data, byte[] signature) {
        return check(data, signature, "Signature Verified Successfully", "Signature Verification Failure",
                (in, sig) -> List.of("openssl", "pkeyutl", "-verify", "-rawin", "-pubin", "-keyform", "DER",
                        "-inkey", publicKey.toString(), "-in", in, "-sigfile", sig));
    }

    /**
     * Runs the verification {@code command} makes of the files holding {@code data} and
     * {@code signature}: true when openssl says {@code accepted}, false when it says {@code refused};
     * any other outcome (an unreadable key, say) fails the test.
     */
    private static boolean check(byte[] data, byte[] signature, String accepted, String refused, Arguments command) {
        Path in = Pkcs11Tool.tempFile();
        Path sig = Pkcs11Tool.tempFile();
        try {
            Files.write(in, data);
            Files.write(sig, signature);
            Pkcs11Tool.Outcome outcome = Pkcs11Tool.execStatus(command.of(in.toString(), sig.toString()));
            boolean ok = outcome.status() == 0 && outcome.output().contains(accepted);
            if (!ok && !outcome.output().contains(refused)) {
                throw new AssertionError("openssl could not check the signature:\n" + outcome.output());
            }
            return ok;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } finally {
            Pkcs11Tool.delete(in);
            Pkcs11Tool.delete(sig);
        }
    }

    /** ECDSA's raw r||s, two halves of equal length, as the DER SEQUENCE of two INTEGERs openssl reads. */
    static byte[] ecdsaDer(byte[] rs) {
        if (rs.length == 0 || rs.length % 2 != 0) {
            throw new AssertionError("r||s of odd length " + rs.length);
        }
        int half = rs.length / 2;
        byte[] r = tlv(0x02, new BigInteger(1, Arrays.copyOfRange(rs, 0, half)).toByteArray());
        byte[] s = tlv(0x02, new BigInteger(1, Arrays.copyOfRange(rs, half, rs.length)).toByteArray());
        byte[] both = Arrays.copyOf(r, r.length + s.length);
        System.arraycopy(s, 0, both, r.length, s.length);
        return tlv(0x30, both);
    }

    /** Tag, length (short form, or 0x81 and one byte) and content; enough for curves up to P-521. */
    private static byte[] tlv(int tag, byte[] content) {
        if (content.length > 0xFF) {
            throw new AssertionError("DER content too long: " + content.length);
        }
        int header = content.length < 0x80 ? 2 : 3;
        byte[] out = new byte[header + content.length];
        out[0] = (byte) tag;
        if (header == 3) {
            out[1] = (byte) 0x81;
        }
        out[header - 1] = (byte) content.length;
        System.arraycopy(content, 0, out, header, content.length);
        return out;
    }

    private interface Arguments {
        List<String> of(String in, String out);
    }

    /** Runs openssl on {@code data} written to a file and returns what it wrote to its output file. */
    private static byte[] withFiles(byte[] data, Arguments arguments) {
        Path in = Pkcs11Tool.tempFile();
        Path out = Pkcs11Tool.tempFile();
        try {
            Files.write(in, data);
            List<String> command = new ArrayList<>(List.of("openssl"));
            command.addAll(arguments.of(in.toString(), out.toString()));
            Pkcs11Tool.exec(command);
            return Files.readAllBytes(out);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } finally {
            Pkcs11Tool.delete(in);
            Pkcs11Tool.delete(out);
        }
    }
}
