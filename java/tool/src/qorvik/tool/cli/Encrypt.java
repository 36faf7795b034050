package qorvik.tool.cli;

import static qorvik.tool.cli.crypto.Ck.CKO_PUBLIC_KEY;
import static qorvik.tool.cli.crypto.Ck.CKO_SECRET_KEY;

import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.Path;
import java.security.SecureRandom;

import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;
import picocli.CommandLine.Spec;

import qorvik.nat.NativeSession;
import qorvik.tool.cli.crypto.Algorithms;
import qorvik.tool.cli.crypto.CipherOptions;
import qorvik.tool.cli.crypto.CryptoCommands;
import qorvik.tool.cli.crypto.DataFiles;
import qorvik.tool.cli.crypto.KeyLookup;
import qorvik.tool.cli.crypto.KeyOptions;
import qorvik.tool.cli.crypto.Progress;
import qorvik.tool.cli.crypto.Streams;

/** encrypt: a file encrypted with a secret key (in parts) or an RSA public key (one part) on the token. */
@Command(name = "encrypt", description = {"Encrypts a file with an AES key or an RSA public key on the token.",
    "AES works in parts. Without --iv a random IV is made and written before the ciphertext, where "
        + "decrypt without --iv reads it back; with --iv the output is the ciphertext alone."})
public final class Encrypt extends KelvaneCommand {
    @Spec
    CommandLine.Model.CommandSpec command;

    @Parameters(index = "0", paramLabel = "FILE", description = "The file to encrypt.")
    Path input;

    @Option(names = {"-o", "--output"}, paramLabel = "FILE", required = true, description = "The encrypted file.")
    Path output;

    @Mixin
    KeyOptions name;

    @Mixin
    CipherOptions cipherOptions;

    @Override
    protected int execute(CommandContext context) throws Exception {
        name.require(command);
        NativeSession session = context.userSession(false);
        KeyLookup.Key key = CryptoCommands.key(session, name, "secret or public key", CKO_SECRET_KEY, CKO_PUBLIC_KEY);
        Algorithms.Cipher cipher = CryptoCommands.cipher(command, cipherOptions.mechanism, key.keyType());
        byte[] iv = cipherOptions.iv(command, cipher);
        boolean ivInFile = cipher.ivLength() > 0 && iv == null;
        if (ivInFile) {
            iv = new byte[cipher.ivLength()];
            new SecureRandom().nextBytes(iv);
        }
        boolean done = false;
        try (OutputStream out = DataFiles.create(output, context.out())) {
            if (ivInFile) {
                out.write(iv);
            }
            if (cipher.onePart()) {
                byte[] data = DataFiles.readSmall(input, cipher.name());
                out.write(session.J_Encrypt(session.getSessionHandle(), true, cipher.mechanism(iv, null, 0),
                        key.handle(), data, 0, data.length));
            } else {
                long size = DataFiles.size(input);
                try (InputStream in = DataFiles.open(input);
                     Progress progress = Progress.onTerminal(context.err(), "encrypt", size)) {
                    new Streams(session).encrypt(cipher.mechanism(iv, cipherOptions.aad(command), cipherOptions.tagBits),
                            key.handle(), in, out, progress);
                }
            }
            done = true;
        } finally {
            if (!done) {
                DataFiles.discard(output);
            }
        }
        context.out().printf("Encrypted %s with %s into %s%n", input, cipher.name(), output);
        return ExitCodes.OK;
    }
}
