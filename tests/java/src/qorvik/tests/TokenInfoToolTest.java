package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

import qorvik.tool.TokenInfoTool;

/** The command-line tool, run in-process as its main method would run it. */
class TokenInfoToolTest {
    private final ByteArrayOutputStream out = new ByteArrayOutputStream();
    private final ByteArrayOutputStream err = new ByteArrayOutputStream();

    @BeforeAll
    static void loadBridge() {
        TestSetup.loadBridge();
    }

    private int run(String... args) {
        return TokenInfoTool.run(args, new PrintStream(out, true, StandardCharsets.UTF_8),
                new PrintStream(err, true, StandardCharsets.UTF_8));
    }

    @Test
    void reportsTheModuleAndTheTokenSlot() {
        assertEquals(0, run(TestSetup.softhsm()), () -> err.toString(StandardCharsets.UTF_8));
        String report = out.toString(StandardCharsets.UTF_8);

        Pkcs11Tool.ModuleInfo info = Pkcs11Tool.showInfo(TestSetup.softhsm());
        assertTrue(report.contains("[" + String.format("%-32s", info.manufacturer()) + "]"), report);
        assertTrue(report.contains("[" + String.format("%-32s", info.description()) + "]"), report);
        for (Pkcs11Tool.SlotEntry slot : Pkcs11Tool.slots(TestSetup.softhsm(), false)) {
            String id = "0x" + Long.toHexString(slot.id());
            assertTrue(report.contains(id), () -> "slot " + id + " missing from\n" + report);
        }
        assertTrue(report.contains(TestSetup.softhsm()), report);
    }

    @Test
    void reportsAFailedCallAndExitsNonZero() {
        assertNotEquals(0, run("/nonexistent/libmissing.so"));
        String message = err.toString(StandardCharsets.UTF_8);
        assertTrue(message.startsWith("loadCryptokiLibrary failed: code 0x5: error loading pkcs#11 library: "),
                message);
        assertEquals("", out.toString(StandardCharsets.UTF_8));
    }

    @Test
    void rejectsAMissingModuleArgument() {
        assertEquals(2, run());
        assertTrue(err.toString(StandardCharsets.UTF_8).startsWith("usage:"));
    }
}
