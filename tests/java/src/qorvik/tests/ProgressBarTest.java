package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.Locale;
import java.util.stream.Stream;

import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.tool.cli.crypto.Progress;

/**
 * The command's progress bar under a clock the test moves: nothing unless standard error is a
 * terminal and the work outlasts a second, at most five redraws a second, a line feed at the end.
 */
class ProgressBarTest {
    private static final long MS = 1_000_000L;

    /** Terminal or not, the clock reading at each of ten 10-byte steps, and the frames expected. */
    static Stream<Arguments> cases() {
        long[] quick = {0, 100, 200, 300, 400, 500, 600, 700, 800, 900};
        long[] slow = {0, 500, 1001, 1100, 1250, 1300, 1450, 1700, 2500, 2600};
        return Stream.of(
                Arguments.of("not a terminal, slow work", false, slow, ""),
                Arguments.of("terminal, done within a second", true, quick, ""),
                Arguments.of("terminal, slow work", true, slow,
                        frame(30) + frame(50) + frame(70) + frame(80) + frame(90) + frame(100) + "\n"));
    }

    private static String frame(int percent) {
        int filled = percent * 30 / 100;
        return String.format(Locale.ROOT, "\rdigest [%s%s] %3d%% %.1f/%.1f MiB", "#".repeat(filled), " ".repeat(30 - filled),
                percent, percent / 1048576.0, 100 / 1048576.0);
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("cases")
    void drawsOnlyOnATerminalAfterASecond(String name, boolean terminal, long[] millis, String expected) {
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        long[] now = {-1};
        // The first reading is the start; step i reads millis[i].
        Progress progress = new Progress(new PrintStream(err, true, StandardCharsets.UTF_8), "digest", 100, terminal,
                () -> now[0] < 0 ? 0 : millis[(int) now[0]] * MS);
        for (int step = 0; step < millis.length; step++) {
            now[0] = step;
            progress.advance(10);
        }
        progress.close();
        assertEquals(expected, err.toString(StandardCharsets.UTF_8));
    }
}
