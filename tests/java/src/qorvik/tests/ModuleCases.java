package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.CKF_DONT_BLOCK;
import static qorvik.tests.TestSetup.CKF_RW_SESSION;
import static qorvik.tests.TestSetup.CKF_SERIAL_SESSION;
import static qorvik.tests.TestSetup.CKF_TOKEN_INITIALIZED;
import static qorvik.tests.TestSetup.CKF_USER_PIN_INITIALIZED;
import static qorvik.tests.TestSetup.CKR_CRYPTOKI_ALREADY_INITIALIZED;
import static qorvik.tests.TestSetup.CKR_CRYPTOKI_NOT_INITIALIZED;
import static qorvik.tests.TestSetup.CKR_GENERAL_ERROR;
import static qorvik.tests.TestSetup.CKR_MECHANISM_INVALID;
import static qorvik.tests.TestSetup.CKR_PIN_INCORRECT;
import static qorvik.tests.TestSetup.CKR_SESSION_HANDLE_INVALID;
import static qorvik.tests.TestSetup.CKR_SESSION_PARALLEL_NOT_SUPPORTED;
import static qorvik.tests.TestSetup.CKR_USER_ALREADY_LOGGED_IN;
import static qorvik.tests.TestSetup.CKS_RO_PUBLIC_SESSION;
import static qorvik.tests.TestSetup.CKS_RO_USER_FUNCTIONS;
import static qorvik.tests.TestSetup.CKS_RW_PUBLIC_SESSION;
import static qorvik.tests.TestSetup.CKS_RW_SO_FUNCTIONS;
import static qorvik.tests.TestSetup.CKS_RW_USER_FUNCTIONS;
import static qorvik.tests.TestSetup.CKU_SO;
import static qorvik.tests.TestSetup.CKU_USER;
import static qorvik.tests.TestSetup.NON_ASCII_PIN;
import static qorvik.tests.TestSetup.SO_PIN;
import static qorvik.tests.TestSetup.USER_PIN;
import static qorvik.tests.TestSetup.assertFails;
import static qorvik.tests.TestSetup.assertFailsDescribed;
import static qorvik.tests.TestSetup.description;

import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.function.Predicate;
import java.util.stream.Collectors;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

import qorvik.CryptokiException;
import qorvik.Info;
import qorvik.MechanismInfo;
import qorvik.SessionInfo;
import qorvik.SlotInfo;
import qorvik.TokenInfo;
import qorvik.Version;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/**
 * Library-, slot- and session-level cases every backend must pass. Whatever the backend, the
 * answers must be SoftHSM2's as pkcs11-tool reports them: the backends are SoftHSM2 itself and
 * SoftHSM2 behind pkcs11-spy. Cases that change tokens initialise one of their own in SoftHSM2's
 * free slot.
 */
abstract class ModuleCases {
    protected final NativeCryptoki cryptoki = new NativeCryptoki();

    /** The module file the cases load, an absolute name. */
    protected abstract String moduleName();

    @BeforeAll
    static void loadBridge() {
        TestSetup.loadBridge();
    }

    @BeforeEach
    void loadModule() throws CryptokiException {
        NativeCryptoki.loadCryptokiLibrary(moduleName());
    }

    @AfterEach
    void finalizeModule() {
        TestSetup.finalizeQuietly(cryptoki);
    }

    @Test
    void absoluteNameIsTheFullPath() {
        assertEquals(moduleName(), NativeCryptoki.getLastLoadedLibraryFullPath());
    }

    @Test
    void callsBeforeInitializeFailNotInitialized() {
        assertAll(
                () -> assertFailsDescribed("J_GetInfo", CKR_CRYPTOKI_NOT_INITIALIZED, cryptoki::GetInfo),
                () -> assertFailsDescribed("J_GetSlotList", CKR_CRYPTOKI_NOT_INITIALIZED,
                        () -> cryptoki.GetSlotList(true)),
                () -> assertFailsDescribed("J_WaitForSlotEvent", CKR_CRYPTOKI_NOT_INITIALIZED,
                        () -> cryptoki.WaitForSlotEvent(CKF_DONT_BLOCK, null)),
                () -> assertFailsDescribed("J_Finalize", CKR_CRYPTOKI_NOT_INITIALIZED,
                        () -> cryptoki.Finalize(null)));
    }

