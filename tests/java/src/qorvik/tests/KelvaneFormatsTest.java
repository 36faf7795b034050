package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.HashSet;
import java.util.Map;
import java.util.Set;
import java.util.function.Consumer;
import java.util.function.IntFunction;
import java.util.function.Function;
import java.util.OptionalInt;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.tool.cli.Failures;
import qorvik.tool.cli.JsonWriter;
import qorvik.tool.cli.Names;

/** The kelvane command's error lines, Cryptoki names and JSON output. */
class KelvaneFormatsTest {
    @BeforeAll
    static void loadBridge() {
        TestSetup.loadBridge();
    }

    @Test
    void failuresNameTheOperationTheCodeAndItsName() {
        Object[][] cases = {
            {"J_Login", 0xA0, "PIN INCORRECT                     ", "J_Login failed: 0xA0 CKR_PIN_INCORRECT"},
            {"J_Sign", 0x63, "NO ERROR DESC FOUND               ", "J_Sign failed: 0x63 (unknown)"},
            {"J_Sign", 0x80000001, "NO ERROR DESC FOUND               ",
                "J_Sign failed: 0x80000001 CKR_VENDOR_DEFINED+0x1"},
            {"J_Sign", 0x80000000, "VENDOR DEFINED                    ",
                "J_Sign failed: 0x80000000 CKR_VENDOR_DEFINED"},
            {"J_Encrypt", 0xFFFFFFFF, "NO ERROR DESC FOUND               ",
                "J_Encrypt failed: 0xFFFFFFFF CKR_VENDOR_DEFINED+0x7FFFFFFF"},
            {"C_Initialize", 0x0, "OK                                ", "C_Initialize failed: 0x0 CKR_OK"},
            {"J_Digest", 0x5, "GENERAL ERROR                     ", "J_Digest failed: 0x5 CKR_GENERAL_ERROR"},
            {"J_Sign", 0x5, "Array offset or length out of range",
                "J_Sign failed: Array offset or length out of range"},
            {"loadCryptokiLibrary", 0x5, "error loading pkcs#11 library: x.so",
                "loadCryptokiLibrary failed: error loading pkcs#11 library: x.so"},
        };
        for (Object[] c : cases) {
            CryptokiException e = new CryptokiException((String) c[0], (Integer) c[1], (String) c[2]);
            assertEquals(c[3], Failures.describe(e));
        }
    }

    /** Every code the bridge describes has the name its description spells, and no other code has one. */
    @Test
    void returnValueNamesFollowTheBridgesDescriptions() {
        for (Map.Entry<Integer, String> d : TestSetup.DESCRIPTIONS.entrySet()) {
            assertEquals("CKR_" + d.getValue().replace(' ', '_'), Names.returnValue(d.getKey()));
        }
        int named = 0;
        for (int code = 0; code < 0x300; code++) {
            String name = Names.returnValue(code);
            if (!name.equals("(unknown)")) {
                named++;
                assertTrue(name.matches("CKR_[A-Z0-9_]+"), name);
            }
        }
        assertEquals(82, named, "the bridge describes 82 codes below the vendor range");
    }

    /** A real failure of the bridge itself reads as its text. */
    @Test
    void aBridgeRangeFailureReadsAsItsText() throws Exception {
        NativeCryptoki cryptoki = new NativeCryptoki();
        NativeCryptoki.loadCryptokiLibrary(TestSetup.softhsm());
        cryptoki.Initialize(null);
        try {
            NativeSession s = TestSetup.runnerToken(cryptoki).J_OpenSession(TestSetup.CKF_SERIAL_SESSION);
            try {
                CryptokiException e = assertThrows(CryptokiException.class, () -> s.J_Digest(
                        s.getSessionHandle(), true, new Mechanism(0x250), new byte[4], 2, 10));
                assertEquals("J_Digest failed: " + e.getMessage(), Failures.describe(e));
                assertTrue(e.getMessage().contains("out of range"), e.getMessage());
            } finally {
                s.J_CloseSession();
            }
        } finally {
            cryptoki.Finalize(null);
        }
    }

