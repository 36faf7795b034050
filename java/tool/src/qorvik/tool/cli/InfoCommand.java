package qorvik.tool.cli;

import java.io.PrintStream;

import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;

import qorvik.Info;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSlot;

/** The module as the bridge sees it: where it was loaded from, its information, its slots. */
@Command(name = "info", description = "Show the module: where it was loaded from, its "
        + "information and its slots.")
public final class InfoCommand extends KelvaneCommand {
    @Mixin
    JsonOption json;

    @Override
    protected int execute(CommandContext context) throws Exception {
        NativeCryptoki module = context.cryptoki();
        Info info = module.GetInfo();
        NativeSlot[] all = module.GetSlotList(false);
        NativeSlot[] withToken = module.GetSlotList(true);
        boolean second = module.IsSecondAuthenticationRequired();
        PrintStream out = context.out();
        if (json.json()) {
            JsonWriter w = new JsonWriter().beginObject()
                    .field("module", context.modulePath())
                    .field("cryptokiVersion", info.getCryptokiVersion().toString())
                    .field("manufacturer", info.getManufacturerID().trim())
                    .field("description", info.getLibraryDescription().trim())
                    .field("libraryVersion", info.getLibraryVersion().toString())
                    .field("flags", Integer.toUnsignedLong(info.getFlags()));
            w.name("slots").beginArray();
            for (NativeSlot slot : all) {
                w.value(Integer.toUnsignedLong(slot.getSlotID()));
            }
            w.endArray().name("slotsWithToken").beginArray();
            for (NativeSlot slot : withToken) {
                w.value(Integer.toUnsignedLong(slot.getSlotID()));
            }
            w.endArray().field("secondAuthenticationRequired", second).endObject();
            out.println(w);
            return ExitCodes.OK;
        }
        Text.line(out, "Module", context.modulePath());
        Text.line(out, "Cryptoki version", info.getCryptokiVersion().toString());
        Text.line(out, "Manufacturer", info.getManufacturerID().trim());
        Text.line(out, "Description", info.getLibraryDescription().trim());
        Text.line(out, "Library version", info.getLibraryVersion().toString());
        Text.line(out, "Flags", Names.hex(info.getFlags()));
        Text.line(out, "Slots", Integer.toString(all.length));
        Text.line(out, "Slots with a token", Integer.toString(withToken.length));
        Text.line(out, "Second authentication", second ? "required" : "not required");
        return ExitCodes.OK;
    }
}
