package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The list-slots subcommand. */
@Command(name = "list-slots", description = "Not available yet.")
public final class ListSlots extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("list-slots is not available yet");
    }
}
