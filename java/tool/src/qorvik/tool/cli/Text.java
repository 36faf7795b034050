package qorvik.tool.cli;

import java.io.PrintStream;

/** The text layout of the command's reports. */
final class Text {
    private Text() {
    }

    /** "Label:" padded to 24 columns, then the value. */
    static void line(PrintStream out, String label, String value) {
        out.printf("%-24s%s%n", label + ":", value);
    }

    /** A slot ID as the module knows it: unsigned, in decimal and hex. */
    static String slotId(int id) {
        long unsigned = Integer.toUnsignedLong(id);
        return unsigned + " (0x" + Long.toHexString(unsigned) + ")";
    }
}
