package zentrel.keychain.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.junit.jupiter.api.Test;

import zentrel.keychain.KeyChainLib;

/**
 * The event task as a program sees it: started by loadKeyChainLibrary, printing each change of a
 * listed keychain directory or of the configuration file to standard output, stopped by Finalize.
 * The runner sends standard output to a file, which the test reads back.
 */
class EventTaskTest {
    private static final Pattern EVENT = Pattern.compile("Callback called\\. Event: ([^,]*), PID: (-?\\d+)");
    private static final long PATIENCE_MS = 15_000;

    /** The file the process's standard output goes to. */
    private static Path standardOutput() throws IOException {
        Path target = Files.readSymbolicLink(Path.of("/proc/self/fd/1"));
        assertTrue(Files.isRegularFile(target), "run by run-junit.sh: standard output is not a file but " + target);
        return target;
    }

    private static String outputSince(Path output, long offset) throws IOException {
        byte[] all = Files.readAllBytes(output);
        return new String(all, (int) Math.min(offset, all.length), (int) Math.max(all.length - offset, 0),
                StandardCharsets.UTF_8);
    }

    /** The events printed in {@code text}, checking that each names this process. */
    private static List<String> events(String text) {
        List<String> names = new ArrayList<>();
        Matcher matcher = EVENT.matcher(text);
        while (matcher.find()) {
            assertEquals(ProcessHandle.current().pid(), Long.parseLong(matcher.group(2)), matcher.group());
            names.add(matcher.group(1));
        }
        return names;
    }

    /** Waits until {@code event} is printed after {@code offset}, then until the output rests. */
    private static String awaitEvent(Path output, long offset, String event) throws Exception {
        long deadline = System.currentTimeMillis() + PATIENCE_MS;
        while (!events(outputSince(output, offset)).contains(event)) {
            assertTrue(System.currentTimeMillis() < deadline, "no " + event + " printed; printed since: "
                    + outputSince(output, offset));
            Thread.sleep(50);
        }
        long size;
        do {
            size = Files.size(output);
            Thread.sleep(400);
        } while (Files.size(output) != size);
        return outputSince(output, offset);
    }

    @Test
    void theTaskPrintsEventsUntilFinalized() throws Exception {
        Path output = standardOutput();
        Path watched = Keychains.newKeychain("events");
        Path other = Keychains.newKeychain("events-other");
        Keychains.configure("default " + watched, "dynamic " + watched, "dynamic " + other);

        assertEquals(0, KeyChainLib.loadKeyChainLibrary());
        assertEquals(0, KeyChainLib.loadKeyChainLibrary(), "a second start while the task runs");
        try {
            // The task watches once it has registered: drop files until it reports one.
            long offset = Files.size(output);
            long deadline = System.currentTimeMillis() + PATIENCE_MS;
            for (int i = 0; !events(outputSince(output, offset)).contains("kSecAddEvent"); i++) {
                assertTrue(System.currentTimeMillis() < deadline, "the task reports no added file");
                Files.writeString(watched.resolve("probe-" + i), "probe");
                Thread.sleep(200);
            }
            awaitEvent(output, offset, "kSecAddEvent");

            record Step(String what, String event, Action action) {
            }
            Path file = watched.resolve("new.crt");
            List<Step> steps = List.of(
                    new Step("a new file, written in several pieces", "kSecAddEvent", () -> {
                        try (var out = Files.newOutputStream(file)) {
                            for (int i = 0; i < 5; i++) {
                                out.write(Keychains.pattern(1000));
                                out.flush();
                            }
                        }
                    }),
                    new Step("the file changed", "kSecUpdateEvent",
                            () -> Files.write(file, Keychains.pattern(10), StandardOpenOption.APPEND)),
                    new Step("the file removed", "kSecDeleteEvent", () -> Files.delete(file)),
                    new Step("the configuration rewritten", "kSecKeychainListChangedEvent",
                            () -> Keychains.configure("default " + watched, "dynamic " + watched, "dynamic " + other,
                                    "# rewritten")));
            for (Step step : steps) {
                long before = Files.size(output);
                step.action().run();
                String printed = awaitEvent(output, before, step.event());
                assertEquals(List.of(step.event()), events(printed), step.what() + ": printed\n" + printed);
                assertTrue(printed.contains("\nKeychain 0: " + watched), step.what() + ": dynamic list\n" + printed);
                assertTrue(printed.contains("\nKeychain 1: " + other), step.what() + ": dynamic list\n" + printed);
            }
        } finally {
            KeyChainLib.Finalize();
        }

        // Stopped: nothing more is printed.
        long stopped = Files.size(output);
        Files.writeString(watched.resolve("after-finalize"), "late");
        Thread.sleep(1000);
        assertEquals(List.of(), events(outputSince(output, stopped)), "events after Finalize");
        KeyChainLib.Finalize();

        // And it starts again.
        assertEquals(0, KeyChainLib.loadKeyChainLibrary());
        try {
            long offset = Files.size(output);
            long deadline = System.currentTimeMillis() + PATIENCE_MS;
            for (int i = 0; !events(outputSince(output, offset)).contains("kSecAddEvent"); i++) {
                assertTrue(System.currentTimeMillis() < deadline, "the restarted task reports no added file");
                Files.writeString(watched.resolve("again-" + i), "again");
                Thread.sleep(200);
            }
        } finally {
            KeyChainLib.Finalize();
        }
    }

    private interface Action {
        void run() throws IOException;
    }
}
