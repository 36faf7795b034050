package qorvik.tool.cli;

import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Model.CommandSpec;
import picocli.CommandLine.Option;
import picocli.CommandLine.Spec;

import qorvik.nat.NativeSession;

/** Destroys the objects chosen by the selection options, logged in as the user. */
@Command(name = "delete", description = {"Destroy the object chosen by --type, --label or --id "
        + "(logged in as the user).",
    "When several objects match, nothing is destroyed unless --all is given."})
public final class Delete extends KelvaneCommand {
    @Mixin
    ObjectSelector selector;

    @Spec
    CommandSpec command;

    @Option(names = "--all", description = "Destroy every matching object.")
    boolean all;

    @Override
    protected int execute(CommandContext context) throws Exception {
        if (selector.empty()) {
            throw new CommandLine.ParameterException(command.commandLine(),
                    "choose the objects with --type, --label or --id");
        }
        NativeSession session = context.userSession(true);
        long[] found = selector.find(session);
        if (found.length == 0) {
            throw new CommandFailure("no object with " + selector.describe());
        }
        if (found.length > 1 && !all) {
            throw new CommandFailure(found.length + " objects with " + selector.describe()
                    + ": give --all to destroy them all, or narrow the choice");
        }
        for (long handle : found) {
            ObjectDescription d = ObjectDescription.read(session, handle);
            session.J_DestroyObject(handle);
            context.out().println("Destroyed "
                    + (d.objectClass == null ? "object" : Names.objectClass(d.objectClass))
                    + (d.label == null ? "" : " '" + d.label + "'"));
        }
        return ExitCodes.OK;
    }
}
