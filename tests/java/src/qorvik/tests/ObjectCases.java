package qorvik.tests;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.CKA_APPLICATION;
import static qorvik.tests.TestSetup.CKK_EC;
import static qorvik.tests.TestSetup.CKA_EC_PARAMS;
import static qorvik.tests.TestSetup.CKA_SUBJECT;
import static qorvik.tests.TestSetup.CKA_CERTIFICATE_TYPE;
import static qorvik.tests.TestSetup.CKC_X_509;
import static qorvik.tests.TestSetup.CKO_CERTIFICATE;
import static qorvik.tests.TestSetup.CKA_CLASS;
import static qorvik.tests.TestSetup.CKA_EC_POINT;
import static qorvik.tests.TestSetup.CKA_EXTRACTABLE;
import static qorvik.tests.TestSetup.CKA_ID;
import static qorvik.tests.TestSetup.CKA_ISSUER;
import static qorvik.tests.TestSetup.CKA_OBJECT_ID;
import static qorvik.tests.TestSetup.CKA_URL;
import static qorvik.tests.TestSetup.CKA_KEY_TYPE;
import static qorvik.tests.TestSetup.CKA_LABEL;
import static qorvik.tests.TestSetup.CKA_MODULUS;
import static qorvik.tests.TestSetup.CKA_MODULUS_BITS;
import static qorvik.tests.TestSetup.CKA_PRIVATE;
import static qorvik.tests.TestSetup.CKA_PUBLIC_EXPONENT;
import static qorvik.tests.TestSetup.CKA_PUBLIC_KEY_INFO;
import static qorvik.tests.TestSetup.CKA_SENSITIVE;
import static qorvik.tests.TestSetup.CKA_TOKEN;
import static qorvik.tests.TestSetup.CKA_VALUE;
import static qorvik.tests.TestSetup.CKA_VALUE_LEN;
import static qorvik.tests.TestSetup.CKF_RW_SESSION;
import static qorvik.tests.TestSetup.CKF_SERIAL_SESSION;
import static qorvik.tests.TestSetup.CKK_AES;
import static qorvik.tests.TestSetup.CKK_RSA;
import static qorvik.tests.TestSetup.CKO_DATA;
import static qorvik.tests.TestSetup.CKO_PRIVATE_KEY;
import static qorvik.tests.TestSetup.CKO_PUBLIC_KEY;
import static qorvik.tests.TestSetup.CKO_SECRET_KEY;
import static qorvik.tests.TestSetup.CKR_ATTRIBUTE_SENSITIVE;
import static qorvik.tests.TestSetup.CKR_ATTRIBUTE_TYPE_INVALID;
import static qorvik.tests.TestSetup.CKR_GENERAL_ERROR;
import static qorvik.tests.TestSetup.CKR_OBJECT_HANDLE_INVALID;
import static qorvik.tests.TestSetup.CKU_USER;
import static qorvik.tests.TestSetup.USER_PIN;
import static qorvik.tests.TestSetup.assertAttribute;
import static qorvik.tests.TestSetup.assertFails;
import static qorvik.tests.TestSetup.assertFailsDescribed;
import static qorvik.tests.TestSetup.pattern;

import java.math.BigInteger;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HashSet;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.stream.Collectors;
import java.util.stream.IntStream;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.CryptokiObject;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/**
 * Creating, copying, reading, changing, destroying and finding token objects, as a Java program
 * does it, on every backend (SoftHSM2 itself and SoftHSM2 behind pkcs11-spy). Each case works on
 * a token of its own, initialised in SoftHSM2's free slot; objects made by pkcs11-tool are held
 * to what pkcs11-tool and openssl report about them.
 */
abstract class ObjectCases {
    /** An accented letter (two bytes in UTF-8) and an emoji outside the BMP (four bytes). */
    private static final String NON_ASCII_LABEL = "caf\u00e9 \ud83d\ude00 notes";
    private static final String TOOL_KEY_LABEL = "tool rsa";
    private static final String TOOL_DATA_LABEL = "tool data";
    private static final byte[] TOOL_DATA = "written by pkcs11-tool".getBytes(UTF_8);
    private static final byte[] TOOL_KEY_ID = {1};
    private static final AtomicInteger TOKENS = new AtomicInteger();

    protected final NativeCryptoki cryptoki = new NativeCryptoki();

    /** The module file the cases load, an absolute name. */
    protected abstract String moduleName();

