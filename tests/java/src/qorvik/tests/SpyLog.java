package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
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

        /** The rest of the first line that starts with {@code prefix}. */
        String value(String prefix) {
            return lines.stream().filter(l -> l.startsWith(prefix)).map(l -> l.substring(prefix.length()))
                    .findFirst()
                    .orElseThrow(() -> new AssertionError(name + " logged no '" + prefix + "': " + lines));
        }

        /**
         * The buffer the spy dumped after the line starting with {@code prefix} ("[in] pPin[ulPinLen] "):
         * that line ends with "/ length", the hexadecimal dump lines follow it.
         */
        byte[] buffer(String prefix) {
            int header = lines.indexOf(prefix + value(prefix));
            Matcher length = DUMP_LENGTH.matcher(lines.get(header));
            if (!length.find()) {
                throw new AssertionError(name + " logged no length in: " + lines.get(header));
            }
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            for (int i = header + 1; i < lines.size(); i++) {
                Matcher dump = DUMP.matcher(lines.get(i));
                if (!dump.find()) {
                    break;
                }
                for (String hex : dump.group(1).trim().split(" ")) {
                    bytes.write(Integer.parseInt(hex, 16));
                }
            }
            assertEquals(Integer.parseInt(length.group(1)), bytes.size(), () -> name + " dump of " + prefix);
            return bytes.toByteArray();
        }

        /** The CK_ULONG fields the spy printed as "ulName: value", by name. */
        Map<String, Long> counts() {
            Map<String, Long> counts = new HashMap<>();
            for (String line : lines) {
                Matcher m = COUNT.matcher(line);
                if (m.matches()) {
                    counts.put(m.group(1), Long.parseLong(m.group(2)));
                }
            }
            return counts;
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
    private static final Pattern DUMP_LENGTH = Pattern.compile(" / (\\d+)$");
    /** A dump line: offset, then up to 16 bytes in hexadecimal; two blanks part them from the text column. */
    private static final Pattern DUMP =
            Pattern.compile("^\\s+[0-9a-fA-F]{8}  ((?:[0-9a-fA-F]{2} )*[0-9a-fA-F]{2})");
    private static final Pattern COUNT = Pattern.compile("^\\s+(ul\\w+):\\s+(-?\\d+)$");
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
