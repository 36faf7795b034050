package qorvik.tool.cli;

import static qorvik.tool.cli.crypto.Ck.CKO_PRIVATE_KEY;

import java.io.InputStream;
import java.nio.file.Path;

import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;
import picocli.CommandLine.Spec;

import qorvik.nat.NativeSession;
import qorvik.tool.cli.crypto.Algorithms;
import qorvik.tool.cli.crypto.CryptoCommands;
import qorvik.tool.cli.crypto.DataFiles;
import qorvik.tool.cli.crypto.Der;
import qorvik.tool.cli.crypto.KeyLookup;
import qorvik.tool.cli.crypto.KeyOptions;
import qorvik.tool.cli.crypto.Progress;
import qorvik.tool.cli.crypto.Streams;

/** sign: a file signed with a private key on the token, in parts. */
@Command(name = "sign", description = {"Signs a file with a private key on the token.",
    "The file goes to the token in parts; EdDSA, which signs the message itself, takes it in one part."})
public final class Sign extends KelvaneCommand {
    @Spec
    CommandLine.Model.CommandSpec command;

    @Parameters(index = "0", paramLabel = "FILE", description = "The file to sign.")
    Path input;

    @Mixin
    KeyOptions name;

    @Option(names = {"-o", "--output"}, paramLabel = "FILE",
            description = "Where the signature goes (default: standard output).")
    Path output;

    @Option(names = {"-m", "--mechanism"}, paramLabel = "NAME",
            description = "sha256-rsa-pkcs (RSA default), sha384-/sha512-/sha1-rsa-pkcs, "
                    + "sha256-/sha384-/sha512-rsa-pkcs-pss, ecdsa-sha256 (EC default), ecdsa-sha384/-sha512/-sha1, "
                    + "eddsa (Ed25519 default).")
    String mechanism;

    @Option(names = "--format", paramLabel = "der|raw", defaultValue = "der",
            description = "ECDSA signatures as DER (what openssl reads; the default) or raw r||s.")
    String format;

    @Override
    protected int execute(CommandContext context) throws Exception {
        name.require(command);
        boolean der = CryptoCommands.der(command, format);
        NativeSession session = context.userSession(false);
        KeyLookup.Key key = CryptoCommands.key(session, name, "private key", CKO_PRIVATE_KEY);
        Algorithms.Signing signing = CryptoCommands.signing(command, mechanism, key.keyType());
        byte[] signature;
        if (signing.multiPart()) {
            long size = DataFiles.size(input);
            try (InputStream in = DataFiles.open(input);
                 Progress progress = Progress.onTerminal(context.err(), "sign", size)) {
                signature = new Streams(session).sign(signing.mechanism(), signing.prehash(), key.handle(), in,
                        progress);
            }
        } else {
            byte[] data = DataFiles.readSmall(input, signing.name());
            signature = session.J_Sign(session.getSessionHandle(), true, signing.mechanism(), key.handle(), data, 0,
                    data.length);
        }
        if (signing.ecdsa() && der) {
            signature = Der.ecdsaToDer(signature);
        }
        DataFiles.write(output, context.out(), signature);
        if (output != null) {
            context.out().printf("Signed %s with %s: %d-byte signature in %s%n", input, signing.name(),
                    signature.length, output);
        }
        return ExitCodes.OK;
    }
}
