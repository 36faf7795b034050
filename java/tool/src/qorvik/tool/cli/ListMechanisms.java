package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The list-mechanisms subcommand. */
@Command(name = "list-mechanisms", description = "Not available yet.")
public final class ListMechanisms extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("list-mechanisms is not available yet");
    }
}
