package qorvik.tests;

import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * The calls pkcs11-spy logged. Each entry starts with a line "N: C_Name"; its argument lines
 * follow and "Returned:  RV NAME" ends it. The spy appends to the same file on every load, so
 * a test marks the end of the log first and reads only what came after.
 */
final class SpyLog {
    /** One logged call: its function name and the lines it logged. */
    record Call(String name, List<String> lines) {
        boolean logged(String line) {
            return lines.contains(line);
        }

        /** The CK_RV of "Returned:  RV NAME". */
        long returned() {
            for (String line : lines) {
                Matcher m = RETURNED.matcher(line);
                if (m.matches()) {
                    return Long.parseLong(m.group(1));
                }
            }
            throw new AssertionError(name + " logged no result: " + lines);
        }
    }

    private static final Pattern CALL = Pattern.compile("^\\d+: (C_\\w+)$");
    private static final Pattern RETURNED = Pattern.compile("^Returned:\\s+(\\d+)(\\s.*)?$");

    private final Path file;
    private long mark;

    SpyLog(Path file) {
        this.file = file;
    }

    /** Everything logged so far is ignored by {@link #callsSinceMark}. */
    void mark() throws IOException {
        mark = Files.exists(file) ? Files.size(file) : 0;
    }

    List<Call> callsSinceMark() throws IOException {
        byte[] tail;
        try (RandomAccessFile in = new RandomAccessFile(file.toFile(), "r")) {
            in.seek(mark);
            tail = new byte[(int) (in.length() - mark)];
            in.readFully(tail);
        }
        List<Call> calls = new ArrayList<>();
        List<String> lines = null;
        for (String line : new String(tail, StandardCharsets.ISO_8859_1).split("\n")) {
            Matcher m = CALL.matcher(line);
            if (m.matches()) {
                lines = new ArrayList<>();
                calls.add(new Call(m.group(1), lines));
            } else if (lines != null) {
                lines.add(line.stripTrailing());
            }
        }
        return calls;
    }
}
