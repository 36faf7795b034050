package qorvik.tool.cli;

import picocli.CommandLine.Command;

/** The sign subcommand (filled in with its options and work by the crypto commands' change). */
@Command(name = "sign", description = "Not available yet.")
public final class Sign extends KelvaneCommand {
    @Override
    protected int execute(CommandContext context) throws CommandFailure {
        throw new CommandFailure("sign is not available yet");
    }
}
