package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The import subcommand (filled in with its options and work by the crypto commands' change). */
@Command(name = "import", description = "Not available yet.")
public final class Import extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("import is not available yet");
    }
}
