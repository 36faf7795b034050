package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.CKF_DONT_BLOCK;
import static qorvik.tests.TestSetup.CKF_RW_SESSION;
import static qorvik.tests.TestSetup.CKF_SERIAL_SESSION;
import static qorvik.tests.TestSetup.CKR_PIN_INCORRECT;
import static qorvik.tests.TestSetup.CKR_SESSION_HANDLE_INVALID;
import static qorvik.tests.TestSetup.CKU_USER;
import static qorvik.tests.TestSetup.NON_ASCII_PIN;
import static qorvik.tests.TestSetup.SO_PIN;
import static qorvik.tests.TestSetup.USER_PIN;

import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

import qorvik.CryptokiException;
import qorvik.TokenInfo;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
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

    @Test
    void tokenCountsAreTheModulesWithTheSpecialValuesKept() throws CryptokiException, IOException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.runnerToken(cryptoki);
        log.mark();
        TokenInfo info = slot.J_GetTokenInfo();

        SpyLog.Call call = only(log.callsSinceMark(), "C_GetTokenInfo");
        Map<String, Long> logged = call.counts();
        assertAll(
                () -> assertEquals(Long.parseLong(call.value("      flags:").trim(), 16), info.getFlags()),
                () -> assertEquals(logged.get("ulMaxSessionCount"), info.getMaxSessionCount()),
                () -> assertEquals(logged.get("ulMaxRwSessionCount"), info.getMaxRwSessionCount()),
                () -> assertEquals(logged.get("ulRwSessionCount"), info.getRwSessionCount()),
                () -> assertEquals(logged.get("ulMaxPinLen"), info.getMaxPinLen()),
                () -> assertEquals(logged.get("ulMinPinLen"), info.getMinPinLen()),
                () -> assertEquals(logged.get("ulTotalPublicMemory"), info.getTotalPublicMemory()),
                () -> assertEquals(logged.get("ulFreePublicMemory"), info.getFreePublicMemory()),
                () -> assertEquals(logged.get("ulTotalPrivateMemory"), info.getTotalPrivateMemory()),
                () -> assertEquals(logged.get("ulFreePrivateMemory"), info.getFreePrivateMemory()));
        // SoftHSM2 sets no session limit (CK_EFFECTIVELY_INFINITE) and keeps no memory figures
        // (CK_UNAVAILABLE_INFORMATION, all bits set, which the spy prints as -1): both special values are met
        assertEquals(0L, logged.get("ulMaxSessionCount"));
        assertEquals(-1L, logged.get("ulTotalPublicMemory"));
    }

    @Test
    void initTokenPassesTheLabelInAZeroFilledFieldOf32Bytes() throws CryptokiException, IOException {
        cryptoki.Initialize(null);
        String longLabel = "forty bytes of label, of which 32 count!";
        TestSetup.freeSlot(cryptoki).J_InitToken(SO_PIN, "abcde");
        TestSetup.freeSlot(cryptoki).J_InitToken(SO_PIN, longLabel);

        List<SpyLog.Call> inits = log.callsSinceMark().stream().filter(c -> c.name().equals("C_InitToken"))
                .collect(Collectors.toList());
        assertEquals(2, inits.size(), inits::toString);
        byte[] shortField = new byte[32];
        System.arraycopy("abcde".getBytes(StandardCharsets.US_ASCII), 0, shortField, 0, 5);
        assertArrayEquals(shortField, inits.get(0).buffer("[in] pLabel[32] "));
        assertArrayEquals(longLabel.substring(0, 32).getBytes(StandardCharsets.US_ASCII),
                inits.get(1).buffer("[in] pLabel[32] "));
        assertArrayEquals(SO_PIN.getBytes(StandardCharsets.US_ASCII),
                inits.get(0).buffer("[in] pPin[ulPinLen] "));
    }

    @Test
    void pinOutsideAsciiReachesTheModuleAsModifiedUtf8() throws CryptokiException, IOException {
        cryptoki.Initialize(null);
        NativeSession session = TestSetup.freshToken(cryptoki, "spy pin")
                .J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, USER_PIN);
        log.mark();
        session.J_SetPIN(USER_PIN, NON_ASCII_PIN);
        session.J_Logout();
        session.J_Login(CKU_USER, NON_ASCII_PIN);

        byte[] modified = modifiedUtf8(NON_ASCII_PIN);
        // the character outside the BMP takes six bytes (two encoded surrogates) instead of UTF-8's four
        assertEquals(NON_ASCII_PIN.getBytes(StandardCharsets.UTF_8).length + 2, modified.length);
        List<SpyLog.Call> calls = log.callsSinceMark();
        SpyLog.Call setPin = only(calls, "C_SetPIN");
        assertArrayEquals(USER_PIN.getBytes(StandardCharsets.US_ASCII),
                setPin.buffer("[in] pOldPin[ulOldLen] "));
        assertArrayEquals(modified, setPin.buffer("[in] pNewPin[ulNewLen] "));
        SpyLog.Call login = only(calls, "C_Login");
        assertArrayEquals(modified, login.buffer("[in] pPin[ulPinLen] "));
        assertEquals(0, login.returned());
    }

    @Test
    void failedLoginOfOpenSessionClosesTheSessionItOpened() throws CryptokiException, IOException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.freshToken(cryptoki, "spy open");
        log.mark();
        TestSetup.assertFailsDescribed("J_OpenSession", CKR_PIN_INCORRECT,
                () -> slot.J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, "0000"));

        // Java gets no handle of that session, so the bridge closes it: a card allowing one or
        // two sessions must not be left with one nobody can reach.
        List<SpyLog.Call> calls = log.callsSinceMark();
        assertEquals(List.of("C_OpenSession", "C_Login", "C_CloseSession"), names(calls),
                () -> "the session opened for the failed login must be closed: " + calls);
        SpyLog.Call open = calls.get(0);
        assertTrue(open.logged("[in] flags = 0x6"), open::toString);
        assertTrue(calls.get(1).logged("[in] userType = CKU_USER"), calls.get(1)::toString);
        String handle = open.value("[out] *phSession = 0x");
        assertTrue(calls.get(2).logged("[in] hSession = 0x" + handle), calls.get(2)::toString);
        NativeSession closed = new NativeSession(slot, Integer.parseUnsignedInt(handle, 16));
        TestSetup.assertFailsDescribed("J_GetSessionInfo", CKR_SESSION_HANDLE_INVALID,
                closed::J_GetSessionInfo);
    }

    private static SpyLog.Call only(List<SpyLog.Call> calls, String name) {
        List<SpyLog.Call> named = calls.stream().filter(c -> c.name().equals(name)).collect(Collectors.toList());
        assertEquals(1, named.size(), () -> name + " calls in " + calls);
        return named.get(0);
    }

    /** The JVM's modified UTF-8 form of {@code text}, as DataOutput writes it (without its length prefix). */
    private static byte[] modifiedUtf8(String text) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        new DataOutputStream(out).writeUTF(text);
        byte[] withLength = out.toByteArray();
        return Arrays.copyOfRange(withLength, 2, withLength.length);
    }

    private static List<String> names(List<SpyLog.Call> calls) {
        return calls.stream().map(SpyLog.Call::name).collect(Collectors.toList());
    }
}
