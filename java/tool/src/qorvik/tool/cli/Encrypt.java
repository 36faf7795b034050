package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The encrypt subcommand (filled in with its options and work by the crypto commands' change). */
@Command(name = "encrypt", description = "Not available yet.")
public final class Encrypt extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("encrypt is not available yet");
    }
}
