package qorvik.tool.cli;

import java.io.InputStream;
import java.nio.file.Path;

import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;
import picocli.CommandLine.Spec;

import qorvik.Mechanism;
import qorvik.nat.NativeSession;
import qorvik.tool.cli.crypto.Algorithms;
import qorvik.tool.cli.crypto.CryptoCommands;
import qorvik.tool.cli.crypto.DataFiles;
import qorvik.tool.cli.crypto.Progress;
import qorvik.tool.cli.crypto.Streams;

/** digest: a file's digest computed by the token, in parts. */
@Command(name = "digest", description = {"Computes a file's digest on the token; no login needed.",
    "Prints the digest in hex and the file's name, as sha256sum does, or writes it to --output."})
public final class Digest extends KelvaneCommand {
    @Spec
    CommandLine.Model.CommandSpec command;

    @Parameters(index = "0", paramLabel = "FILE", description = "The file to digest.")
    Path input;

    @Option(names = {"-m", "--mechanism"}, paramLabel = "NAME", defaultValue = "sha256",
            description = "sha256 (default), sha384, sha512, sha224, sha1, md5.")
    String mechanism;

    @Option(names = {"-o", "--output"}, paramLabel = "FILE", description = "Write the digest's bytes here.")
    Path output;

    @Override
    protected int execute(CommandContext context) throws Exception {
        int type;
        try {
            type = Algorithms.digest(mechanism);
        } catch (IllegalArgumentException e) {
            throw new CommandLine.ParameterException(command.commandLine(), e.getMessage());
        }
        NativeSession session = context.openSession(false);
        byte[] digest;
        long size = DataFiles.size(input);
        try (InputStream in = DataFiles.open(input);
             Progress progress = Progress.onTerminal(context.err(), "digest", size)) {
            digest = new Streams(session).digest(new Mechanism(type), in, progress);
        }
        if (output != null) {
            DataFiles.write(output, context.out(), digest);
        } else {
            context.out().println(CryptoCommands.hex(digest) + "  " + input);
        }
        return ExitCodes.OK;
    }
}
