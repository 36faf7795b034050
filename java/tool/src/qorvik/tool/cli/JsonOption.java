package qorvik.tool.cli;

import picocli.CommandLine.Option;

/** The --json option of the list and read subcommands (a picocli mixin). */
public final class JsonOption {
    @Option(names = "--json", description = "Write one JSON document instead of text, for scripts.")
    boolean json;

    public boolean json() {
        return json;
    }
}