    /** Every table: names unique, parsed back from the name, without the prefix, in any case and by number. */
    @Test
    void namesParseBackInEveryForm() {
        record Table(String prefix, Map<Integer, String> names, Function<String, OptionalInt> parse,
                IntFunction<String> name) {
        }
        Table[] tables = {
            new Table("CKM_", Names.mechanisms(), Names::parseMechanism, Names::mechanism),
            new Table("CKA_", Names.attributes(), Names::parseAttribute, Names::attribute),
        };
        for (Table t : tables) {
            Set<String> seen = new HashSet<>();
            for (Map.Entry<Integer, String> e : t.names().entrySet()) {
                String name = e.getValue();
                assertTrue(seen.add(name), "twice: " + name);
                assertTrue(name.startsWith(t.prefix()), name);
                assertEquals(name, t.name().apply(e.getKey()));
                for (String form : new String[] {name, name.substring(4), name.toLowerCase(),
                        name.substring(4).toLowerCase().replace('_', '-'), "0x" + Integer.toHexString(e.getKey()),
                        Integer.toUnsignedString(e.getKey())}) {
                    assertEquals(OptionalInt.of(e.getKey()), t.parse().apply(form), form);
                }
            }
            assertTrue(t.parse().apply("NO_SUCH_NAME").isEmpty());
            assertTrue(t.parse().apply("-1").isEmpty());
            assertTrue(t.parse().apply("0x100000000").isEmpty());
        }
        Object[][] shown = {
            {Names.mechanism(0x40), "CKM_SHA256_RSA_PKCS"},
            {Names.mechanism(0x1087), "CKM_AES_GCM"},
            {Names.mechanism(0x9999), "0x9999"},
            {Names.mechanism(0x80000123), "CKM_VENDOR_DEFINED+0x123"},
            {Names.keyType(0x1F), "CKK_AES"},
            {Names.keyType(0x40), "CKK_EC_EDWARDS"},
            {Names.objectClass(3), "CKO_PRIVATE_KEY"},
            {Names.attribute(0x40000600), "CKA_ALLOWED_MECHANISMS"},
            {Names.mechanismFlags(0x2800), "sign,verify"},
            {Names.mechanismFlags(0x10000001), "hw,0x10000000"},
            {Names.mechanismFlags(0), ""},
            {Names.tokenFlags(0x40D), "rng,login_required,user_pin_initialized,token_initialized"},
            {Names.slotFlags(0x7), "token_present,removable_device,hw_slot"},
        };
        for (Object[] s : shown) {
            assertEquals(s[1], s[0]);
        }
    }

    @Test
    void jsonDocumentsAndMisuse() {
        Object[][] documents = {
            {new JsonWriter().beginArray().endArray(), "[]"},
            {new JsonWriter().beginObject().endObject(), "{}"},
            {new JsonWriter().beginObject().field("a", 1).field("b", "x").field("c", true).name("d").nullValue()
                .endObject(), "{\"a\":1,\"b\":\"x\",\"c\":true,\"d\":null}"},
            {new JsonWriter().beginArray().value(-1).beginObject().name("n").beginArray().endArray().endObject()
                .value((String) null).endArray(), "[-1,{\"n\":[]},null]"},
            {new JsonWriter().value("q\"b\\n\nr\rt\tc\u0001\u007f\u00e9\ud83d\ude00"),
                "\"q\\\"b\\\\n\\nr\\rt\\tc\\u0001\\u007f\u00e9\ud83d\ude00\""},
            {new JsonWriter().value("lone \ud800 high"), "\"lone \\ud800 high\""},
            {new JsonWriter().value(4294967295L), "4294967295"},
        };
        for (Object[] d : documents) {
            assertEquals(d[1], d[0].toString());
        }
        Consumer<?>[] misuse = {
            w -> new JsonWriter().beginObject().value(1),
            w -> new JsonWriter().beginArray().name("x"),
            w -> new JsonWriter().beginObject().endArray(),
            w -> new JsonWriter().beginArray().endObject(),
            w -> new JsonWriter().value(1).value(2),
            w -> new JsonWriter().beginObject().name("a").name("b"),
            w -> new JsonWriter().beginArray().toString(),
            w -> new JsonWriter().toString(),
        };
        for (Consumer<?> m : misuse) {
            assertThrows(IllegalStateException.class, () -> m.accept(null));
        }
    }
}
