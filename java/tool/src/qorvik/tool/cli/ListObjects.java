package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The list-objects subcommand. */
@Command(name = "list-objects", description = "Not available yet.")
public final class ListObjects extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("list-objects is not available yet");
    }
}