    @Test
    void secondInitializeFailsAndModuleStaysInitialized() throws CryptokiException {
        cryptoki.Initialize(null);
        assertFailsDescribed("J_Initialize", CKR_CRYPTOKI_ALREADY_INITIALIZED, () -> cryptoki.Initialize(null));
        assertNotNull(cryptoki.GetInfo());
    }

    @Test
    void initializeAfterFinalizeReloadsTheModule() throws CryptokiException {
        cryptoki.Initialize(null);
        List<Long> before = ids(cryptoki.GetSlotList(false));
        cryptoki.Finalize(null);
        assertFailsDescribed("J_GetSlotList", CKR_CRYPTOKI_NOT_INITIALIZED, () -> cryptoki.GetSlotList(false));

        cryptoki.Initialize(null);
        assertEquals(before, ids(cryptoki.GetSlotList(false)));
        assertEquals(moduleName(), NativeCryptoki.getLastLoadedLibraryFullPath());
    }

    @Test
    void infoMatchesPkcs11ToolWithPaddingKept() throws CryptokiException {
        Pkcs11Tool.ModuleInfo expected = Pkcs11Tool.showInfo(TestSetup.softhsm());
        cryptoki.Initialize(null);
        Info info = cryptoki.GetInfo();
        assertAll(
                () -> assertEquals(String.format("%-32s", expected.manufacturer()), info.getManufacturerID()),
                () -> assertEquals(String.format("%-32s", expected.description()), info.getLibraryDescription()),
                () -> assertEquals(expected.cryptokiMajor(), info.getCryptokiVersion().getMajor()),
                () -> assertEquals(expected.cryptokiMinor(), info.getCryptokiVersion().getMinor()),
                // the bridge's own version, not the module's
                () -> assertEquals(1, info.getLibraryVersion().getMajor()),
                () -> assertEquals(2, info.getLibraryVersion().getMinor()));
    }

    @Test
    void slotListsMatchPkcs11Tool() throws CryptokiException {
        List<Pkcs11Tool.SlotEntry> all = Pkcs11Tool.slots(TestSetup.softhsm(), false);
        List<Pkcs11Tool.SlotEntry> withToken = Pkcs11Tool.slots(TestSetup.softhsm(), true);
        cryptoki.Initialize(null);
        NativeSlot[] bridgeAll = cryptoki.GetSlotList(false);
        NativeSlot[] bridgeWithToken = cryptoki.GetSlotList(true);

        assertEquals(all.stream().map(Pkcs11Tool.SlotEntry::id).collect(Collectors.toList()), ids(bridgeAll));
        assertEquals(withToken.stream().map(Pkcs11Tool.SlotEntry::id).collect(Collectors.toList()),
                ids(bridgeWithToken));
        long tokenSlot = slotWhere(all, s -> TestSetup.tokenLabel().equals(s.label()));
        assertTrue(ids(bridgeWithToken).contains(tokenSlot), "token slot in GetSlotList(true)");
        // SoftHSM2 always offers one more slot, holding an uninitialised token.
        long emptySlot = slotWhere(all, s -> s.label() == null);
        assertTrue(ids(bridgeAll).contains(emptySlot), "empty slot in GetSlotList(false)");
    }

    private static long slotWhere(List<Pkcs11Tool.SlotEntry> slots, Predicate<Pkcs11Tool.SlotEntry> test) {
        return slots.stream().filter(test).findFirst()
                .orElseThrow(() -> new AssertionError("no such slot in pkcs11-tool's list " + slots)).id();
    }

