package qorvik.tool.cli;

import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Parameters;
import picocli.CommandLine.Spec;

import qorvik.nat.NativeSession;
import qorvik.tool.cli.crypto.KeyGeneration;
import qorvik.tool.cli.crypto.KeyOptions;

/** generate-key: an RSA or EC key pair or an AES key, made on the token. */
@Command(name = "generate-key", description = {"Generates a key pair (rsa:BITS, ec:CURVE) or a secret key "
        + "(aes:BITS) on the token.",
    "Curves: P-256 (prime256v1), P-384, P-521, Ed25519. A key pair without --id gets the SHA-1 "
        + "of its public value (modulus or point) as ID on both keys."})
public final class GenerateKey extends KelvaneCommand {
    @Spec
    CommandLine.Model.CommandSpec command;

    @Parameters(index = "0", paramLabel = "KEY", description = "rsa:BITS, ec:CURVE or aes:BITS.")
    String key;

    @Mixin
    KeyOptions name;

    @Override
    protected int execute(CommandContext context) throws Exception {
        KeyGeneration generation;
        try {
            generation = KeyGeneration.parse(key);
        } catch (IllegalArgumentException e) {
            throw new CommandLine.ParameterException(command.commandLine(), e.getMessage());
        }
        String label = name.label != null ? name.label : key;
        NativeSession session = context.userSession(true);
        KeyGeneration.Generated made = generation.generate(session, label, name.id());
        if (made.handles().length == 1) {
            context.out().printf("Generated %s secret key '%s' (ID %s): handle %d%n", generation.describe(), label,
                    KeyGeneration.hex(made.id()), made.handles()[0]);
        } else {
            context.out().printf("Generated %s key pair '%s' (ID %s): public key handle %d, private key handle %d%n",
                    generation.describe(), label, KeyGeneration.hex(made.id()), made.handles()[0],
                    made.handles()[1]);
        }
        return ExitCodes.OK;
    }
}
