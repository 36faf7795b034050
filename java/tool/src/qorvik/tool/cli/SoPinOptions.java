package qorvik.tool.cli;

import java.nio.file.Path;

import picocli.CommandLine.Option;

/** Where the security officer's PIN comes from (a picocli mixin); asked on the terminal by default. */
public final class SoPinOptions {
    @Option(names = "--so-pin-env", paramLabel = "VARIABLE",
            description = "Read the SO PIN from this environment variable.")
    String variable;

    @Option(names = "--so-pin-file", paramLabel = "FILE",
            description = "Read the SO PIN from the first line of this file.")
    Path file;

    @Option(names = "--so-pin", paramLabel = "PIN",
            description = "The SO PIN itself. Avoid it: the command line is visible to every "
                    + "user in the process list and stays in the shell's history.")
    String literal;

    public PinSource source() {
        return new PinSource("SO PIN", literal, variable, file);
    }
}
