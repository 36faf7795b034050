package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The init-token subcommand. */
@Command(name = "init-token", description = "Not available yet.")
public final class InitToken extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("init-token is not available yet");
    }
}
