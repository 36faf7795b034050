package qorvik.tool.cli;

import java.io.PrintStream;

import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;

import qorvik.SlotInfo;
import qorvik.TokenInfo;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSlot;

/** Every slot of the module, with the token in it. */
@Command(name = "list-slots", description = "List the module's slots and their tokens.")
public final class ListSlots extends KelvaneCommand {
    private static final int CKF_TOKEN_PRESENT = 0x1;

    @Mixin
    JsonOption json;

    @Option(names = "--with-token", description = "Only the slots that hold a token.")
    boolean withToken;

    @Override
    protected int execute(CommandContext context) throws Exception {
        NativeCryptoki module = context.cryptoki();
        PrintStream out = context.out();
        JsonWriter w = json.json() ? new JsonWriter().beginArray() : null;
        NativeSlot[] slots = module.GetSlotList(withToken);
        for (NativeSlot slot : slots) {
            SlotInfo info = slot.J_GetSlotInfo();
            TokenInfo token = (info.getFlags() & CKF_TOKEN_PRESENT) != 0 ? slot.J_GetTokenInfo()
                    : null;
            if (w != null) {
                w.beginObject()
                        .field("id", Integer.toUnsignedLong(slot.getSlotID()))
                        .field("description", info.getSlotDescription().trim())
                        .field("manufacturer", info.getManufacturerID().trim())
                        .field("flags", Names.slotFlags(info.getFlags()));
                w.name("token");
                if (token == null) {
                    w.nullValue();
                } else {
                    w.beginObject()
                            .field("label", token.getLabel().trim())
                            .field("manufacturer", token.getManufacturerID().trim())
                            .field("model", token.getModel().trim())
                            .field("serial", token.getSerialNumber().trim())
                            .field("flags", Names.tokenFlags(token.getFlags()))
                            .endObject();
                }
                w.endObject();
                continue;
            }
            out.println("Slot " + Text.slotId(slot.getSlotID()));
            Text.line(out, "  Description", info.getSlotDescription().trim());
            Text.line(out, "  Manufacturer", info.getManufacturerID().trim());
            Text.line(out, "  Flags", Names.slotFlags(info.getFlags()));
            if (token == null) {
                Text.line(out, "  Token", "(none)");
            } else {
                Text.line(out, "  Token label", token.getLabel().trim());
                Text.line(out, "  Token manufacturer", token.getManufacturerID().trim());
                Text.line(out, "  Token model", token.getModel().trim());
                Text.line(out, "  Token serial", token.getSerialNumber().trim());
                Text.line(out, "  Token flags", Names.tokenFlags(token.getFlags()));
            }
        }
        if (w != null) {
            out.println(w.endArray());
        } else if (slots.length == 0) {
            out.println("No slots.");
        }
        return ExitCodes.OK;
    }
}
