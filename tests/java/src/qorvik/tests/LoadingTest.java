package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.CKR_GENERAL_ERROR;
import static qorvik.tests.TestSetup.assertFails;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

import qorvik.CryptokiException;
import qorvik.nat.NativeCryptoki;

/** Choosing the module: by path, by bare name, wrongly; and its side file. */
class LoadingTest {
    private final NativeCryptoki cryptoki = new NativeCryptoki();

    @BeforeAll
    static void loadBridge() {
        TestSetup.loadBridge();
    }

    @AfterEach
    void finalizeModule() {
        TestSetup.finalizeQuietly(cryptoki);
    }

    @Test
    void bareNameIsFoundThroughLibraryPathAndReportedWithItsRealPath() throws Exception {
        // run-junit.sh puts SoftHSM2's directory on LD_LIBRARY_PATH
        NativeCryptoki.loadCryptokiLibrary("libsofthsm2.so");
        String expected = Path.of(TestSetup.softhsm()).toRealPath().toString();
        assertEquals(expected, NativeCryptoki.getLastLoadedLibraryFullPath());
        cryptoki.Initialize(null);
        assertNotEquals(0, cryptoki.GetSlotList(false).length);
    }

    @Test
    void missingFileFailsWithTheLoaderText(@TempDir Path dir) {
        String missing = dir.resolve("no-such-module.so").toString();
        CryptokiException e = assertFails("loadCryptokiLibrary", CKR_GENERAL_ERROR,
                () -> NativeCryptoki.loadCryptokiLibrary(missing));
        assertTrue(e.getMessage().startsWith("error loading pkcs#11 library: "), e.getMessage());
        assertTrue(e.getMessage().contains(missing), "loader text names the file: " + e.getMessage());
    }

    @Test
    void nullNameFails() {
        CryptokiException e = assertFails("loadCryptokiLibrary", CKR_GENERAL_ERROR,
                () -> NativeCryptoki.loadCryptokiLibrary(null));
        assertEquals("No cryptoki library specified", e.getMessage());
    }

    @Test
    void failedLoadKeepsThePreviousModuleForInitialize() throws CryptokiException {
        NativeCryptoki.loadCryptokiLibrary(TestSetup.softhsm());
        assertFails("loadCryptokiLibrary", CKR_GENERAL_ERROR,
                () -> NativeCryptoki.loadCryptokiLibrary("/nonexistent/libmissing.so"));
        cryptoki.Initialize(null);
        assertEquals(Pkcs11Tool.showInfo(TestSetup.softhsm()).manufacturer(),
                cryptoki.GetInfo().getManufacturerID().trim());
    }

    @Test
    void sideFileTurnsSecondAuthenticationOffForItsModuleOnly(@TempDir Path dir)
            throws IOException, CryptokiException {
        Path copy = Files.copy(Path.of(TestSetup.softhsm()), dir.resolve("libcopy.so"));
        Files.writeString(dir.resolve("libcopy.so.conf"), "# signature PIN\nDsPinIsCNSPin=true\n");

        NativeCryptoki.loadCryptokiLibrary(copy.toString());
        assertEquals(copy.toString(), NativeCryptoki.getLastLoadedLibraryFullPath());
        assertFalse(cryptoki.IsSecondAuthenticationRequired());

        NativeCryptoki.loadCryptokiLibrary(TestSetup.softhsm());
        assertTrue(cryptoki.IsSecondAuthenticationRequired());
    }
}
