package qorvik.tool.cli;

import qorvik.CryptokiException;
import qorvik.nat.NativeSession;

/** The session of the reading commands: logged in when asked or when a PIN is at hand. */
final class Login {
    private Login() {
    }

    static NativeSession session(CommandContext context, boolean login, boolean readWrite)
            throws CryptokiException, CommandFailure {
        if (login || context.userPin().given()) {
            return context.userSession(readWrite);
        }
        return context.openSession(readWrite);
    }
}
