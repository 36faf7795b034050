package zentrel.keychain.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static zentrel.keychain.tests.Keychains.INVALID_DOMAIN;
import static zentrel.keychain.tests.Keychains.assertKeyChainException;
import static zentrel.keychain.tests.Keychains.configure;
import static zentrel.keychain.tests.Keychains.configureDefault;
import static zentrel.keychain.tests.Keychains.newKeychain;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

import zentrel.keychain.KeyChain;
import zentrel.keychain.KeyChainException;
import zentrel.keychain.KeyChainLib;

/** Listing keychains by domain and opening one by path, under configuration files the test writes. */
class KeyChainListTest {
    private static final int[] DOMAINS = {1, 2, 3, 4, 5};

    @BeforeAll
    static void load() {
        Keychains.load();
    }

    /** The paths of a list, null elements as null; null for a null list. */
    private static List<String> paths(KeyChain[] keychains) {
        if (keychains == null) {
            return null;
        }
        List<String> paths = new ArrayList<>();
        for (KeyChain keychain : keychains) {
            paths.add(keychain == null ? null : keychain.m_sPath);
        }
        return paths;
    }

    private static List<String> listed(int domain) throws KeyChainException {
        return paths(KeyChainLib.GetKeyChainList(domain));
    }

    @Test
    void eachDomainListsItsLinesInFileOrder() throws KeyChainException {
        Map<String, Integer> domains = Map.of("user", 1, "system", 2, "common", 3, "dynamic", 4, "default", 5);
        Path[] chains = new Path[10];
        for (int i = 0; i < chains.length; i++) {
            chains[i] = newKeychain("order" + i);
        }
        // Domains interleaved, comments and blank lines between them; a keychain may be in
        // several lists.
        String[][] lines = {
            {"default", chains[3].toString()}, {"user", chains[0].toString()}, {"system", chains[1].toString()},
            {"default", chains[9].toString()}, {"user", chains[5].toString()}, {"common", chains[2].toString()},
            {"dynamic", chains[4].toString()}, {"dynamic", chains[6].toString()}, {"default", chains[0].toString()},
            {"user", chains[7].toString()}, {"dynamic", chains[8].toString()},
        };
        List<String> file = new ArrayList<>(List.of("# keychains of this test", ""));
        List<List<String>> expected = new ArrayList<>();
        for (int d = 0; d <= 5; d++) {
            expected.add(new ArrayList<>());
        }
        for (String[] line : lines) {
            file.add(line[0] + " " + line[1]);
            file.add("");
            file.add("#" + line[0] + " /commented/out");
            expected.get(domains.get(line[0])).add(line[1]);
        }
        configure(file.toArray(new String[0]));
        for (int domain : DOMAINS) {
            assertEquals(expected.get(domain), listed(domain), "domain " + domain);
            for (KeyChain keychain : KeyChainLib.GetKeyChainList(domain)) {
                assertNull(keychain.m_sPin, "a listed keychain has no PIN");
            }
        }
    }

    @Test
    void aDomainWithoutLinesAndAMissingFileGiveNull() throws KeyChainException, IOException {
        Path only = newKeychain("only-user");
        configure("user " + only, "# default /not/this");
        assertEquals(List.of(only.toString()), listed(1));
        for (int domain : new int[] {2, 3, 4, 5}) {
            assertNull(KeyChainLib.GetKeyChainList(domain), "domain " + domain + " has no lines");
        }
        configure("# nothing but a comment", "");
        for (int domain : DOMAINS) {
            assertNull(KeyChainLib.GetKeyChainList(domain), "empty file, domain " + domain);
        }
        Files.delete(Keychains.config());
        for (int domain : DOMAINS) {
            assertNull(KeyChainLib.GetKeyChainList(domain), "no file, domain " + domain);
        }
        assertNull(KeyChainLib.GetKeyChain(only.toString()), "no file: no keychain to open");
    }

    @Test
    void linesThatNameNoKeychainAreIgnored() throws KeyChainException {
        Path kept = newKeychain("kept");
        Path tabbed = newKeychain("tabbed");
        Path windows = newKeychain("crlf");
        configure("default " + kept, "Default " + kept, "defaults " + kept, "usr " + kept, "default", "default ",
                "default relative/path", "default ./relative", " default " + kept, "# default " + kept,
                "default\t" + tabbed, "default " + windows + "\r", "user\t \t" + tabbed);
        assertEquals(List.of(kept.toString(), tabbed.toString(), windows.toString()), listed(5));
        assertEquals(List.of(tabbed.toString()), listed(1));
        for (int domain : new int[] {2, 3, 4}) {
            assertNull(KeyChainLib.GetKeyChainList(domain), "domain " + domain);
        }
    }

    @ParameterizedTest
    @ValueSource(ints = {0, 6, 7, -1, 257, 261, 0x10001, Integer.MIN_VALUE, Integer.MAX_VALUE})
    void domainsOutsideOneToFiveThrow(int domain) {
        configureDefault(newKeychain("valid"));
        assertKeyChainException("KeyChainLib.GetKeyChainList", INVALID_DOMAIN, "Invalid Keychain Domain",
                () -> KeyChainLib.GetKeyChainList(domain));
    }

    private static int utf8Length(CharSequence text) {
        return text.toString().getBytes(StandardCharsets.UTF_8).length;
    }

