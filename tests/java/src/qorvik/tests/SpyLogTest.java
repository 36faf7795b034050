package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.CKF_DONT_BLOCK;

import java.io.IOException;
import java.util.List;
import java.util.stream.Collectors;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

import qorvik.CryptokiException;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSlot;

/** The calls the bridge makes, as pkcs11-spy saw them on their way to SoftHSM2. */
class SpyLogTest {
    private final NativeCryptoki cryptoki = new NativeCryptoki();
    private final SpyLog log = new SpyLog(TestSetup.spyLog());

    @BeforeAll
    static void loadBridge() {
        TestSetup.loadBridge();
    }

    @BeforeEach
    void loadSpy() throws CryptokiException, IOException {
        NativeCryptoki.loadCryptokiLibrary(TestSetup.spy());
        log.mark();
    }

    @AfterEach
    void finalizeModule() {
        TestSetup.finalizeQuietly(cryptoki);
    }

    @Test
    void libraryCallsReachTheModuleInOrderWithTheirArguments() throws CryptokiException, IOException {
        cryptoki.Initialize(null);
        cryptoki.GetInfo();
        NativeSlot[] slots = cryptoki.GetSlotList(true);
        cryptoki.Finalize(null);

        List<SpyLog.Call> calls = log.callsSinceMark();
        assertEquals(List.of("C_Initialize", "C_GetInfo", "C_GetSlotList", "C_GetSlotList", "C_Finalize"),
                names(calls), calls::toString);

        assertTrue(calls.get(0).logged("[in] pInitArgs = (nil)"), () -> "C_Initialize " + calls.get(0));
        SpyLog.Call count = calls.get(2);
        SpyLog.Call fill = calls.get(3);
        String slotCount = "[out] *pulCount = 0x" + Integer.toHexString(slots.length);
        // the first call only asks for the count: its list pointer is NULL
        assertTrue(count.logged("[in] tokenPresent = 0x1") && count.logged("Count is " + slots.length)
                && count.logged(slotCount), () -> "count query " + count);
        assertTrue(fill.logged("[in] tokenPresent = 0x1") && fill.logged(slotCount), () -> "list fill " + fill);
        for (NativeSlot slot : slots) {
            String line = "Slot " + Integer.toUnsignedString(slot.getSlotID());
            assertTrue(fill.logged(line), () -> line + " in " + fill);
        }
    }

    @Test
    void initializeAfterFinalizeOpensTheModuleAgain() throws CryptokiException, IOException {
        cryptoki.Initialize(null);
        cryptoki.Finalize(null);
        cryptoki.Initialize(null);
        // Finalize dropped the module: Initialize opens it again and fetches its function list
        assertEquals(List.of("C_Initialize", "C_Finalize", "C_GetFunctionList", "C_Initialize"),
                names(log.callsSinceMark()));
    }

    @Test
    void slotEventFailureCarriesTheModulesCode() throws CryptokiException, IOException {
        cryptoki.Initialize(null);
        CryptokiException e = assertThrows(CryptokiException.class,
                () -> cryptoki.WaitForSlotEvent(CKF_DONT_BLOCK, null));

        SpyLog.Call wait = log.callsSinceMark().stream()
                .filter(c -> c.name().equals("C_WaitForSlotEvent")).findFirst()
                .orElseThrow(() -> new AssertionError("no C_WaitForSlotEvent logged"));
        assertTrue(wait.logged("[in] flags = 0x1"), wait::toString);
        assertEquals(wait.returned(), Integer.toUnsignedLong(e.getCode()));
        assertEquals(TestSetup.description(e.getCode()), e.getMessage());
    }

    private static List<String> names(List<SpyLog.Call> calls) {
        return calls.stream().map(SpyLog.Call::name).collect(Collectors.toList());
    }
}
