package qorvik.tool;

import java.io.PrintStream;

import qorvik.CryptokiException;
import qorvik.Info;
import qorvik.nat.NativeSlot;

/**
 * Shows what the bridge sees of a PKCS#11 module: its information, its slots and where it
 * was loaded from.
 *
 * <pre>java -Dkelvane.library=/path/libkelvane.so -jar kelvane-tool.jar MODULE</pre>
 *
 * Exit status: 0 on success, 1 when a Cryptoki call fails, 2 on a usage error.
 *
 * <p>The same report is the kelvane command's {@code info} subcommand
 * ({@code kelvane --module MODULE info}); this class stays for scripts that run it directly.
 */
public final class TokenInfoTool {
    static final int EXIT_OK = 0;
    static final int EXIT_FAILED = 1;
    static final int EXIT_USAGE = 2;

    private TokenInfoTool() {
    }

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    /** Runs the tool with the given arguments and streams; returns the exit status. */
    public static int run(String[] args, PrintStream out, PrintStream err) {
        if (args.length != 1 || args[0].isEmpty()) {
            err.println("usage: TokenInfoTool MODULE");
            err.println("  MODULE  the PKCS#11 module's file (absolute path or library name)");
            return EXIT_USAGE;
        }
        try {
            describe(args[0], out);
            return EXIT_OK;
        } catch (CryptokiException e) {
            err.println(failure(e));
            return EXIT_FAILED;
        }
    }

    /** "FUNCTION failed: code 0xCODE: MESSAGE", the message untrimmed. */
    static String failure(CryptokiException e) {
        return e.getFunctionName() + " failed: code 0x" + Integer.toHexString(e.getCode())
                + ": " + e.getMessage();
    }

    private static void describe(String moduleName, PrintStream out) throws CryptokiException {
        ModuleReport report = new ModuleReport(out);
        try (CryptokiModule module = CryptokiModule.open(moduleName)) {
            Info info = module.info();
            NativeSlot[] all = module.slots(false);
            NativeSlot[] withToken = module.slots(true);
            report.module(module.name(), module.fullPath());
            report.info(info);
            report.slots("Slots", all);
            report.slots("Slots with a token", withToken);
            report.secondAuthentication(module.secondAuthenticationRequired());
        }
    }
}