    @BeforeAll
    static void loadBridge() {
        TestSetup.loadBridge();
    }

    @BeforeEach
    void initializeModule() throws CryptokiException {
        NativeCryptoki.loadCryptokiLibrary(moduleName());
        cryptoki.Initialize(null);
    }

    @AfterEach
    void finalizeModule() {
        TestSetup.finalizeQuietly(cryptoki);
    }

    @Test
    void dataObjectIsCreatedCopiedChangedAndDestroyed() throws CryptokiException {
        NativeSession session = userSession(TestSetup.freshToken(cryptoki, uniqueLabel("data")));
        byte[] value = pattern(300);
        long data = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_DATA),
                new Attribute(CKA_TOKEN, true), new Attribute(CKA_PRIVATE, false),
                new Attribute(CKA_LABEL, NON_ASCII_LABEL), new Attribute(CKA_APPLICATION, "kelvane"),
                new Attribute(CKA_VALUE, value)});

        // the label reached the module as standard UTF-8 and comes back as those bytes
        byte[] label = NON_ASCII_LABEL.getBytes(UTF_8);
        assertAttribute(CKA_LABEL, label, session.J_GetAttributeValue(data, CKA_LABEL));
        assertRead(session.J_GetAttributeValue(data,
                        new int[] {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_APPLICATION, CKA_VALUE}),
                CKA_CLASS, CKO_DATA, CKA_TOKEN, true, CKA_PRIVATE, false,
                CKA_APPLICATION, "kelvane".getBytes(UTF_8), CKA_VALUE, value);
        // SoftHSM2 keeps no object sizes: CK_UNAVAILABLE_INFORMATION, all bits set, narrowed to an int
        assertEquals(-1, session.J_GetObjectSize(data));

        // a type the object lacks: the one-type form fails, the array form gives null and reads on
        assertFailsDescribed("J_GetAttributeValue", CKR_ATTRIBUTE_TYPE_INVALID,
                () -> session.J_GetAttributeValue(data, CKA_KEY_TYPE));
        assertRead(session.J_GetAttributeValue(data, new int[] {CKA_APPLICATION, CKA_KEY_TYPE, CKA_VALUE}),
                CKA_APPLICATION, "kelvane".getBytes(UTF_8), CKA_KEY_TYPE, null, CKA_VALUE, value);

        long copy = session.J_CopyObject(data, new Attribute[] {new Attribute(CKA_LABEL, "the copy")});
        assertNotEquals(data, copy);
        assertRead(session.J_GetAttributeValue(copy, new int[] {CKA_LABEL, CKA_VALUE}),
                CKA_LABEL, "the copy".getBytes(UTF_8), CKA_VALUE, value);
        assertAttribute(CKA_LABEL, label, session.J_GetAttributeValue(data, CKA_LABEL));

        String renamed = "\u00fcber " + NON_ASCII_LABEL;
        // SoftHSM2 lets a data object's label change, not its application
        session.J_SetAttributeValue(data, new Attribute[] {new Attribute(CKA_LABEL, renamed)});
        assertRead(session.J_GetAttributeValue(data, new int[] {CKA_LABEL, CKA_APPLICATION}),
                CKA_LABEL, renamed.getBytes(UTF_8), CKA_APPLICATION, "kelvane".getBytes(UTF_8));
        assertHandles(Set.of(data), session.J_FindObjects(new Attribute[] {new Attribute(CKA_LABEL, renamed)}));

        session.J_DestroyObject(copy);
        session.J_DestroyObject(data);
        assertAll(
                () -> assertFailsDescribed("J_GetAttributeValue", CKR_OBJECT_HANDLE_INVALID,
                        () -> session.J_GetAttributeValue(data, CKA_LABEL)),
                () -> assertFailsDescribed("J_GetAttributeValue", CKR_OBJECT_HANDLE_INVALID,
                        () -> session.J_GetAttributeValue(copy, new int[] {CKA_LABEL, CKA_VALUE})),
                () -> assertFailsDescribed("J_GetObjectSize", CKR_OBJECT_HANDLE_INVALID,
                        () -> session.J_GetObjectSize(data)),
                () -> assertFailsDescribed("J_DestroyObject", CKR_OBJECT_HANDLE_INVALID,
                        () -> session.J_DestroyObject(copy)),
                () -> assertNull(session.J_FindObjects(new Attribute[] {new Attribute(CKA_CLASS, CKO_DATA)})));
    }

    @Test
    void secretKeysReadBackByTypeGroupAndLiveAsLongAsCkaTokenSays() throws CryptokiException {
        NativeSlot slot = TestSetup.freshToken(cryptoki, uniqueLabel("aes"));
        NativeSession session = userSession(slot);
        for (boolean onToken : new boolean[] {true, false}) {
            byte[] keyValue = Arrays.copyOfRange(pattern(40), onToken ? 0 : 8, onToken ? 32 : 40);
            long key = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY),
                    new Attribute(CKA_KEY_TYPE, CKK_AES), new Attribute(CKA_TOKEN, onToken),
                    new Attribute(CKA_SENSITIVE, false), new Attribute(CKA_EXTRACTABLE, true),
                    new Attribute(CKA_LABEL, "aes " + onToken), new Attribute(CKA_VALUE, keyValue)});
            assertRead(session.J_GetAttributeValue(key, new int[] {CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN,
                    CKA_SENSITIVE, CKA_EXTRACTABLE, CKA_VALUE_LEN, CKA_VALUE}),
                    CKA_CLASS, CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_AES, CKA_TOKEN, onToken, CKA_SENSITIVE, false,
                    CKA_EXTRACTABLE, true, CKA_VALUE_LEN, 32, CKA_VALUE, keyValue);

            byte[] id = {(byte) 0xC0, 0x01, (byte) (onToken ? 1 : 0)};
            session.J_SetAttributeValue(key, new Attribute[] {new Attribute(CKA_LABEL, "renamed " + onToken),
                    new Attribute(CKA_ID, id)});
            assertRead(session.J_GetAttributeValue(key, new int[] {CKA_ID, CKA_LABEL}),
                    CKA_ID, id, CKA_LABEL, ("renamed " + onToken).getBytes(UTF_8));
        }

        // the session key ends with its session, the token key stays
        session.J_CloseSession();
        NativeSession next = userSession(slot);
        CryptokiObject[] left = next.J_FindObjects(
                new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY)}, new int[] {CKA_LABEL, CKA_TOKEN});
        assertNotNull(left, "the token key");
        assertEquals(1, left.length);
        assertRead(left[0].getAttributes(), CKA_LABEL, "renamed true".getBytes(UTF_8), CKA_TOKEN, true);
    }

    @Test
    void issuerUrlObjectIdAndEcKeyValuesComeBackAsTheBytesTheModuleHolds() throws CryptokiException {
        NativeSession session = userSession(TestSetup.freshToken(cryptoki, uniqueLabel("byte types")));
        byte[] subject = "subject name".getBytes(UTF_8);
        byte[] issuer = "issuer name".getBytes(UTF_8);
        byte[] url = "http://certificates.example/kelvane.der".getBytes(UTF_8);
        long certificate = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_CERTIFICATE),
                new Attribute(CKA_CERTIFICATE_TYPE, CKC_X_509), new Attribute(CKA_TOKEN, false),
                new Attribute(CKA_SUBJECT, subject), new Attribute(CKA_ISSUER, issuer), new Attribute(CKA_URL, url),
                new Attribute(CKA_VALUE, pattern(600))});
        assertAttribute(CKA_ISSUER, issuer, session.J_GetAttributeValue(certificate, CKA_ISSUER));
        assertRead(session.J_GetAttributeValue(certificate,
                        new int[] {CKA_CERTIFICATE_TYPE, CKA_ISSUER, CKA_SUBJECT, CKA_URL}),
                CKA_CERTIFICATE_TYPE, CKC_X_509, CKA_ISSUER, issuer, CKA_SUBJECT, subject, CKA_URL, url);

        // DER of the OID 1.3.6.1.4.1.99999.7
        byte[] objectId = HexFormat.of().parseHex("06092b06010401868d1f07");
        long data = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_DATA),
                new Attribute(CKA_TOKEN, false), new Attribute(CKA_OBJECT_ID, objectId),
                new Attribute(CKA_VALUE, pattern(20))});
        assertRead(session.J_GetAttributeValue(data, new int[] {CKA_OBJECT_ID, CKA_VALUE}),
                CKA_OBJECT_ID, objectId, CKA_VALUE, pattern(20));

        byte[] params = HexFormat.of().parseHex("06082a8648ce3d030107");
        byte[] point = new byte[67]; // an OCTET STRING holding an uncompressed P-256 point
        point[0] = 0x04;
        point[1] = 65;
        point[2] = 0x04;
        System.arraycopy(pattern(64), 0, point, 3, 64);
        // its SubjectPublicKeyInfo: id-ecPublicKey with the curve, and the point as a BIT STRING
        byte[] info = HexFormat.of().parseHex("3059301306072a8648ce3d020106082a8648ce3d03010703420004"
                + HexFormat.of().formatHex(pattern(64)));
        long ecKey = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_PUBLIC_KEY),
                new Attribute(CKA_KEY_TYPE, CKK_EC), new Attribute(CKA_TOKEN, false),
                new Attribute(CKA_EC_PARAMS, params), new Attribute(CKA_EC_POINT, point),
                new Attribute(CKA_PUBLIC_KEY_INFO, info)});
        assertRead(session.J_GetAttributeValue(ecKey,
                        new int[] {CKA_KEY_TYPE, CKA_EC_POINT, CKA_EC_PARAMS, CKA_PUBLIC_KEY_INFO}),
                CKA_KEY_TYPE, CKK_EC, CKA_EC_POINT, point, CKA_EC_PARAMS, params, CKA_PUBLIC_KEY_INFO, info);
        assertAttribute(CKA_EC_POINT, point, session.J_GetAttributeValue(ecKey, CKA_EC_POINT));
    }

    @Test
    void sensitiveValueIsRefusedByBothReadForms() throws CryptokiException {
        NativeSession session = userSession(TestSetup.freshToken(cryptoki, uniqueLabel("sensitive")));
        long key = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY),
                new Attribute(CKA_KEY_TYPE, CKK_AES), new Attribute(CKA_TOKEN, false),
                new Attribute(CKA_SENSITIVE, true), new Attribute(CKA_VALUE, pattern(32))});
        assertFailsDescribed("J_GetAttributeValue", CKR_ATTRIBUTE_SENSITIVE,
                () -> session.J_GetAttributeValue(key, CKA_VALUE));
        // unlike a type the object lacks, a sensitive value fails the whole array
        assertFailsDescribed("J_GetAttributeValue", CKR_ATTRIBUTE_SENSITIVE,
                () -> session.J_GetAttributeValue(key, new int[] {CKA_SENSITIVE, CKA_VALUE, CKA_VALUE_LEN}));
        assertRead(session.J_GetAttributeValue(key, new int[] {CKA_SENSITIVE, CKA_VALUE_LEN}),
                CKA_SENSITIVE, true, CKA_VALUE_LEN, 32);
    }

    @Test
    void valueLongerThanTheReadBufferComesBackWhole() throws CryptokiException {
        NativeSession session = userSession(TestSetup.freshToken(cryptoki, uniqueLabel("long value")));
        byte[] big = pattern(5000);
        long data = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_DATA),
                new Attribute(CKA_TOKEN, false), new Attribute(CKA_LABEL, "big"),
                new Attribute(CKA_APPLICATION, "app"), new Attribute(CKA_VALUE, big)});

        assertAttribute(CKA_VALUE, big, session.J_GetAttributeValue(data, CKA_VALUE));
        // short values around the long one keep their own lengths
        assertRead(session.J_GetAttributeValue(data, new int[] {CKA_LABEL, CKA_VALUE, CKA_APPLICATION}),
                CKA_LABEL, "big".getBytes(UTF_8), CKA_VALUE, big, CKA_APPLICATION, "app".getBytes(UTF_8));
        CryptokiObject[] found = session.J_FindObjects(new Attribute[] {new Attribute(CKA_LABEL, "big")},
                new int[] {CKA_VALUE, CKA_LABEL});
        assertNotNull(found);
        assertEquals(1, found.length);
        assertEquals(data, found[0].getHandle());
        assertRead(found[0].getAttributes(), CKA_VALUE, big, CKA_LABEL, "big".getBytes(UTF_8));
    }

    @Test
    void objectsMadeByPkcs11ToolAreFoundWithTheirAttributes() throws CryptokiException {
        String token = toolToken("tool");
        List<Pkcs11Tool.ObjectEntry> listed = Pkcs11Tool.objects(TestSetup.softhsm(), token, USER_PIN);
        Pkcs11Tool.RsaPublicKey exported = Pkcs11Tool.rsaPublicKey(TestSetup.softhsm(), token, "01");
        Pkcs11Tool.ObjectEntry toolPublic = entry(listed, "Public Key Object; RSA ");
        Pkcs11Tool.ObjectEntry toolPrivate = entry(listed, "Private Key Object; RSA");
        Pkcs11Tool.ObjectEntry toolData = entry(listed, "Data object ");
        int bits = Integer.parseInt(toolPublic.heading().replaceAll(".* (\\d+) bits$", "$1"));

        cryptoki.Initialize(null);
        NativeSession session = userSession(TestSetup.tokenSlot(cryptoki, token));
        CryptokiObject[] keys = session.J_FindObjects(new Attribute[] {new Attribute(CKA_KEY_TYPE, CKK_RSA)},
                new int[] {CKA_CLASS, CKA_LABEL, CKA_ID, CKA_MODULUS_BITS, CKA_MODULUS, CKA_PUBLIC_EXPONENT});
        assertNotNull(keys, "pkcs11-tool's key pair");
        assertEquals(2, keys.length);
        Map<Object, Attribute[]> byClass = new HashMap<>();
        for (CryptokiObject key : keys) {
            byClass.put(key.getAttributes()[0].getValue(), key.getAttributes());
        }
        Attribute[] pub = byClass.get(CKO_PUBLIC_KEY);
        Attribute[] priv = byClass.get(CKO_PRIVATE_KEY);
        assertNotNull(pub, "public key class");
        assertNotNull(priv, "private key class");
        assertAll("public key",
                () -> assertAttribute(CKA_LABEL, toolPublic.field("label").getBytes(UTF_8), pub[1]),
                () -> assertAttribute(CKA_ID, HexFormat.of().parseHex(toolPublic.field("ID")), pub[2]),
                () -> assertAttribute(CKA_MODULUS_BITS, bits, pub[3]),
                () -> assertEquals(exported.modulus(), unsigned(pub[4]), "modulus"),
                () -> assertEquals(exported.exponent(), unsigned(pub[5]), "public exponent"));
        assertAll("private key",
                () -> assertAttribute(CKA_LABEL, toolPrivate.field("label").getBytes(UTF_8), priv[1]),
                () -> assertAttribute(CKA_ID, HexFormat.of().parseHex(toolPrivate.field("ID")), priv[2]),
                // a private key has no CKA_MODULUS_BITS: that read fails, the search goes on
                () -> assertAttribute(CKA_MODULUS_BITS, null, priv[3]),
                () -> assertEquals(exported.modulus(), unsigned(priv[4]), "modulus"),
                () -> assertEquals(exported.exponent(), unsigned(priv[5]), "public exponent"));
        assertEquals(2048, bits);

        CryptokiObject[] data = session.J_FindObjects(new Attribute[] {new Attribute(CKA_CLASS, CKO_DATA)},
                new int[] {CKA_LABEL, CKA_APPLICATION, CKA_VALUE});
        assertNotNull(data, "pkcs11-tool's data object");
        assertEquals(1, data.length);
        assertRead(data[0].getAttributes(), CKA_LABEL, unquote(toolData.field("label")).getBytes(UTF_8),
                CKA_APPLICATION, unquote(toolData.field("application")).getBytes(UTF_8), CKA_VALUE, TOOL_DATA);
    }

    @Test
    void searchTemplatesSelectByClassLabelAndId() throws CryptokiException {
        String token = toolToken("search");
        cryptoki.Initialize(null);
        NativeSession session = userSession(TestSetup.tokenSlot(cryptoki, token));
        long[] priv = session.J_FindObjects(new Attribute[] {new Attribute(CKA_CLASS, CKO_PRIVATE_KEY),
                new Attribute(CKA_ID, TOOL_KEY_ID)});
        long[] pub = session.J_FindObjects(new Attribute[] {new Attribute(CKA_CLASS, CKO_PUBLIC_KEY),
                new Attribute(CKA_ID, TOOL_KEY_ID)});
        assertEquals(1, priv.length);
        assertEquals(1, pub.length);
        assertNotEquals(priv[0], pub[0]);
        assertAttribute(CKA_CLASS, CKO_PRIVATE_KEY, session.J_GetAttributeValue(priv[0], CKA_CLASS));
        assertAttribute(CKA_CLASS, CKO_PUBLIC_KEY, session.J_GetAttributeValue(pub[0], CKA_CLASS));

        // without a class the same ID or label finds both halves of the pair, and only them
        Set<Long> pair = Set.of(priv[0], pub[0]);
        assertHandles(pair, session.J_FindObjects(new Attribute[] {new Attribute(CKA_ID, TOOL_KEY_ID)}));
        assertHandles(pair, session.J_FindObjects(new Attribute[] {new Attribute(CKA_LABEL, TOOL_KEY_LABEL)}));
        long[] data = session.J_FindObjects(new Attribute[] {new Attribute(CKA_LABEL, TOOL_DATA_LABEL)});
        assertEquals(1, data.length);
        assertFalse(pair.contains(data[0]), "the data object is none of the keys");

        // a null or empty types array: the objects carry no attributes
        for (int[] types : new int[][] {null, {}}) {
            CryptokiObject[] found = session.J_FindObjects(new Attribute[] {new Attribute(CKA_ID, TOOL_KEY_ID)},
                    types);
            assertEquals(pair, Arrays.stream(found).map(CryptokiObject::getHandle).collect(Collectors.toSet()));
            assertTrue(Arrays.stream(found).allMatch(o -> o.getAttributes() == null), "no attributes");
        }

        for (Attribute[] none : List.of(new Attribute[] {new Attribute(CKA_ID, new byte[] {2})},
                new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY)},
                new Attribute[] {new Attribute(CKA_CLASS, CKO_PUBLIC_KEY),
                        new Attribute(CKA_LABEL, TOOL_DATA_LABEL)})) {
            assertNull(session.J_FindObjects(none), "handles for a template matching nothing");
            assertNull(session.J_FindObjects(none, new int[] {CKA_LABEL}),
                    "objects for a template matching nothing");
        }
    }

    @Test
    void nullTemplateFindsEveryObjectTheSessionCanSee() throws CryptokiException {
        String token = toolToken("everything");
        int everything = Pkcs11Tool.objects(TestSetup.softhsm(), token, USER_PIN).size();
        int publicOnly = Pkcs11Tool.objects(TestSetup.softhsm(), token, null).size();
        assertTrue(publicOnly < everything, "the private key is seen after login only");

        cryptoki.Initialize(null);
        NativeSession session =
                TestSetup.tokenSlot(cryptoki, token).J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        assertEquals(publicOnly, session.J_FindObjects(null).length, "objects without login");
        session.J_Login(CKU_USER, USER_PIN);
        long sessionObject = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_DATA),
                new Attribute(CKA_TOKEN, false), new Attribute(CKA_VALUE, pattern(3))});
        long[] all = session.J_FindObjects(null);
        assertEquals(everything + 1, all.length, "objects after login, the session's own included");
        assertTrue(Arrays.stream(all).anyMatch(h -> h == sessionObject), "the session object is found");

        CryptokiObject[] classes = session.J_FindObjects(null, new int[] {CKA_CLASS});
        assertEquals(List.of(CKO_DATA, CKO_DATA, CKO_PUBLIC_KEY, CKO_PRIVATE_KEY),
                Arrays.stream(classes).map(o -> (Integer) o.getAttributes()[0].getValue()).sorted()
                        .collect(Collectors.toList()));
    }

    @Test
    void everyMatchOfALargeSearchComesBackInOneArray() throws CryptokiException {
        NativeSession session = userSession(TestSetup.freshToken(cryptoki, uniqueLabel("many")));
        int count = 120;
        Set<Long> made = new HashSet<>();
        for (int i = 0; i < count; i++) {
            made.add(session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_DATA),
                    new Attribute(CKA_TOKEN, false), new Attribute(CKA_APPLICATION, "bulk"),
                    new Attribute(CKA_VALUE, new byte[] {(byte) i})}));
        }
        session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_DATA),
                new Attribute(CKA_TOKEN, false), new Attribute(CKA_APPLICATION, "not bulk")});
        assertEquals(count, made.size(), "distinct handles");

        Attribute[] bulk = {new Attribute(CKA_APPLICATION, "bulk")};
        assertHandles(made, session.J_FindObjects(bulk));
        CryptokiObject[] objects = session.J_FindObjects(bulk, new int[] {CKA_VALUE});
        assertEquals(count, objects.length);
        assertEquals(made, Arrays.stream(objects).map(CryptokiObject::getHandle).collect(Collectors.toSet()));
        assertEquals(IntStream.range(0, count).boxed().collect(Collectors.toSet()),
                Arrays.stream(objects).map(o -> ((byte[]) o.getAttributes()[0].getValue())[0] & 0xFF)
                        .collect(Collectors.toSet()));
    }

    @Test
    void valuesOfUnsupportedClassesAreRefused() throws CryptokiException {
        NativeSession session = userSession(TestSetup.freshToken(cryptoki, uniqueLabel("refused")));
        String message = "Attribute2CKAttribute - unsupported value class";
        for (Object value : new Object[] {5L, new int[] {1, 2}}) {
            Attribute[] template = {new Attribute(CKA_CLASS, CKO_DATA), new Attribute(CKA_TOKEN, false),
                    new Attribute(CKA_LABEL, "refused"), new Attribute(CKA_VALUE, value)};
            assertEquals(message, assertFails("J_CreateObject", CKR_GENERAL_ERROR,
                    () -> session.J_CreateObject(template)).getMessage());
            assertEquals(message, assertFails("J_FindObjects", CKR_GENERAL_ERROR,
                    () -> session.J_FindObjects(template)).getMessage());
        }
        assertNull(session.J_FindObjects(new Attribute[] {new Attribute(CKA_LABEL, "refused")}),
                "nothing created");

        long data = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_DATA),
                new Attribute(CKA_TOKEN, false), new Attribute(CKA_VALUE, pattern(4))});
        assertEquals(message, assertFails("J_SetAttributeValue", CKR_GENERAL_ERROR,
                () -> session.J_SetAttributeValue(data, new Attribute[] {new Attribute(CKA_VALUE, 7L)}))
                .getMessage());
        assertAttribute(CKA_VALUE, pattern(4), session.J_GetAttributeValue(data, CKA_VALUE));
    }

    /**
     * Initialises a token of its own holding pkcs11-tool's data object and RSA key pair, and
     * returns its label. The bridge is left finalized: SoftHSM2 reads the token afresh when the
     * case initialises it again.
     */
    private String toolToken(String purpose) throws CryptokiException {
        String token = uniqueLabel(purpose);
        TestSetup.freshToken(cryptoki, token);
        cryptoki.Finalize(null);
        Pkcs11Tool.writeDataObject(TestSetup.softhsm(), token, USER_PIN, TOOL_DATA_LABEL, "kelvane tests",
                TOOL_DATA);
        Pkcs11Tool.generateRsaKeyPair(TestSetup.softhsm(), token, USER_PIN, "01", TOOL_KEY_LABEL);
        return token;
    }

    private static String uniqueLabel(String purpose) {
        return purpose + " " + TOKENS.incrementAndGet();
    }

    private static NativeSession userSession(NativeSlot slot) throws CryptokiException {
        return slot.J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, USER_PIN);
    }

    /** {@code typesAndValues} alternates the expected type and value of each attribute, in order. */
    private static void assertRead(Attribute[] read, Object... typesAndValues) {
        assertNotNull(read, "attributes");
        assertEquals(typesAndValues.length / 2, read.length, "attribute count");
        for (int i = 0; i < read.length; i++) {
            assertAttribute((Integer) typesAndValues[2 * i], typesAndValues[2 * i + 1], read[i]);
        }
    }

    private static void assertHandles(Set<Long> expected, long[] found) {
        assertNotNull(found, "handles found");
        assertEquals(expected.size(), found.length, "handle count");
        assertEquals(expected, Arrays.stream(found).boxed().collect(Collectors.toSet()));
    }

    private static Pkcs11Tool.ObjectEntry entry(List<Pkcs11Tool.ObjectEntry> listed, String headingStart) {
        List<Pkcs11Tool.ObjectEntry> matching = listed.stream().filter(o -> o.heading().startsWith(headingStart))
                .collect(Collectors.toList());
        assertEquals(1, matching.size(), () -> "'" + headingStart + "' in pkcs11-tool's listing " + listed);
        return matching.get(0);
    }

    private static BigInteger unsigned(Attribute attribute) {
        assertNotNull(attribute.getValue(), () -> "value of " + attribute);
        return new BigInteger(1, (byte[]) attribute.getValue());
    }

    private static String unquote(String text) {
        assertTrue(text.length() >= 2 && text.startsWith("'") && text.endsWith("'"), () -> "quoted: " + text);
        return text.substring(1, text.length() - 1);
    }
}
