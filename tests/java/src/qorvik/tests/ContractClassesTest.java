package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;

import org.junit.jupiter.api.Test;
import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.CryptokiObject;
import qorvik.Version;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;
import qorvik.params.SSL3RANDOMDATA;

/** The contract classes' own behaviour, which the bridge and its callers rely on. */
class ContractClassesTest {

    @Test
    void handlesFromTheBridgeAreKeptUnsigned() {
        NativeSlot slot = new NativeSlot(3);
        assertEquals(0xFFFFFFFFL, new NativeSession(slot, -1).getSessionHandle());
        assertEquals(0x80000000L, new NativeSession(slot, Integer.MIN_VALUE).getSessionHandle());
        assertEquals(42L, new NativeSession(slot, 42).getSessionHandle());
        assertSame(slot, new NativeSession(slot, 1).getSlot());

        Attribute[] attributes = {new Attribute(3, "label")};
        CryptokiObject object = new CryptokiObject(0x80000001, attributes);
        assertEquals(0x80000001L, object.getHandle());
        assertEquals("label", object.getAttributes()[0].getValue());
        assertNull(new CryptokiObject(7, null).getAttributes());
    }

    @Test
    void versionTakesTheMinorNumberFirst() {
        Version v = new Version(11, 2);
        assertEquals(2, v.getMajor());
        assertEquals(11, v.getMinor());
        assertEquals(2, v.m_majorVersion);
        assertEquals(11, v.m_minorVersion);
    }

    @Test
    void randomDataAnswersToBothFieldNamings() {
        byte[] client = {1, 2};
        byte[] server = {3, 4};
        SSL3RANDOMDATA random = new SSL3RANDOMDATA(client, server);
        assertArrayEquals(client, random.m_clientRandom);
        assertArrayEquals(client, random.clientRandom);
        assertArrayEquals(server, random.m_serverRandom);
        assertArrayEquals(server, random.serverRandom);
    }

    @Test
    void exceptionCarriesNameCodeAndExactMessage() {
        CryptokiException e = new CryptokiException("J_Login", 0xA0, "PIN INCORRECT   ");
        assertEquals("J_Login", e.getFunctionName());
        assertEquals(160, e.getCode());
        assertEquals("PIN INCORRECT   ", e.getMessage());
    }
}
