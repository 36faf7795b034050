package qorvik.tool;

import java.io.PrintStream;

import qorvik.Info;
import qorvik.Version;
import qorvik.nat.NativeSlot;

/** Plain-text description of a module, as printed by the tool. */
final class ModuleReport {
    private final PrintStream out;

    ModuleReport(PrintStream out) {
        this.out = out;
    }

    void module(String name, String fullPath) {
        line("Module", name);
        line("Loaded from", fullPath);
    }

    /** The two text fields are shown in brackets so that their blank padding is visible. */
    void info(Info info) {
        line("Cryptoki version", version(info.getCryptokiVersion()));
        line("Manufacturer", "[" + info.getManufacturerID() + "]");
        line("Description", "[" + info.getLibraryDescription() + "]");
        line("Library version", version(info.getLibraryVersion()));
        line("Flags", String.format("0x%08x", info.getFlags()));
    }

    void slots(String title, NativeSlot[] slots) {
        line(title, Integer.toString(slots.length));
        for (NativeSlot slot : slots) {
            out.println("  " + slotId(slot));
        }
    }

    void secondAuthentication(boolean required) {
        line("Second authentication", required ? "required" : "not required");
    }

    /** A slot ID as the module knows it: unsigned, in decimal and hex. */
    static String slotId(NativeSlot slot) {
        long id = Integer.toUnsignedLong(slot.getSlotID());
        return id + " (0x" + Long.toHexString(id) + ")";
    }

    private static String version(Version v) {
        return v.getMajor() + "." + v.getMinor();
    }

    private void line(String label, String value) {
        out.printf("%-24s%s%n", label + ":", value);
    }
}
