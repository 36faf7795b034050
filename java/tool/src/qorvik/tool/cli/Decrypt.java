package qorvik.tool.cli;

import static qorvik.tool.cli.crypto.Ck.CKO_PRIVATE_KEY;
import static qorvik.tool.cli.crypto.Ck.CKO_SECRET_KEY;

import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.Path;

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

/** decrypt: the reverse of encrypt, with a secret key (in parts) or an RSA private key (one part). */
@Command(name = "decrypt", description = {"Decrypts a file with an AES key or an RSA private key on the token.",
    "Without --iv the IV is read from the start of the file, where encrypt without --iv put it."})
public final class Decrypt extends KelvaneCommand {
    @Spec
    CommandLine.Model.CommandSpec command;

    @Parameters(index = "0", paramLabel = "FILE", description = "The file to decrypt.")
    Path input;

    @Option(names = {"-o", "--output"}, paramLabel = "FILE", required = true, description = "The decrypted file.")
    Path output;

    @Mixin
    KeyOptions name;

    @Mixin
    CipherOptions cipherOptions;

    @Override
    protected int execute(CommandContext context) throws Exception {
        name.require(command);
        NativeSession session = context.userSession(false);
        KeyLookup.Key key = CryptoCommands.key(session, name, "secret or private key", CKO_SECRET_KEY, CKO_PRIVATE_KEY);
        Algorithms.Cipher cipher = CryptoCommands.cipher(command, cipherOptions.mechanism, key.keyType());
        byte[] iv = cipherOptions.iv(command, cipher);
        boolean done = false;
        try (InputStream in = DataFiles.open(input); OutputStream out = DataFiles.create(output, context.out())) {
            if (cipher.ivLength() > 0 && iv == null) {
                iv = in.readNBytes(cipher.ivLength());
                if (iv.length != cipher.ivLength()) {
                    throw new CommandFailure(input + " is shorter than the IV it should start with");
                }
            }
            if (cipher.onePart()) {
                byte[] data = DataFiles.readSmall(input, cipher.name());
                out.write(session.J_Decrypt(session.getSessionHandle(), true, cipher.mechanism(iv, null, 0),
                        key.handle(), data, 0, data.length));
            } else {
                long size = DataFiles.size(input);
                try (Progress progress = Progress.onTerminal(context.err(), "decrypt", size)) {
                    new Streams(session).decrypt(cipher.mechanism(iv, cipherOptions.aad(command), cipherOptions.tagBits),
                            key.handle(), in, out, progress);
                }
            }
            done = true;
        } finally {
            if (!done) {
                DataFiles.discard(output);
            }
        }
        context.out().printf("Decrypted %s with %s into %s%n", input, cipher.name(), output);
        return ExitCodes.OK;
    }
}
