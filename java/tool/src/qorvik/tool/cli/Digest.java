package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The digest subcommand (filled in with its options and work by the crypto commands' change). */
@Command(name = "digest", description = "Not available yet.")
public final class Digest extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("digest is not available yet");
    }
}
