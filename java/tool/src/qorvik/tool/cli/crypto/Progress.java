package qorvik.tool.cli.crypto;

import java.io.PrintStream;
import java.util.Locale;
import java.util.function.LongSupplier;

/**
 * A progress bar on standard error for work over a file: drawn only when standard error is a
 * terminal and only once the work has taken longer than a second, redrawn at most five times a
 * second, finished with a line feed.
 */
public final class Progress implements AutoCloseable {
    static final long DELAY_NANOS = 1_000_000_000L;
    static final long REDRAW_NANOS = 200_000_000L;
    private static final int WIDTH = 30;

    private final PrintStream err;
    private final String label;
    private final long total;
    private final boolean terminal;
    private final LongSupplier clock;
    private final long start;
    private long done;
    private long lastDraw = Long.MIN_VALUE;
    private boolean shown;

    /** A bar that draws only when {@code terminal}, timed by {@code clock} (nanoseconds). */
    public Progress(PrintStream err, String label, long total, boolean terminal, LongSupplier clock) {
        this.err = err;
        this.label = label;
        this.total = total;
        this.terminal = terminal;
        this.clock = clock;
        this.start = clock.getAsLong();
    }

    /** A bar over {@code total} bytes, shown when the process's standard error is a terminal. */
    public static Progress onTerminal(PrintStream err, String label, long total) {
        return new Progress(err, label, total, System.console() != null, System::nanoTime);
    }

    public void advance(long bytes) {
        done += bytes;
        if (!terminal) {
            return;
        }
        long now = clock.getAsLong();
        if (now - start <= DELAY_NANOS || (shown && now - lastDraw < REDRAW_NANOS)) {
            return;
        }
        lastDraw = now;
        draw();
    }

    public boolean shown() {
        return shown;
    }

    private void draw() {
        shown = true;
        int percent = total <= 0 ? 100 : (int) Math.min(100, done * 100 / total);
        int filled = percent * WIDTH / 100;
        err.print(String.format(Locale.ROOT, "\r%s [%s%s] %3d%% %.1f/%.1f MiB", label, "#".repeat(filled),
                " ".repeat(WIDTH - filled), percent, done / 1048576.0, Math.max(total, done) / 1048576.0));
        err.flush();
    }

    @Override
    public void close() {
        if (shown) {
            draw();
            err.println();
        }
    }
}
