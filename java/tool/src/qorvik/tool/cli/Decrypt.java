package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The decrypt subcommand (filled in with its options and work by the crypto commands' change). */
@Command(name = "decrypt", description = "Not available yet.")
public final class Decrypt extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("decrypt is not available yet");
    }
}
