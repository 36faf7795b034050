package qorvik.tool;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.HexFormat;

import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.TokenInfo;
import qorvik.nat.NativeSlot;

/**
 * Signs a document with a private key on a token through the bridge, checks the signature
 * with the public key of the same label through the bridge, and writes it to a file.
 *
 * <pre>java -Dkelvane.library=/path/libkelvane.so -cp kelvane-tool.jar:kelvane.jar \
 *     qorvik.tool.SignDocument MODULE TOKEN PIN KEY DOCUMENT SIGNATURE</pre>
 *
 * The signature is CKM_SHA256_RSA_PKCS over the whole document: PKCS #1 v1.5 with SHA-256,
 * as {@code openssl dgst -sha256 -verify} checks it. The file is written only after the
 * token has accepted the signature.
 *
 * Exit status: 0 on success, 1 when a Cryptoki call or a step fails, 2 on a usage error.
 *
 * <p>The kelvane command does this with {@code sign} and {@code verify}
 * ({@code kelvane --module MODULE --token TOKEN sign --label KEY -o SIGNATURE DOCUMENT}, the PIN
 * from the prompt, an environment variable or a file); this class stays for scripts that run it
 * directly.
 */
public final class SignDocument {
    static final int CKM_SHA256_RSA_PKCS = 0x40;
    private static final int SHOWN_BYTES = 16;

    private final PrintStream out;

    private SignDocument(PrintStream out) {
        this.out = out;
    }

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    /** Runs the tool with the given arguments and streams; returns the exit status. */
    public static int run(String[] args, PrintStream out, PrintStream err) {
        TokenChoice token;
        try {
            if (args.length != 6 || Arrays.stream(args).anyMatch(String::isEmpty)) {
                throw new IllegalArgumentException("six non-empty arguments expected");
            }
            token = TokenChoice.parse(args[1]);
        } catch (IllegalArgumentException e) {
            usage(err, e.getMessage());
            return TokenInfoTool.EXIT_USAGE;
        }
        try {
            new SignDocument(out).sign(args[0], token, args[2], args[3], Path.of(args[4]),
                    Path.of(args[5]));
            return TokenInfoTool.EXIT_OK;
        } catch (CryptokiException e) {
            err.println(TokenInfoTool.failure(e));
        } catch (ToolFailure e) {
            err.println("SignDocument: " + e.getMessage());
        }
        return TokenInfoTool.EXIT_FAILED;
    }

    private static void usage(PrintStream err, String problem) {
        err.println("usage: SignDocument MODULE TOKEN PIN KEY DOCUMENT SIGNATURE (" + problem + ")");
        err.println("  MODULE     the PKCS#11 module's file (absolute path or library name)");
        err.println("  TOKEN      the token's label, or slot:ID for the token in that slot");
        err.println("  PIN        the user PIN");
        err.println("  KEY        the label of the private key and of its public key");
        err.println("  DOCUMENT   the file to sign");
        err.println("  SIGNATURE  the file the signature is written to (replaced if present)");
    }

    private void sign(String moduleName, TokenChoice token, String pin, String keyLabel,
                      Path document, Path signatureFile) throws CryptokiException, ToolFailure {
        byte[] data = read(document);
        line("Document", document + " (" + data.length + " bytes)");
        Mechanism mechanism = new Mechanism(CKM_SHA256_RSA_PKCS, null);

        try (CryptokiModule module = CryptokiModule.open(moduleName)) {
            line("Module", module.fullPath());
            NativeSlot slot = findSlot(module, token);
            TokenInfo info = slot.J_GetTokenInfo();
            line("Token", "'" + info.getLabel().trim() + "' in slot " + ModuleReport.slotId(slot));

            try (UserSession session = UserSession.open(slot, pin)) {
                line("Session", session.handle() + " (read-only, user logged in)");
                long privateKey = session.privateKey(keyLabel);
                line("Private key", "handle " + privateKey + " ('" + keyLabel + "')");

                byte[] signature = session.sign(mechanism, privateKey, data);
                line("Signature", signature.length + " bytes, CKM_SHA256_RSA_PKCS");
                line("Signature starts", HexFormat.of().formatHex(signature, 0,
                        Math.min(SHOWN_BYTES, signature.length)) + " ...");

                long publicKey = session.publicKey(keyLabel);
                line("Public key", "handle " + publicKey + " ('" + keyLabel + "')");
                session.verify(mechanism, publicKey, data, signature);
                line("Verified on the token", "signature valid");

                write(signatureFile, signature);
                line("Signature file", signatureFile.toString());
            }
        }
        line("Session closed", "module finalised");
    }

    /** The one slot holding the chosen token. */
    private static NativeSlot findSlot(CryptokiModule module, TokenChoice token)
            throws CryptokiException, ToolFailure {
        NativeSlot found = null;
        for (NativeSlot slot : module.slots(true)) {
            if (token.matches(slot)) {
                if (found != null) {
                    throw new ToolFailure("more than one slot holds " + token);
                }
                found = slot;
            }
        }
        if (found == null) {
            throw new ToolFailure("no slot holds " + token);
        }
        return found;
    }

    private static byte[] read(Path file) throws ToolFailure {
        try {
            return Files.readAllBytes(file);
        } catch (IOException | OutOfMemoryError e) {
            throw new ToolFailure("cannot read " + file + ": " + e, e);
        }
    }

    private static void write(Path file, byte[] bytes) throws ToolFailure {
        try {
            Files.write(file, bytes);
        } catch (IOException e) {
            throw new ToolFailure("cannot write " + file + ": " + e, e);
        }
    }

    private void line(String label, String value) {
        out.printf("%-24s%s%n", label + ":", value);
    }
}
