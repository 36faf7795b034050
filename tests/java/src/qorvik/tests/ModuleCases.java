package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.CKF_DONT_BLOCK;
import static qorvik.tests.TestSetup.CKR_CRYPTOKI_ALREADY_INITIALIZED;
import static qorvik.tests.TestSetup.CKR_CRYPTOKI_NOT_INITIALIZED;
import static qorvik.tests.TestSetup.assertFailsDescribed;
import static qorvik.tests.TestSetup.description;

import java.util.Arrays;
import java.util.List;
import java.util.function.Predicate;
import java.util.stream.Collectors;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

import qorvik.CryptokiException;
import qorvik.Info;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSlot;

/**
 * Library-level cases every backend must pass. Whatever the backend, the answers must be
 * SoftHSM2's as pkcs11-tool reports them: the backends are SoftHSM2 itself and SoftHSM2 behind
 * pkcs11-spy.
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

    static List<Long> ids(NativeSlot[] slots) {
        assertNotNull(slots, "slot list");
        return Arrays.stream(slots).map(s -> Integer.toUnsignedLong(s.getSlotID())).collect(Collectors.toList());
    }
}
