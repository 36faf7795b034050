package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The delete subcommand. */
@Command(name = "delete", description = "Not available yet.")
public final class Delete extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("delete is not available yet");
    }
}
