package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The read-attribute subcommand. */
@Command(name = "read-attribute", description = "Not available yet.")
public final class ReadAttribute extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("read-attribute is not available yet");
    }
}
