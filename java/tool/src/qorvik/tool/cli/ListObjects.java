package qorvik.tool.cli;

import java.io.PrintStream;

import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;

import qorvik.nat.NativeSession;

/** The objects of the chosen token: class, label, ID, key type and size. */
@Command(name = "list-objects", description = {"List the token's objects: class, label, ID, "
        + "key type and size.",
    "Private objects are listed after logging in, which happens with --login or when a PIN "
        + "option (or " + Kelvane.PIN_VARIABLE + ") is given."})
public final class ListObjects extends KelvaneCommand {
    @Mixin
    JsonOption json;

    @Mixin
    ObjectSelector selector;

    @Option(names = "--login", description = "Log in as the user to see private objects too.")
    boolean login;

    @Override
    protected int execute(CommandContext context) throws Exception {
        NativeSession session = Login.session(context, login, false);
        long[] handles = selector.find(session);
        PrintStream out = context.out();
        JsonWriter w = json.json() ? new JsonWriter().beginArray() : null;
        for (long handle : handles) {
            ObjectDescription d = ObjectDescription.read(session, handle);
            String objectClass = d.objectClass == null ? "" : Names.objectClass(d.objectClass);
            if (w != null) {
                w.beginObject().field("class", objectClass)
                        .field("label", d.label).field("id", d.id == null ? null : d.idText());
                w.field("keyType", d.keyType == null ? null : Names.keyType(d.keyType));
                w.name("bits");
                if (d.bits < 0) {
                    w.nullValue();
                } else {
                    w.value(d.bits);
                }
                w.field("curve", d.curve).endObject();
            } else {
                out.println(String.format("%-17s %-24s id %-16s %s", objectClass,
                        d.label == null ? "" : "'" + d.label + "'", d.idText(), d.keyText())
                        .stripTrailing());
            }
        }
        if (w != null) {
            out.println(w.endArray());
        } else if (handles.length == 0) {
            out.println("No objects" + (selector.empty() ? "." : " with " + selector.describe() + "."));
        }
        return ExitCodes.OK;
    }
}
