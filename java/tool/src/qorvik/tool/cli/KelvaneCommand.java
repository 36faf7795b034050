package qorvik.tool.cli;

import java.util.concurrent.Callable;

import picocli.CommandLine.ParentCommand;

/**
 * Base of the subcommands: runs {@link #execute} with a context that is closed afterwards (its
 * sessions closed, the module finalised), whatever happens. A CryptokiException or a
 * CommandFailure thrown out of it becomes a line on standard error and exit status 1.
 */
public abstract class KelvaneCommand implements Callable<Integer> {
    @ParentCommand
    Kelvane top;

    /** Runs the subcommand; returns its exit status (see {@link ExitCodes}). */
    protected abstract int execute(CommandContext context) throws Exception;

    @Override
    public final Integer call() throws Exception {
        try (CommandContext context = new CommandContext(top)) {
            return execute(context);
        }
    }
}
