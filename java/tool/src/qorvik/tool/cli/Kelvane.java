package qorvik.tool.cli;

import java.io.Console;
import java.io.PrintStream;
import java.io.PrintWriter;
import java.nio.file.Path;
import java.util.Map;

import picocli.AutoComplete;
import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.IVersionProvider;
import picocli.CommandLine.Option;
import picocli.CommandLine.ScopeType;

import qorvik.CryptokiException;
import qorvik.nat.CryptokiLock;

/**
 * The kelvane command: the keys and mechanisms of a PKCS#11 token, through the bridge.
 *
 * <pre>kelvane [--module PATH] [--slot ID | --token LABEL] SUBCOMMAND ...</pre>
 *
 * Without --module it uses the user's own SoftHSM2 token (see {@link DefaultToken}). Exit status:
 * 0 success, 1 failure, 2 usage error, 3 a signature that does not verify.
 */
@Command(name = "kelvane", mixinStandardHelpOptions = true, versionProvider = Kelvane.Version.class,
        sortOptions = false, usageHelpAutoWidth = true,
        description = {"Uses the keys and mechanisms of a PKCS#11 token through the Kelvane bridge.",
            "",
            "Without --module it works on your own SoftHSM2 token in "
                + "~/.local/share/kelvane/softhsm (label 'kelvane', user PIN 1234), made on "
                + "first use."},
        subcommands = {
            InfoCommand.class, ListSlots.class, ListMechanisms.class, ListObjects.class,
            InitToken.class, InitPin.class, ChangePin.class,
            GenerateKey.class, Import.class, Sign.class, Verify.class, Digest.class,
            Encrypt.class, Decrypt.class, ReadAttribute.class, Delete.class,
            AutoComplete.GenerateCompletion.class},
        exitCodeListHeading = "%nExit status:%n",
        exitCodeList = {"0:success", "1:a Cryptoki call or a step failed",
            "2:usage error", "3:the signature does not verify"})
public final class Kelvane {
    /** The variable read for the user PIN when no PIN option is given. */
    public static final String PIN_VARIABLE = "KELVANE_PIN";

    @Option(names = "--module", paramLabel = "PATH", scope = ScopeType.INHERIT,
            description = "The PKCS#11 module (a file, or a library name the loader finds). "
                    + "Default: your own SoftHSM2 token.")
    String module;

    @Option(names = "--slot", paramLabel = "ID", scope = ScopeType.INHERIT,
            converter = SlotIdConverter.class,
            description = "The slot to use, by ID (decimal, or hex after 0x).")
    Long slot;

    @Option(names = "--token", paramLabel = "LABEL", scope = ScopeType.INHERIT,
            description = "The token to use, by label.")
    String token;

    @Option(names = "--pin-env", paramLabel = "VARIABLE", scope = ScopeType.INHERIT,
            description = "Read the user PIN from this environment variable (default: "
                    + PIN_VARIABLE + " when set; otherwise the PIN is asked on the terminal).")
    String pinEnv;

    @Option(names = "--pin-file", paramLabel = "FILE", scope = ScopeType.INHERIT,
            description = "Read the user PIN from the first line of this file.")
    Path pinFile;

    @Option(names = "--pin", paramLabel = "PIN", scope = ScopeType.INHERIT,
            description = "The user PIN itself. Avoid it: a PIN on the command line is visible "
                    + "to every user of the machine in the process list and stays in the shell's "
                    + "history. Prefer the prompt, --pin-env or --pin-file.")
    String pin;

    final PrintStream out;
    final PrintStream err;
    final Map<String, String> env;
    final Console console;

    Kelvane(PrintStream out, PrintStream err, Map<String, String> env, Console console) {
        this.out = out;
        this.err = err;
        this.env = env;
        this.console = console;
    }

    public static void main(String[] args) {
        int status = run(args, System.out, System.err, System.getenv(), System.console());
        System.out.flush();
        System.exit(status);
    }

    /** Runs the command in-process with the process's environment and no terminal. */
    public static int run(String[] args, PrintStream out, PrintStream err) {
        return run(args, out, err, System.getenv(), null);
    }

    /**
     * Runs the command with the given arguments, streams, environment (PIN variables, HOME and
     * XDG_DATA_HOME are read from it) and terminal (null for none); returns the exit status.
     * The whole run holds {@link CryptokiLock}: the command loads, initialises and finalises the
     * module, so in a JVM where the security provider shares that module it waits for the
     * provider's native calls and they wait for it.
     */
    public static int run(String[] args, PrintStream out, PrintStream err,
                          Map<String, String> env, Console console) {
        CommandLine line = commandLine(out, err, env, console);
        return CryptokiLock.call(() -> line.execute(args));
    }

    /** The configured command line, for running and for generating completion scripts. */
    public static CommandLine commandLine(PrintStream out, PrintStream err,
                                          Map<String, String> env, Console console) {
        CommandLine line = new CommandLine(new Kelvane(out, err, env, console));
        line.setOut(new PrintWriter(out, true));
        line.setErr(new PrintWriter(err, true));
        line.setExecutionExceptionHandler((e, cmd, parsed) -> {
            err.println("kelvane: " + describe(e));
            return ExitCodes.FAILURE;
        });
        line.getSubcommands().get("generate-completion").getCommandSpec().usageMessage()
                .hidden(true);
        return line;
    }

    /** The one line a failure is reported with. */
    static String describe(Exception e) {
        if (e instanceof CryptokiException c) {
            return Failures.describe(c);
        }
        if (e instanceof CommandFailure) {
            return e.getMessage();
        }
        return e.toString();
    }

    /** The variable the user PIN is read from, or null when none applies. */
    String pinVariable() {
        if (pinEnv != null) {
            return pinEnv;
        }
        return pin == null && pinFile == null && env.containsKey(PIN_VARIABLE) ? PIN_VARIABLE : null;
    }

    /** Slot IDs: unsigned 32-bit, decimal or 0x hex. */
    static final class SlotIdConverter implements CommandLine.ITypeConverter<Long> {
        @Override
        public Long convert(String text) {
            long id;
            try {
                id = Long.decode(text.trim());
            } catch (NumberFormatException e) {
                throw new CommandLine.TypeConversionException("not a slot ID: '" + text + "'");
            }
            if (id < 0 || id > 0xFFFFFFFFL) {
                throw new CommandLine.TypeConversionException("slot ID out of range: " + text);
            }
            return id;
        }
    }

    /** The project's version, from the jar's manifest. */
    static final class Version implements IVersionProvider {
        @Override
        public String[] getVersion() {
            String version = Kelvane.class.getPackage().getImplementationVersion();
            return new String[] {
                "kelvane " + (version == null ? "(unknown version)" : version),
                "Java " + Runtime.version() + " (" + System.getProperty("java.vendor") + ")",
            };
        }
    }
}
