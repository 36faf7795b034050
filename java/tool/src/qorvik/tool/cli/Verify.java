package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The verify subcommand (filled in with its options and work by the crypto commands' change). */
@Command(name = "verify", description = "Not available yet.")
public final class Verify extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("verify is not available yet");
    }
}
