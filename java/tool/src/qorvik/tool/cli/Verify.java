package qorvik.tool.cli;

import static qorvik.tool.cli.crypto.Ck.CKO_PUBLIC_KEY;
import static qorvik.tool.cli.crypto.Ck.CKR_SIGNATURE_INVALID;
import static qorvik.tool.cli.crypto.Ck.CKR_SIGNATURE_LEN_RANGE;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;

import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;
import picocli.CommandLine.Spec;

import qorvik.CryptokiException;
import qorvik.nat.NativeSession;
import qorvik.tool.cli.crypto.Algorithms;
import qorvik.tool.cli.crypto.CryptoCommands;
import qorvik.tool.cli.crypto.DataFiles;
import qorvik.tool.cli.crypto.Der;
import qorvik.tool.cli.crypto.KeyLookup;
import qorvik.tool.cli.crypto.KeyOptions;
import qorvik.tool.cli.crypto.Progress;
import qorvik.tool.cli.crypto.Streams;

/** verify: a signature over a file checked with a public key on the token; exit 3 when it does not match. */
@Command(name = "verify", description = {"Checks a signature over a file with a public key on the token.",
    "Exit status 3 when the signature does not match the file."})
public final class Verify extends KelvaneCommand {
    @Spec
    CommandLine.Model.CommandSpec command;

    @Parameters(index = "0", paramLabel = "FILE", description = "The signed file.")
    Path input;

    @Option(names = {"-s", "--signature"}, paramLabel = "FILE", required = true, description = "The signature.")
    Path signatureFile;

    @Mixin
    KeyOptions name;

    @Option(names = {"-m", "--mechanism"}, paramLabel = "NAME",
            description = "As for sign; the default follows the key's type.")
    String mechanism;

    @Option(names = "--format", paramLabel = "der|raw", defaultValue = "der",
            description = "ECDSA signatures as DER (the default) or raw r||s.")
    String format;

    @Override
    protected int execute(CommandContext context) throws Exception {
        name.require(command);
        boolean der = CryptoCommands.der(command, format);
        byte[] signature;
        try {
            signature = Files.readAllBytes(signatureFile);
        } catch (IOException e) {
            throw new CommandFailure("cannot read " + signatureFile + ": " + e, e);
        }
        NativeSession session = context.userSession(false);
        KeyLookup.Key key = CryptoCommands.key(session, name, "public key", CKO_PUBLIC_KEY);
        Algorithms.Signing signing = CryptoCommands.signing(command, mechanism, key.keyType());
        if (signing.ecdsa() && der) {
            if (key.curve() == null) {
                throw new CommandFailure("the key's curve is unknown: give the signature with --format raw");
            }
            try {
                signature = Der.ecdsaFromDer(signature, key.curve().fieldBytes());
            } catch (IllegalArgumentException e) {
                return invalid(context, signatureFile + " is not a DER ECDSA signature of this curve");
            }
        }
        try {
            if (signing.multiPart()) {
                long size = DataFiles.size(input);
                try (InputStream in = DataFiles.open(input);
                     Progress progress = Progress.onTerminal(context.err(), "verify", size)) {
                    new Streams(session).verify(signing.mechanism(), signing.prehash(), key.handle(), in, signature,
                            progress);
                }
            } else {
                byte[] data = DataFiles.readSmall(input, signing.name());
                session.J_Verify(session.getSessionHandle(), true, signing.mechanism(), key.handle(), data, 0,
                        data.length, signature, 0, signature.length);
            }
        } catch (CryptokiException e) {
            if (e.getCode() == CKR_SIGNATURE_INVALID || e.getCode() == CKR_SIGNATURE_LEN_RANGE) {
                return invalid(context, Failures.describe(e));
            }
            throw e;
        }
        context.out().println("Signature valid (" + signing.name() + ")");
        return ExitCodes.OK;
    }

    private static int invalid(CommandContext context, String why) {
        context.out().println("Signature invalid");
        context.err().println("kelvane: " + why);
        return ExitCodes.BAD_SIGNATURE;
    }
}
