package qorvik.tool.cli;

import java.nio.file.Path;

import picocli.CommandLine.Option;

/** Where a new PIN comes from (a picocli mixin); asked twice on the terminal by default. */
public final class NewPinOptions {
    @Option(names = "--new-pin-env", paramLabel = "VARIABLE",
            description = "Read the new PIN from this environment variable.")
    String variable;

    @Option(names = "--new-pin-file", paramLabel = "FILE",
            description = "Read the new PIN from the first line of this file.")
    Path file;

    @Option(names = "--new-pin", paramLabel = "PIN",
            description = "The new PIN itself. Avoid it: the command line is visible to every "
                    + "user in the process list and stays in the shell's history.")
    String literal;

    public PinSource source(String what) {
        return new PinSource(what, literal, variable, file);
    }
}
