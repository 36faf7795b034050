package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The generate-key subcommand (filled in with its options and work by the crypto commands' change). */
@Command(name = "generate-key", description = "Not available yet.")
public final class GenerateKey extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("generate-key is not available yet");
    }
}
