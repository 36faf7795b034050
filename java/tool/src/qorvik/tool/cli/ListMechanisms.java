package qorvik.tool.cli;

import java.io.PrintStream;

import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;

import qorvik.CryptokiException;
import qorvik.MechanismInfo;
import qorvik.nat.NativeSlot;

/**
 * The mechanisms of the chosen token's slot: names, key sizes and flags. A mechanism whose
 * information the bridge cannot hand over is listed with the failure instead.
 */
@Command(name = "list-mechanisms", description = "List the mechanisms of the token's slot with "
        + "their key sizes and flags.")
public final class ListMechanisms extends KelvaneCommand {
    @Mixin
    JsonOption json;

    @Override
    protected int execute(CommandContext context) throws Exception {
        NativeSlot slot = context.slot();
        int[] types = slot.J_GetMechanismList();
        PrintStream out = context.out();
        JsonWriter w = json.json() ? new JsonWriter().beginArray() : null;
        for (int type : types) {
            MechanismInfo info;
            try {
                info = slot.J_GetMechanismInfo(type);
            } catch (CryptokiException e) {
                // The listing goes on: a key size beyond the int of MechanismInfo, say, is refused
                // by the bridge for this mechanism only.
                String failure = Failures.describe(e);
                if (w != null) {
                    w.beginObject().field("type", Integer.toUnsignedLong(type))
                            .field("name", Names.mechanism(type)).field("error", failure).endObject();
                } else {
                    out.printf("%-32s (no information: %s)%n", Names.mechanism(type), failure);
                }
                continue;
            }
            if (w != null) {
                w.beginObject()
                        .field("type", Integer.toUnsignedLong(type))
                        .field("name", Names.mechanism(type))
                        .field("minKeySize", Integer.toUnsignedLong(info.getMinKeySize()))
                        .field("maxKeySize", Integer.toUnsignedLong(info.getMaxKeySize()));
                w.name("flags").beginArray();
                String flags = Names.mechanismFlags(info.getFlags());
                for (String flag : flags.isEmpty() ? new String[0] : flags.split(",")) {
                    w.value(flag);
                }
                w.endArray().endObject();
            } else {
                out.printf("%-32s keySize %-14s %s%n", Names.mechanism(type),
                        Integer.toUnsignedString(info.getMinKeySize()) + ".."
                                + Integer.toUnsignedString(info.getMaxKeySize()),
                        Names.mechanismFlags(info.getFlags()));
            }
        }
        if (w != null) {
            out.println(w.endArray());
        }
        return ExitCodes.OK;
    }
}
