package qorvik.tool.cli;

import java.util.concurrent.Callable;

import picocli.CommandLine.ParentCommand;

import qorvik.nat.CryptokiLock;

/**
 * Base of the subcommands: runs {@link #execute} with a context that is closed afterwards (its
 * sessions closed, the module finalised), whatever happens. A CryptokiException or a
 * CommandFailure thrown out of it becomes a line on standard error and exit status 1. The run,
 * module load and finalisation included, holds {@link CryptokiLock}.
 */
public abstract class KelvaneCommand implements Callable<Integer> {
    @ParentCommand
    Kelvane top;

    /** Runs the subcommand; returns its exit status (see {@link ExitCodes}). */
    protected abstract int execute(CommandContext context) throws Exception;

    @Override
    public final Integer call() throws Exception {
        // Held again here for a command line made with Kelvane.commandLine and run directly.
        return CryptokiLock.call(() -> {
            try (CommandContext context = new CommandContext(top)) {
                return execute(context);
            }
        });
    }
}
