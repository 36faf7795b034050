package qorvik.tests;

import java.io.File;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** What OpenSC's pkcs11-tool reports about a module: the reference the bridge is held to. */
final class Pkcs11Tool {
    record ModuleInfo(int cryptokiMajor, int cryptokiMinor, String manufacturer, String description) {
    }

    /** A slot as listed; {@code label} is null for a slot without an initialised token. */
    record SlotEntry(long id, String label) {
    }

    private static final Pattern CRYPTOKI = Pattern.compile("(?m)^Cryptoki version (\\d+)\\.(\\d+)$");
    private static final Pattern MANUFACTURER = Pattern.compile("(?m)^Manufacturer +(.*)$");
    private static final Pattern LIBRARY = Pattern.compile("(?m)^Library +(.*) \\(ver \\d+\\.\\d+\\)$");
    private static final Pattern SLOT = Pattern.compile("^Slot \\d+ \\(0x([0-9a-f]+)\\):");
    private static final Pattern LABEL = Pattern.compile("^\\s+token label\\s+: (.*)$");

    private Pkcs11Tool() {
    }

    static ModuleInfo showInfo(String module) {
        String out = run(module, "--show-info");
        Matcher cryptoki = find(CRYPTOKI, out);
        return new ModuleInfo(Integer.parseInt(cryptoki.group(1)), Integer.parseInt(cryptoki.group(2)),
                find(MANUFACTURER, out).group(1).trim(), find(LIBRARY, out).group(1).trim());
    }

    /** Every slot ({@code --list-slots}) or those with a token ({@code --list-token-slots}), in order. */
    static List<SlotEntry> slots(String module, boolean withTokenOnly) {
        List<SlotEntry> slots = new ArrayList<>();
        Long id = null;
        String label = null;
        for (String line : run(module, withTokenOnly ? "--list-token-slots" : "--list-slots").split("\n")) {
            Matcher slot = SLOT.matcher(line);
            Matcher tokenLabel = LABEL.matcher(line);
            if (slot.find()) {
                if (id != null) {
                    slots.add(new SlotEntry(id, label));
                }
                id = Long.parseLong(slot.group(1), 16);
                label = null;
            } else if (id != null && tokenLabel.find()) {
                label = tokenLabel.group(1).trim();
            }
        }
        if (id != null) {
            slots.add(new SlotEntry(id, label));
        }
        return slots;
    }

    private static Matcher find(Pattern pattern, String text) {
        Matcher m = pattern.matcher(text);
        if (!m.find()) {
            throw new AssertionError("pkcs11-tool output lacks " + pattern + ":\n" + text);
        }
        return m;
    }

    private static String run(String module, String option) {
        ProcessBuilder pb = new ProcessBuilder("pkcs11-tool", "--module", module, option)
                .redirectErrorStream(true)
                .redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null")));
        try {
            Process p = pb.start();
            String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
            if (!p.waitFor(60, TimeUnit.SECONDS) || p.exitValue() != 0) {
                throw new AssertionError("pkcs11-tool " + option + " failed:\n" + out);
            }
            return out;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new AssertionError("interrupted", e);
        }
    }
}