    /**
     * A directory whose path is {@code bytes} UTF-8 bytes long, under the work directory, made of
     * components of at most 100 bytes filled with {@code filler} (and 'y' where it does not fit).
     */
    private static Path pathOfLength(int bytes, String filler) throws IOException {
        StringBuilder path = new StringBuilder(Keychains.work().resolve("long").toString());
        int fillerBytes = utf8Length(filler);
        int remaining = bytes - utf8Length(path);
        while (remaining > 0) {
            int component = Math.min(remaining - 1, 100);
            if (remaining - 1 - component == 1) {
                component--; // leave room for a slash and one byte
            }
            int fillers = component / fillerBytes;
            path.append('/').append(filler.repeat(fillers)).append("y".repeat(component - fillers * fillerBytes));
            remaining -= 1 + component;
        }
        assertEquals(bytes, utf8Length(path), () -> "built path " + path);
        return Files.createDirectories(Path.of(path.toString()));
    }

    @Test
    void aPathOf500BytesOrMoreCannotBeRead() throws KeyChainException, IOException {
        // Paths are read into 500-byte buffers with their terminator: 499 bytes fit, 500 do not.
        // Lengths count bytes, so a path of fewer than 500 characters may still not fit.
        record Row(int bytes, String filler, boolean readable) {
        }
        List<Row> rows = List.of(new Row(400, "a", true), new Row(498, "b", true), new Row(499, "c", true),
                new Row(500, "d", false), new Row(501, "e", false), new Row(1200, "f", false),
                new Row(499, "é", true), new Row(500, "é", false), new Row(510, "日", false));
        Path before = newKeychain("before");
        Path after = newKeychain("after");
        for (Row row : rows) {
            Path path = pathOfLength(row.bytes(), row.filler());
            configureDefault(before, path, after);
            List<String> expected = Arrays.asList(before.toString(), row.readable() ? path.toString() : null,
                    after.toString());
            String what = row.bytes() + " bytes of '" + row.filler() + "'";
            assertEquals(expected, listed(5), what);
            KeyChain opened = KeyChainLib.GetKeyChain(path.toString());
            if (row.readable()) {
                assertNotNull(opened, what + " opens");
                assertEquals(path.toString(), opened.m_sPath, what);
            } else {
                assertNull(opened, what + " cannot be opened by path");
            }
            assertNotNull(KeyChainLib.GetKeyChain(after.toString()), what + ": the keychain after it opens");
        }
    }

    @Test
    void theFileIsReadAnewByEveryCall() throws KeyChainException {
        Path first = newKeychain("first");
        Path second = newKeychain("second");
        for (int round = 0; round < 3; round++) {
            configureDefault(first);
            assertEquals(List.of(first.toString()), listed(5));
            assertNotNull(KeyChainLib.GetKeyChain(first.toString()));
            assertNull(KeyChainLib.GetKeyChain(second.toString()));
            configure("user " + first, "default " + second, "default " + first);
            assertEquals(List.of(second.toString(), first.toString()), listed(5));
            assertEquals(List.of(first.toString()), listed(1));
            assertNotNull(KeyChainLib.GetKeyChain(second.toString()));
        }
    }

    @Test
    void getKeyChainOpensOnlyPathsOfTheDefaultList() {
        Path first = newKeychain("open-first");
        Path second = newKeychain("open-second");
        Path userOnly = newKeychain("open-user-only");
        Path unicode = newKeychain("ключи-é-日本");
        configure("default " + first, "default " + second, "user " + userOnly, "dynamic " + userOnly,
                "default " + unicode);

        // The same Java string comes back in the keychain it opens.
        for (Path listed : List.of(first, second, unicode)) {
            String path = listed.toString();
            KeyChain keychain = KeyChainLib.GetKeyChain(path);
            assertNotNull(keychain, path);
            assertSame(path, keychain.m_sPath, path);
            assertNull(keychain.m_sPin);
        }
        String[] notOpened = {
            userOnly.toString(), first + "/", first + "/.", first.getParent() + "/./" + first.getFileName(),
            first.toString().substring(0, first.toString().length() - 1), first.getFileName().toString(), "",
            "/", Keychains.work().resolve("no-such-keychain").toString(), first.toString().toUpperCase(),
            first + "\u0000",
        };
        for (String path : notOpened) {
            assertNull(KeyChainLib.GetKeyChain(path), "'" + path + "' is no path of the default list");
        }
    }

    @Test
    void nonAsciiPathsComeBackUnchanged() throws KeyChainException {
        List<Path> chains = new ArrayList<>();
        for (String name : List.of("Zoë", "证书", "Ünïcødé ключ", "a b\tc")) {
            chains.add(newKeychain(name));
        }
        configureDefault(chains.toArray(new Path[0]));
        List<String> expected = new ArrayList<>();
        for (Path chain : chains) {
            expected.add(chain.toString());
        }
        assertEquals(expected, listed(5));
        for (String path : expected) {
            assertEquals(path, KeyChainLib.GetKeyChain(path).m_sPath);
        }
    }

    @Test
    void getKeyChainOfNullDoesNotOpenAnything() {
        configureDefault(newKeychain("null-path"));
        KeyChain keychain;
        try {
            keychain = KeyChainLib.GetKeyChain(null);
        } catch (NullPointerException expected) {
            return;
        }
        assertNull(keychain, "a null path opens no keychain");
    }
}