    @Test
    void slotEventFailureReachesJavaDescribed() throws CryptokiException {
        cryptoki.Initialize(null);
        // SoftHSM2 has no slot events and answers with an error code (SpyLogTest checks which).
        CryptokiException e = assertThrows(CryptokiException.class,
                () -> cryptoki.WaitForSlotEvent(CKF_DONT_BLOCK, null));
        assertEquals("J_WaitForSlotEvent", e.getFunctionName());
        assertEquals(description(e.getCode()), e.getMessage());
    }

    @Test
    void secondAuthenticationRequiredWithoutSideFile() {
        assertTrue(cryptoki.IsSecondAuthenticationRequired());
    }

    @Test
    void slotInfoMatchesPkcs11ToolWithPaddingKept() throws CryptokiException {
        List<Pkcs11Tool.SlotDetails> expected = Pkcs11Tool.slotDetails(TestSetup.softhsm(), false);
        cryptoki.Initialize(null);
        NativeSlot[] slots = cryptoki.GetSlotList(false);
        assertEquals(expected.stream().map(Pkcs11Tool.SlotDetails::id).collect(Collectors.toList()), ids(slots));
        for (int i = 0; i < slots.length; i++) {
            Pkcs11Tool.SlotDetails tool = expected.get(i);
            SlotInfo info = slots[i].J_GetSlotInfo();
            assertAll("slot " + slots[i],
                    () -> assertEquals(String.format("%-64s", tool.description()), info.getSlotDescription()),
                    () -> assertEquals(String.format("%-32s", tool.field("manufacturer")),
                            info.getManufacturerID()),
                    () -> assertEquals(Pkcs11Tool.flagBits(tool.field("flags"), Pkcs11Tool.SLOT_FLAGS),
                            info.getFlags()),
                    () -> assertVersion(tool.field("hardware ver"), info.getHardwareVersion()),
                    () -> assertVersion(tool.field("firmware ver"), info.getFirmwareVersion()));
        }
    }

