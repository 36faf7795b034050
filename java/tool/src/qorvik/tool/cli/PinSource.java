package qorvik.tool.cli;

import java.io.Console;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Map;

/**
 * Where one PIN comes from, in order: the option that gives it on the command line (discouraged,
 * see its help), an environment variable named by an option, a file named by an option (its
 * first line), and last the terminal, asked without echo.
 */
public final class PinSource {
    private final String what;
    private final String literal;
    private final String variable;
    private final Path file;

    /**
     * @param what     what is asked for, as the prompt says it ("User PIN")
     * @param literal  the PIN given on the command line, or null
     * @param variable the environment variable holding it, or null
     * @param file     the file holding it, or null
     */
    public PinSource(String what, String literal, String variable, Path file) {
        this.what = what;
        this.literal = literal;
        this.variable = variable;
        this.file = file;
    }

    /** True when a PIN was named on the command line in some form (the prompt not counted). */
    public boolean given() {
        return literal != null || variable != null || file != null;
    }

    /** The PIN; asks on the terminal when no option named one, and fails when there is none. */
    public String read(Map<String, String> env, Console console) throws CommandFailure {
        if (literal != null) {
            return literal;
        }
        if (variable != null) {
            String value = env.get(variable);
            if (value == null) {
                throw new CommandFailure(what + ": the environment variable " + variable
                        + " is not set");
            }
            return value;
        }
        if (file != null) {
            return firstLine(file);
        }
        if (console == null) {
            throw new CommandFailure(what + " needed and no terminal to ask on: give it with "
                    + "an environment variable or a file (see --help)");
        }
        char[] typed = console.readPassword("%s: ", what);
        if (typed == null) {
            throw new CommandFailure(what + ": end of input at the prompt");
        }
        return new String(typed);
    }

    /** As {@link #read}, a new PIN asked twice on the terminal and compared. */
    public String readNew(Map<String, String> env, Console console) throws CommandFailure {
        String pin = read(env, console);
        if (!given() && console != null) {
            char[] again = console.readPassword("%s again: ", what);
            if (again == null || !pin.equals(new String(again))) {
                throw new CommandFailure(what + ": the two entries differ");
            }
        }
        return pin;
    }

    private String firstLine(Path path) throws CommandFailure {
        String content;
        try {
            content = Files.readString(path, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new CommandFailure(what + ": cannot read " + path + ": " + e.getMessage(), e);
        }
        int end = content.indexOf('\n');
        String line = end < 0 ? content : content.substring(0, end);
        if (line.endsWith("\r")) {
            line = line.substring(0, line.length() - 1);
        }
        return line;
    }
}
