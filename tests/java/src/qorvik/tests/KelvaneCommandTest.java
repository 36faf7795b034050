package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;
import org.junit.jupiter.api.io.TempDir;

import qorvik.Attribute;
import qorvik.Mechanism;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;
import qorvik.tool.cli.Kelvane;

/**
 * The kelvane command's token subcommands run in-process against SoftHSM2, on a token the suite
 * makes with the command itself: output and exit status of each, cross-checked with pkcs11-tool.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class KelvaneCommandTest {
    static final String LABEL = "kelvane-cli";
    static final String SO_PIN = "so-7531";
    static final String PIN = "user-8642";
    static final String NEW_PIN = "user-9753";

    @TempDir
    static Path work;

    @BeforeAll
    static void loadBridge() {
        TestSetup.loadBridge();
    }

    /** The outcome of one run: exit status and both streams. */
    record Run(int status, String out, String err) {
        @Override
        public String toString() {
            return "exit " + status + "\n--- out\n" + out + "--- err\n" + err;
        }
    }

    static Run kelvane(Map<String, String> env, String... args) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        int status = Kelvane.run(args, new PrintStream(out, true, StandardCharsets.UTF_8),
                new PrintStream(err, true, StandardCharsets.UTF_8), env, null);
        return new Run(status, out.toString(StandardCharsets.UTF_8), err.toString(StandardCharsets.UTF_8));
    }

    /** Runs against SoftHSM2 on the suite's token, the user PIN in KELVANE_PIN. */
    static Run onToken(String... args) {
        List<String> all = new ArrayList<>(List.of("--module", TestSetup.softhsm(), "--token", LABEL));
        all.addAll(List.of(args));
        return kelvane(Map.of("KELVANE_PIN", PIN), all.toArray(new String[0]));
    }

    static Run ok(Run run) {
        assertEquals(0, run.status(), run::toString);
        return run;
    }

    @Test
    @Order(1)
    void infoReportsTheModuleAsPkcs11ToolDoes() {
        Run text = ok(kelvane(Map.of(), "--module", TestSetup.softhsm(), "info"));
        Pkcs11Tool.ModuleInfo info = Pkcs11Tool.showInfo(TestSetup.softhsm());
        List<Pkcs11Tool.SlotEntry> slots = Pkcs11Tool.slots(TestSetup.softhsm(), false);
        assertAll(
                () -> assertTrue(text.out().contains("Module:                 " + TestSetup.softhsm()), text::toString),
                () -> assertTrue(text.out().contains("Manufacturer:           " + info.manufacturer()), text::toString),
                () -> assertTrue(text.out().contains("Description:            " + info.description()), text::toString),
                () -> assertTrue(text.out().contains("Cryptoki version:       " + info.cryptokiMajor() + "."
                        + info.cryptokiMinor()), text::toString),
                () -> assertTrue(text.out().contains("Slots:                  " + slots.size()), text::toString),
                () -> assertEquals("", text.err()));
        Run json = ok(kelvane(Map.of(), "info", "--json", "--module", TestSetup.softhsm()));
        assertTrue(json.out().startsWith("{\"module\":\"" + TestSetup.softhsm() + "\","), json::toString);
        assertTrue(json.out().contains("\"manufacturer\":\"" + info.manufacturer() + "\""), json::toString);
    }

    /** Usage errors exit with 2 and say what is wrong; nothing reaches standard output. */
    @Test
    @Order(2)
    void usageErrorsExitWithTwo() {
        String[][] cases = {
            {"Unmatched argument", "no-such-command"},
            {"not a slot ID", "--slot", "twelve", "list-slots"},
            {"slot ID out of range", "--slot", "0x100000000", "list-slots"},
            {"Missing required option: '--label=LABEL'", "init-token"},
            {"not an attribute: 'CKA_NOPE'", "read-attribute", "--label", "x", "CKA_NOPE"},
            {"not an object class", "list-objects", "--type", "gizmo"},
            {"not hex bytes", "list-objects", "--id", "xyz"},
            {"choose the object with", "--module", TestSetup.softhsm(), "read-attribute", "CKA_LABEL"},
            {"choose the objects with", "--module", TestSetup.softhsm(), "delete"},
            {"Unknown option: '--bogus'", "list-slots", "--bogus"},
        };
        for (String[] c : cases) {
            String[] args = java.util.Arrays.copyOfRange(c, 1, c.length);
            Run run = kelvane(Map.of(), args);
            assertEquals(2, run.status(), () -> String.join(" ", args) + "\n" + run);
            assertTrue(run.err().contains(c[0]), () -> String.join(" ", args) + "\n" + run);
            assertEquals("", run.out(), () -> String.join(" ", args) + "\n" + run);
        }
    }

    @Test
    @Order(3)
    void helpAndVersionExitWithZero() {
        Run help = ok(kelvane(Map.of(), "--help"));
        for (String sub : List.of("info", "list-slots", "list-mechanisms", "list-objects", "init-token",
                "init-pin", "change-pin", "generate-key", "import", "sign", "verify", "digest", "encrypt",
                "decrypt", "read-attribute", "delete")) {
            assertTrue(Pattern.compile("(?m)^  " + Pattern.quote(sub) + " ").matcher(help.out()).find(),
                    () -> sub + " missing from\n" + help.out());
        }
        assertFalse(help.out().contains("generate-completion"), "the completion command is hidden");
        assertTrue(help.out().contains("process list"), "--pin's help says why not to use it");
        Run version = ok(kelvane(Map.of(), "--version"));
        assertTrue(version.out().startsWith("kelvane "), version::toString);
    }

    @Test
    @Order(10)
    void initTokenAndInitPinMakeAUsableToken() throws IOException {
        Path newPin = work.resolve("new-pin");
        Files.writeString(newPin, PIN + "\n");
        // The SO PIN from a variable the option names; the first slot whose token is not initialised.
        Run init = ok(kelvane(Map.of("SO", SO_PIN), "--module", TestSetup.softhsm(), "init-token",
                "--label", LABEL, "--so-pin-env", "SO"));
        assertTrue(init.out().startsWith("Token '" + LABEL + "' initialised in slot "), init::toString);
        Run pin = ok(kelvane(Map.of("SO", SO_PIN), "--module", TestSetup.softhsm(), "--token", LABEL,
                "init-pin", "--so-pin-env", "SO", "--new-pin-file", newPin.toString()));
        assertEquals("User PIN set on token '" + LABEL + "'\n", pin.out());
        // pkcs11-tool logs in with the PIN the command set.
        assertEquals(List.of(), Pkcs11Tool.objects(TestSetup.softhsm(), LABEL, PIN));
        Run none = ok(onToken("list-objects", "--login"));
        assertEquals("No objects.\n", none.out());
    }

    @Test
    @Order(11)
    void listSlotsShowsEverySlotAndToken() {
        Run text = ok(onToken("list-slots"));
        Run json = ok(onToken("list-slots", "--json"));
        List<Pkcs11Tool.SlotEntry> slots = Pkcs11Tool.slots(TestSetup.softhsm(), false);
        for (Pkcs11Tool.SlotEntry slot : slots) {
            String id = slot.id() + " (0x" + Long.toHexString(slot.id()) + ")";
            assertTrue(text.out().contains("Slot " + id + "\n"), () -> id + "\n" + text);
            assertTrue(json.out().contains("{\"id\":" + slot.id() + ","), () -> id + "\n" + json);
            if (slot.label() != null) {
                assertTrue(text.out().contains("Token label:          " + slot.label() + "\n"),
                        () -> slot.label() + "\n" + text);
                assertTrue(json.out().contains("\"label\":\"" + slot.label() + "\""), json::toString);
            }
        }
        assertEquals(slots.size(), count(text.out(), "(?m)^Slot "), text::toString);
        assertTrue(text.out().contains("token_initialized"), text::toString);
        assertTrue(json.out().startsWith("[{") && json.out().endsWith("}]\n"), json::toString);
    }

    /** Each mechanism pkcs11-tool lists, in the same order, with the same key sizes and flags. */
    @Test
    @Order(12)
    void listMechanismsNamesWhatPkcs11ToolNames() throws Exception {
        long slotId = slotId();
        Run text = ok(onToken("list-mechanisms"));
        Run json = ok(onToken("list-mechanisms", "--json"));
        List<Pkcs11Tool.MechanismEntry> expected = Pkcs11Tool.mechanisms(TestSetup.softhsm(), slotId);
        String[] lines = text.out().split("\n");
        assertEquals(expected.size(), lines.length, text::toString);
        // pkcs11-tool's names that are not the standard names with dashes.
        Map<String, String> aliases = Map.of("ECDSA-KEY-PAIR-GEN", "CKM_EC_KEY_PAIR_GEN",
                "ECDH1-DERIVE", "CKM_ECDH1_DERIVE", "EC-EDWARDS-KEY-PAIR-GEN", "CKM_EC_EDWARDS_KEY_PAIR_GEN");
        int beyondInt = 0;
        Pattern line = Pattern.compile("^(\\S+) +keySize (\\d+)\\.\\.(\\d+) +(\\S*)$");
        for (int i = 0; i < lines.length; i++) {
            Pkcs11Tool.MechanismEntry want = expected.get(i);
            if (want.maxKeySize() > Integer.MAX_VALUE) {
                // beyond the int of MechanismInfo: listed with the bridge's refusal
                assertTrue(lines[i].matches("CKM_\\w+ +\\(no information: Check64BitLen failed: "
                        + "Value out of size for 32 bit \\(jint\\)\\)"), lines[i]);
                beyondInt++;
                continue;
            }
            Matcher m = line.matcher(lines[i]);
            assertTrue(m.matches(), lines[i]);
            String name = aliases.getOrDefault(want.name(),
                    "CKM_" + want.name().toUpperCase(Locale.ROOT).replace('-', '_'));
            if (!want.name().startsWith("mechtype-")) {
                assertEquals(name, m.group(1), lines[i]);
            }
            if (want.maxKeySize() != 0) {
                assertEquals(want.minKeySize(), Long.parseLong(m.group(2)), lines[i]);
                assertEquals(want.maxKeySize(), Long.parseLong(m.group(3)), lines[i]);
            }
            long flags = 0;
            for (String flag : m.group(4).isEmpty() ? new String[0] : m.group(4).split(",")) {
                flags |= FLAG_BITS.get(flag);
            }
            assertEquals(Pkcs11Tool.flagBits(want.flags(), Pkcs11Tool.MECHANISM_FLAGS)
                    & ~0x1L, flags & ~0x1L, lines[i] + " vs " + want);
            assertTrue(json.out().contains("\"name\":\"" + m.group(1) + "\""), m.group(1));
        }
        assertTrue(beyondInt > 0, "SoftHSM2's AES key wrap has a maximum key size of 2^31");
        assertTrue(json.out().contains("\"name\":\"CKM_AES_KEY_WRAP\",\"error\":\"Check64BitLen failed: "),
                json::toString);
    }

    /** Our flag names, for reading the text listing back. */
    static final Map<String, Long> FLAG_BITS = Map.ofEntries(Map.entry("hw", 0x1L),
            Map.entry("encrypt", 0x100L), Map.entry("decrypt", 0x200L), Map.entry("digest", 0x400L),
            Map.entry("sign", 0x800L), Map.entry("sign_recover", 0x1000L), Map.entry("verify", 0x2000L),
            Map.entry("verify_recover", 0x4000L), Map.entry("generate", 0x8000L),
            Map.entry("generate_key_pair", 0x10000L), Map.entry("wrap", 0x20000L),
            Map.entry("unwrap", 0x40000L), Map.entry("derive", 0x80000L), Map.entry("ec_f_p", 0x100000L),
            Map.entry("ec_f_2m", 0x200000L), Map.entry("ec_ecparameters", 0x400000L),
            Map.entry("ec_namedcurve", 0x800000L), Map.entry("ec_uncompress", 0x1000000L),
            Map.entry("ec_compress", 0x2000000L));

    /** One object of each kind the listing distinguishes, made through the bridge. */
    record Made(String label, String id, String objectClass, String key) {
    }

    static final List<Made> MADE = List.of(
            new Made("rsa-1024", "a1", "CKO_PUBLIC_KEY", "rsa 1024"),
            new Made("rsa-1024", "a1", "CKO_PRIVATE_KEY", "rsa 1024"),
            new Made("ec-256", "b2", "CKO_PUBLIC_KEY", "ec P-256"),
            new Made("ec-256", "b2", "CKO_PRIVATE_KEY", "ec P-256"),
            new Made("ec-384", "b3", "CKO_PUBLIC_KEY", "ec P-384"),
            new Made("ec-384", "b3", "CKO_PRIVATE_KEY", "ec P-384"),
            new Made("aes-256", "c3", "CKO_SECRET_KEY", "aes 256"),
            new Made("aes-128", "c4", "CKO_SECRET_KEY", "aes 128"),
            new Made("note", "", "CKO_DATA", ""));

    @Test
    @Order(20)
    void listObjectsShowsClassLabelIdKeyTypeAndSize() throws Exception {
        makeObjects();
        Run text = ok(onToken("list-objects"));
        String[] lines = text.out().split("\n");
        assertEquals(MADE.size(), lines.length, text::toString);
        for (Made made : MADE) {
            Pattern row = Pattern.compile("(?m)^" + made.objectClass() + " +'" + made.label()
                    + "' +id" + (made.id().isEmpty() ? "" : " " + made.id())
                    + (made.key().isEmpty() ? "" : " +" + Pattern.quote(made.key())) + "$");
            assertTrue(row.matcher(text.out()).find(), () -> made + "\n" + text);
        }
        // Filters narrow the listing; without a login the private keys are not seen.
        assertEquals(2, ok(onToken("list-objects", "--label", "rsa-1024")).out().split("\n").length);
        assertEquals(1, ok(onToken("list-objects", "--type", "privkey", "--id", "b2")).out().split("\n").length);
        assertEquals(2, ok(onToken("list-objects", "--type", "secrkey")).out().split("\n").length);
        Run publicOnly = ok(kelvane(Map.of(), "--module", TestSetup.softhsm(), "--token", LABEL, "list-objects"));
        assertFalse(publicOnly.out().contains("CKO_PRIVATE_KEY"), publicOnly::toString);
        assertTrue(publicOnly.out().contains("CKO_PUBLIC_KEY"), publicOnly::toString);
        Run none = ok(onToken("list-objects", "--label", "absent"));
        assertEquals("No objects with label 'absent'.\n", none.out());

        Run json = ok(onToken("list-objects", "--json", "--label", "ec-256", "--type", "pubkey"));
        assertTrue(Pattern.compile("^\\[\\{\"class\":\"CKO_PUBLIC_KEY\",\"label\":\"ec-256\","
                + "\"id\":\"b2\",\"keyType\":\"CKK_EC\",\"bits\":256,\"curve\":\"P-256\"\\}\\]\n$")
                .matcher(json.out()).matches(), json::toString);
    }

    @Test
    @Order(21)
    void readAttributeShowsValuesByKind() throws Exception {
        Run text = ok(onToken("read-attribute", "--label", "rsa-1024", "--type", "pubkey",
                "CKA_CLASS", "key_type", "CKA_MODULUS_BITS", "CKA_ID", "CKA_VERIFY", "0x3"));
        assertEquals(String.join("\n",
                "CKA_CLASS:              2 CKO_PUBLIC_KEY",
                "CKA_KEY_TYPE:           0 CKK_RSA",
                "CKA_MODULUS_BITS:       1024",
                "CKA_ID:                 a1",
                "CKA_VERIFY:             true",
                "CKA_LABEL:              " + hex("rsa-1024")) + "\n", text.out());
        Run json = ok(onToken("read-attribute", "--json", "--label", "aes-256", "CKA_VALUE_LEN", "CKA_SENSITIVE"));
        assertTrue(json.out().matches("\\{\"attributes\":\\{\"CKA_VALUE_LEN\":32,"
                + "\"CKA_SENSITIVE\":true\\}\\}\n"), json::toString);

        // The modulus written raw equals the one pkcs11-tool exports.
        Path modulus = work.resolve("modulus.bin");
        ok(onToken("read-attribute", "--label", "rsa-1024", "--type", "pubkey", "--output", modulus.toString(),
                "CKA_MODULUS"));
        Pkcs11Tool.RsaPublicKey key = Pkcs11Tool.rsaPublicKey(TestSetup.softhsm(), LABEL, "a1");
        assertEquals(key.modulus(), new java.math.BigInteger(1, Files.readAllBytes(modulus)));

        // Failures: the module's code by name, exit 1.
        String[][] failures = {
            {"J_GetAttributeValue failed: 0x11 CKR_ATTRIBUTE_SENSITIVE", "--label", "aes-256", "CKA_VALUE"},
            {"J_GetAttributeValue failed: 0x12 CKR_ATTRIBUTE_TYPE_INVALID", "--label", "note", "CKA_MODULUS"},
            {"2 objects with label 'rsa-1024'", "--label", "rsa-1024", "CKA_ID"},
            {"no object with label 'gone'", "--label", "gone", "CKA_ID"},
        };
        for (String[] f : failures) {
            List<String> args = new ArrayList<>(List.of("read-attribute"));
            args.addAll(List.of(f).subList(1, f.length));
            Run run = onToken(args.toArray(new String[0]));
            assertEquals(1, run.status(), run::toString);
            assertTrue(run.err().startsWith("kelvane: " + f[0]), run::toString);
        }
    }

    @Test
    @Order(22)
    void deleteDestroysOnlyWhatWasChosen() {
        Run ambiguous = onToken("delete", "--label", "ec-384");
        assertEquals(1, ambiguous.status(), ambiguous::toString);
        assertTrue(ambiguous.err().contains("2 objects with label 'ec-384': give --all"), ambiguous::toString);
        Run one = ok(onToken("delete", "--label", "ec-384", "--type", "privkey"));
        assertTrue(one.out().matches("Destroyed CKO_PRIVATE_KEY 'ec-384'\n"), one::toString);
        Run all = ok(onToken("delete", "--type", "secrkey", "--all"));
        assertEquals(2, count(all.out(), "(?m)^Destroyed CKO_SECRET_KEY '"), all::toString);
        Run missing = onToken("delete", "--label", "aes-256");
        assertEquals(1, missing.status(), missing::toString);
        assertEquals("kelvane: no object with label 'aes-256'\n", missing.err());
        // pkcs11-tool sees what is left.
        assertEquals(MADE.size() - 3, Pkcs11Tool.objects(TestSetup.softhsm(), LABEL, PIN).size());
    }

    @Test
    @Order(30)
    void changePinAndAWrongPinNameTheCode() throws IOException {
        Path pinFile = work.resolve("pin");
        Files.writeString(pinFile, PIN);
        ok(kelvane(Map.of("NEW", NEW_PIN), "--module", TestSetup.softhsm(), "--token", LABEL,
                "change-pin", "--pin-file", pinFile.toString(), "--new-pin-env", "NEW"));
        Run wrong = onToken("list-objects", "--login");
        assertEquals(1, wrong.status(), wrong::toString);
        assertTrue(wrong.err().equals("kelvane: J_Login failed: 0xA0 CKR_PIN_INCORRECT\n"), wrong::toString);
        assertEquals("", wrong.out());
        ok(kelvane(Map.of("P", NEW_PIN), "--module", TestSetup.softhsm(), "--token", LABEL, "--pin-env", "P",
                "list-objects"));
        // The SO PIN changes too, and the old one no longer works.
        ok(kelvane(Map.of("SO", SO_PIN, "NEW", "so-1111"), "--module", TestSetup.softhsm(), "--token", LABEL,
                "change-pin", "--so", "--so-pin-env", "SO", "--new-pin-env", "NEW"));
        Run oldSo = kelvane(Map.of("SO", SO_PIN), "--module", TestSetup.softhsm(), "--token", LABEL,
                "init-pin", "--so-pin-env", "SO", "--new-pin", "x-2222");
        assertEquals(1, oldSo.status(), oldSo::toString);
        assertTrue(oldSo.err().contains("0xA0 CKR_PIN_INCORRECT"), oldSo::toString);
        // Without a terminal and without a PIN option the command says how to give one.
        Run noPin = kelvane(Map.of(), "--module", TestSetup.softhsm(), "--token", LABEL, "delete", "--label", "x");
        assertEquals(1, noPin.status(), noPin::toString);
        assertTrue(noPin.err().startsWith("kelvane: User PIN needed and no terminal to ask on"), noPin::toString);
        Run unset = kelvane(Map.of(), "--module", TestSetup.softhsm(), "--token", LABEL, "--pin-env", "UNSET_PIN",
                "list-objects");
        assertEquals("kelvane: User PIN: the environment variable UNSET_PIN is not set\n", unset.err());
    }

    /** Failures other than a module's code: the bridge's own text, a missing token. */
    @Test
    @Order(31)
    void otherFailuresExitWithOne() {
        Run missing = kelvane(Map.of(), "--module", "/nonexistent/libmissing.so", "list-slots");
        assertEquals(1, missing.status(), missing::toString);
        assertTrue(missing.err().startsWith("kelvane: loadCryptokiLibrary failed: error loading pkcs#11 library"),
                missing::toString);
        Run noToken = kelvane(Map.of(), "--module", TestSetup.softhsm(), "--token", "no-such-token", "list-mechanisms");
        assertEquals("kelvane: no token labelled 'no-such-token'\n", noToken.err());
        assertEquals(1, noToken.status());
        Run noSlot = kelvane(Map.of(), "--module", TestSetup.softhsm(), "--slot", "0xFFFFFFF0", "init-token",
                "--label", "x", "--so-pin", "y");
        assertEquals("kelvane: no slot with ID 4294967280\n", noSlot.err());
    }

    @AfterAll
    static void checkNothingLeftInitialised() {
        // Every run finalised the module: initialising again succeeds.
        NativeCryptoki cryptoki = new NativeCryptoki();
        try {
            NativeCryptoki.loadCryptokiLibrary(TestSetup.softhsm());
            cryptoki.Initialize(null);
            cryptoki.Finalize(null);
        } catch (qorvik.CryptokiException e) {
            throw new AssertionError("a run left the module initialised: " + e, e);
        }
    }

    private static long slotId() throws Exception {
        NativeCryptoki cryptoki = new NativeCryptoki();
        NativeCryptoki.loadCryptokiLibrary(TestSetup.softhsm());
        cryptoki.Initialize(null);
        try {
            return Integer.toUnsignedLong(TestSetup.tokenSlot(cryptoki, LABEL).getSlotID());
        } finally {
            cryptoki.Finalize(null);
        }
    }

    private static void makeObjects() throws Exception {
        NativeCryptoki cryptoki = new NativeCryptoki();
        NativeCryptoki.loadCryptokiLibrary(TestSetup.softhsm());
        cryptoki.Initialize(null);
        try {
            NativeSlot slot = TestSetup.tokenSlot(cryptoki, LABEL);
            NativeSession s = slot.J_OpenSession(TestSetup.CKF_SERIAL_SESSION | TestSetup.CKF_RW_SESSION,
                    TestSetup.CKU_USER, PIN);
            try {
                s.J_GenerateKeyPair(new Mechanism(0x0), new Attribute[] {
                    attr(TestSetup.CKA_TOKEN, true), attr(TestSetup.CKA_MODULUS_BITS, 1024),
                    attr(TestSetup.CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}), attr(TestSetup.CKA_VERIFY, true),
                    attr(TestSetup.CKA_LABEL, "rsa-1024"), attr(TestSetup.CKA_ID, new byte[] {(byte) 0xa1}),
                }, privateTemplate("rsa-1024", 0xa1));
                byte[][] curves = {
                    java.util.HexFormat.of().parseHex("06082a8648ce3d030107"),
                    java.util.HexFormat.of().parseHex("06052b81040022"),
                };
                String[] labels = {"ec-256", "ec-384"};
                int[] ids = {0xb2, 0xb3};
                for (int i = 0; i < 2; i++) {
                    s.J_GenerateKeyPair(new Mechanism(0x1040), new Attribute[] {
                        attr(TestSetup.CKA_TOKEN, true), attr(TestSetup.CKA_EC_PARAMS, curves[i]),
                        attr(TestSetup.CKA_LABEL, labels[i]), attr(TestSetup.CKA_ID, new byte[] {(byte) ids[i]}),
                    }, privateTemplate(labels[i], ids[i]));
                }
                int[] lengths = {32, 16};
                String[] aes = {"aes-256", "aes-128"};
                for (int i = 0; i < 2; i++) {
                    s.J_GenerateKey(new Mechanism(0x1080), new Attribute[] {
                        attr(TestSetup.CKA_TOKEN, true), attr(TestSetup.CKA_VALUE_LEN, lengths[i]),
                        attr(TestSetup.CKA_SENSITIVE, true), attr(TestSetup.CKA_LABEL, aes[i]),
                        attr(TestSetup.CKA_ID, new byte[] {(byte) (0xc3 + i)}),
                    });
                }
                s.J_CreateObject(new Attribute[] {
                    attr(TestSetup.CKA_CLASS, TestSetup.CKO_DATA), attr(TestSetup.CKA_TOKEN, true),
                    attr(TestSetup.CKA_LABEL, "note"),
                    attr(TestSetup.CKA_VALUE, new byte[] {1, 2, 3}),
                });
            } finally {
                s.J_CloseSession();
            }
        } finally {
            cryptoki.Finalize(null);
        }
    }

    private static Attribute[] privateTemplate(String label, int id) {
        return new Attribute[] {
            attr(TestSetup.CKA_TOKEN, true), attr(TestSetup.CKA_PRIVATE, true), attr(TestSetup.CKA_SIGN, true),
            attr(TestSetup.CKA_SENSITIVE, true), attr(TestSetup.CKA_LABEL, label),
            attr(TestSetup.CKA_ID, new byte[] {(byte) id}),
        };
    }

    private static Attribute attr(int type, Object value) {
        return new Attribute(type, value);
    }

    private static String hex(String text) {
        return java.util.HexFormat.of().formatHex(text.getBytes(StandardCharsets.UTF_8));
    }

    private static int count(String text, String regex) {
        Matcher m = Pattern.compile(regex).matcher(text);
        int n = 0;
        while (m.find()) {
            n++;
        }
        return n;
    }
}