    @Test
    void tokenInfoMatchesPkcs11ToolWithPaddingKept() throws CryptokiException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.runnerToken(cryptoki);
        Pkcs11Tool.SlotDetails tool = toolSlot(Integer.toUnsignedLong(slot.getSlotID()));
        TokenInfo info = slot.J_GetTokenInfo();
        String[] pinLengths = tool.field("pin min/max").split("/");
        assertAll(
                () -> assertEquals(String.format("%-32s", TestSetup.tokenLabel()), info.getLabel()),
                () -> assertEquals(String.format("%-32s", tool.field("token manufacturer")),
                        info.getManufacturerID()),
                () -> assertEquals(String.format("%-16s", tool.field("token model")), info.getModel()),
                () -> assertEquals(String.format("%-16s", tool.field("serial num")), info.getSerialNumber()),
                () -> assertEquals(Pkcs11Tool.flagBits(tool.field("token flags"), Pkcs11Tool.TOKEN_FLAGS),
                        info.getFlags()),
                () -> assertEquals(Integer.parseInt(pinLengths[0]), info.getMinPinLen()),
                () -> assertEquals(Integer.parseInt(pinLengths[1]), info.getMaxPinLen()),
                () -> assertVersion(tool.field("hardware version"), info.getHardwareVersion()),
                () -> assertVersion(tool.field("firmware version"), info.getFirmwareVersion()),
                // YYYYMMDDhhmmss and two zeros: SoftHSM2 has a clock
                () -> assertTrue(info.getUtcTime().matches("\\d{14}00"), info.getUtcTime()));
    }

    @Test
    void mechanismsMatchPkcs11Tool() throws CryptokiException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.runnerToken(cryptoki);
        List<Pkcs11Tool.MechanismEntry> tool = Pkcs11Tool.mechanisms(TestSetup.softhsm(),
                Integer.toUnsignedLong(slot.getSlotID()));
        int[] types = slot.J_GetMechanismList();
        assertEquals(tool.size(), types.length, "mechanism count");

        // pkcs11-tool names the types it knows and shows the others as numbers
        Map<String, Integer> known = Map.of("RSA-PKCS-KEY-PAIR-GEN", 0x0, "SHA256-RSA-PKCS", 0x40,
                "SHA256", 0x250, "ECDSA", 0x1041, "AES-CBC", 0x1082);
        int named = 0;
        int beyondInt = 0;
        for (int i = 0; i < types.length; i++) {
            Pkcs11Tool.MechanismEntry expected = tool.get(i);
            String name = expected.name();
            int type = types[i];
            if (known.containsKey(name) || name.startsWith("mechtype-0x")) {
                assertEquals(known.containsKey(name) ? known.get(name)
                        : Integer.parseUnsignedInt(name.substring("mechtype-0x".length()), 16), type, name);
                named++;
            }
            if (expected.maxKeySize() > Integer.MAX_VALUE) {
                // a maximum of 2^31 does not fit the int of MechanismInfo: the range check refuses it
                assertEquals("Value out of size for 32 bit (jint)",
                        assertFails("Check64BitLen", CKR_GENERAL_ERROR, () -> slot.J_GetMechanismInfo(type))
                                .getMessage(), name);
                beyondInt++;
                continue;
            }
            MechanismInfo info = slot.J_GetMechanismInfo(type);
            assertAll(name,
                    () -> assertEquals(expected.minKeySize(), info.getMinKeySize(), "min key size"),
                    () -> assertEquals(expected.maxKeySize(), info.getMaxKeySize(), "max key size"),
                    () -> assertEquals(Pkcs11Tool.flagBits(expected.flags(), Pkcs11Tool.MECHANISM_FLAGS),
                            info.getFlags(), "flags"));
        }
        assertTrue(named > known.size(), "every known name and at least one bare number compared");
        assertTrue(beyondInt > 0, "SoftHSM2 reports no key size beyond the int range any more");
        assertFailsDescribed("J_GetMechanismInfo", CKR_MECHANISM_INVALID,
                () -> slot.J_GetMechanismInfo(0x7FFFFFF0));
    }

    @Test
    void tokenInitialisedThroughTheBridgeTakesLabelAndPins() throws CryptokiException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.freeSlot(cryptoki);
        slot.J_InitToken(SO_PIN, "fresh");
        TokenInfo token = slot.J_GetTokenInfo();
        // SoftHSM2 stores the zero bytes the bridge put after the label, so the text ends with the label
        assertEquals("fresh", token.getLabel());
        assertEquals(CKF_TOKEN_INITIALIZED,
                token.getFlags() & (CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED));
        String serial = token.getSerialNumber().trim();
        Pkcs11Tool.SlotDetails tool = Pkcs11Tool.slotDetails(TestSetup.softhsm(), true).stream()
                .filter(s -> serial.equals(s.fields().get("serial num"))).findFirst()
                .orElseThrow(() -> new AssertionError("pkcs11-tool does not list token " + serial));
        assertEquals("fresh", tool.field("token label"));

        NativeSession session = slot.J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        session.J_Login(CKU_SO, SO_PIN);
        assertEquals(CKS_RW_SO_FUNCTIONS, session.J_GetSessionInfo().getState());
        session.J_InitPIN(USER_PIN);
        session.J_Logout();
        assertEquals(CKF_USER_PIN_INITIALIZED, slot.J_GetTokenInfo().getFlags() & CKF_USER_PIN_INITIALIZED);
        session.J_Login(CKU_USER, USER_PIN);
        assertEquals(CKS_RW_USER_FUNCTIONS, session.J_GetSessionInfo().getState());
    }

    @Test
    void labelLongerThanItsFieldIsCutAt32Bytes() throws CryptokiException {
        cryptoki.Initialize(null);
        String label = "a label of forty bytes, cut at 32: [...]";
        NativeSlot slot = TestSetup.freeSlot(cryptoki);
        slot.J_InitToken(SO_PIN, label);
        assertEquals(label.substring(0, 32), slot.J_GetTokenInfo().getLabel());
    }

    @Test
    void sessionStatesFollowLoginAndLogout() throws CryptokiException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.freshToken(cryptoki, "states");
        NativeSession ro = slot.J_OpenSession(CKF_SERIAL_SESSION);
        NativeSession rw = slot.J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        SessionInfo info = ro.J_GetSessionInfo();
        assertAll(() -> assertEquals(slot.getSlotID(), info.getSlotID()),
                () -> assertEquals(CKS_RO_PUBLIC_SESSION, info.getState()),
                () -> assertEquals(CKF_SERIAL_SESSION, info.getFlags()),
                () -> assertEquals(0, info.getDeviceError()),
                () -> assertEquals(CKS_RW_PUBLIC_SESSION, rw.J_GetSessionInfo().getState()),
                () -> assertEquals(CKF_SERIAL_SESSION | CKF_RW_SESSION, rw.J_GetSessionInfo().getFlags()));

        // the login belongs to the token: every session of the slot follows it
        rw.J_Login(CKU_USER, USER_PIN);
        assertEquals(CKS_RO_USER_FUNCTIONS, ro.J_GetSessionInfo().getState());
        assertEquals(CKS_RW_USER_FUNCTIONS, rw.J_GetSessionInfo().getState());
        ro.J_Logout();
        assertEquals(CKS_RO_PUBLIC_SESSION, ro.J_GetSessionInfo().getState());
        assertEquals(CKS_RW_PUBLIC_SESSION, rw.J_GetSessionInfo().getState());

        ro.J_CloseSession(); // the SO may not log in while a read-only session is open
        rw.J_Login(CKU_SO, SO_PIN);
        assertEquals(CKS_RW_SO_FUNCTIONS, rw.J_GetSessionInfo().getState());
    }

    @Test
    void sessionAndLoginFailuresCarryTheModulesCode() throws CryptokiException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.freshToken(cryptoki, "failures");
        // without CKF_SERIAL_SESSION: the bridge adds nothing to the flags
        assertFailsDescribed("J_OpenSession", CKR_SESSION_PARALLEL_NOT_SUPPORTED,
                () -> slot.J_OpenSession(CKF_RW_SESSION));
        NativeSession session = slot.J_OpenSession(CKF_SERIAL_SESSION);
        assertFailsDescribed("J_Login", CKR_PIN_INCORRECT, () -> session.J_Login(CKU_USER, "0000"));
        assertEquals(CKS_RO_PUBLIC_SESSION, session.J_GetSessionInfo().getState());
        assertEquals("invalid pPinLen (0)",
                assertFails("J_Login", CKR_GENERAL_ERROR, () -> session.J_Login(CKU_USER, "")).getMessage());
        session.J_Login(CKU_USER, USER_PIN);
        assertFailsDescribed("J_Login", CKR_USER_ALREADY_LOGGED_IN, () -> session.J_Login(CKU_USER, USER_PIN));
    }

    @Test
    void openSessionWithPinLogsInOnlyWhenGivenOne() throws CryptokiException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.freshToken(cryptoki, "open with pin");
        int rw = CKF_SERIAL_SESSION | CKF_RW_SESSION;
        for (String noPin : new String[] {null, ""}) {
            NativeSession session = slot.J_OpenSession(rw, CKU_USER, noPin);
            assertEquals(CKS_RW_PUBLIC_SESSION, session.J_GetSessionInfo().getState(), "no login with " + noPin);
        }
        assertFailsDescribed("J_OpenSession", CKR_PIN_INCORRECT, () -> slot.J_OpenSession(rw, CKU_USER, "0000"));

        NativeSession first = slot.J_OpenSession(rw, CKU_USER, USER_PIN);
        assertSame(slot, first.getSlot());
        assertEquals(CKS_RW_USER_FUNCTIONS, first.J_GetSessionInfo().getState());
        // the module answers the second login with "already logged in": the session comes back all the same
        NativeSession second = slot.J_OpenSession(CKF_SERIAL_SESSION, CKU_USER, USER_PIN);
        assertNotEquals(first.getSessionHandle(), second.getSessionHandle());
        assertEquals(CKS_RO_USER_FUNCTIONS, second.J_GetSessionInfo().getState());
    }

    @Test
    void closedSessionsAreUnknownToTheModule() throws CryptokiException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.freshToken(cryptoki, "close");
        NativeSession closed = slot.J_OpenSession(CKF_SERIAL_SESSION);
        NativeSession ro = slot.J_OpenSession(CKF_SERIAL_SESSION);
        NativeSession rw = slot.J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        NativeSession otherSlot = TestSetup.runnerToken(cryptoki).J_OpenSession(CKF_SERIAL_SESSION);

        closed.J_CloseSession();
        assertFailsDescribed("J_GetSessionInfo", CKR_SESSION_HANDLE_INVALID, closed::J_GetSessionInfo);
        assertFailsDescribed("J_CloseSession", CKR_SESSION_HANDLE_INVALID, closed::J_CloseSession);
        assertEquals(CKS_RO_PUBLIC_SESSION, ro.J_GetSessionInfo().getState());

        slot.J_CloseAllSessions();
        assertFailsDescribed("J_GetSessionInfo", CKR_SESSION_HANDLE_INVALID, ro::J_GetSessionInfo);
        assertFailsDescribed("J_GetSessionInfo", CKR_SESSION_HANDLE_INVALID, rw::J_GetSessionInfo);
        assertEquals(CKS_RO_PUBLIC_SESSION, otherSlot.J_GetSessionInfo().getState());
    }

    @Test
    void pinOutsideAsciiIsSetAndLogsIn() throws CryptokiException {
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.freshToken(cryptoki, "non-ascii pin");
        NativeSession session = slot.J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, USER_PIN);
        assertFailsDescribed("J_SetPIN", CKR_PIN_INCORRECT, () -> session.J_SetPIN("0000", NON_ASCII_PIN));
        session.J_SetPIN(USER_PIN, NON_ASCII_PIN);
        session.J_Logout();

        assertFailsDescribed("J_Login", CKR_PIN_INCORRECT, () -> session.J_Login(CKU_USER, USER_PIN));
        // differs from the PIN only in its last character, a surrogate pair: the whole PIN is compared
        assertFailsDescribed("J_Login", CKR_PIN_INCORRECT,
                () -> session.J_Login(CKU_USER, "p\u00e91\u20ac\ud83d\ude01"));
        assertFailsDescribed("J_Login", CKR_PIN_INCORRECT, () -> session.J_Login(CKU_USER, "p\u00e91\u20ac"));
        session.J_Login(CKU_USER, NON_ASCII_PIN);
        assertEquals(CKS_RW_USER_FUNCTIONS, session.J_GetSessionInfo().getState());
        session.J_Logout();
        assertEquals(CKS_RO_USER_FUNCTIONS,
                slot.J_OpenSession(CKF_SERIAL_SESSION, CKU_USER, NON_ASCII_PIN).J_GetSessionInfo().getState());
    }

    private static Pkcs11Tool.SlotDetails toolSlot(long id) {
        return Pkcs11Tool.slotDetails(TestSetup.softhsm(), false).stream().filter(s -> s.id() == id).findFirst()
                .orElseThrow(() -> new AssertionError("pkcs11-tool lists no slot 0x" + Long.toHexString(id)));
    }

    /** {@code text} is pkcs11-tool's "major.minor". */
    private static void assertVersion(String text, Version version) {
        String[] parts = text.split("\\.");
        assertEquals(Integer.parseInt(parts[0]), version.getMajor(), () -> "major of " + text);
        assertEquals(Integer.parseInt(parts[1]), version.getMinor(), () -> "minor of " + text);
    }

    static List<Long> ids(NativeSlot[] slots) {
        assertNotNull(slots, "slot list");
        return Arrays.stream(slots).map(s -> Integer.toUnsignedLong(s.getSlotID())).collect(Collectors.toList());
    }
}
