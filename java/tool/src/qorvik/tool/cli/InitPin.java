package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The init-pin subcommand. */
@Command(name = "init-pin", description = "Not available yet.")
public final class InitPin extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("init-pin is not available yet");
    }
}
