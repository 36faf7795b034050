package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The change-pin subcommand. */
@Command(name = "change-pin", description = "Not available yet.")
public final class ChangePin extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("change-pin is not available yet");
    }
}
