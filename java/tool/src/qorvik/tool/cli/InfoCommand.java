package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The info subcommand. */
@Command(name = "info", description = "Not available yet.")
public final class InfoCommand extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("info is not available yet");
    }
}
