package zentrel.keychain.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.lang.reflect.Constructor;
import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.List;

import org.junit.jupiter.api.Test;

import zentrel.keychain.KeyChain;
import zentrel.keychain.KeyChainException;
import zentrel.keychain.KeyChainIdentity;
import zentrel.keychain.KeyChainLib;

/**
 * The members the bridge finds by name and descriptor: a field, constructor or native method that
 * drifts from these would only show as a failed lookup inside the library.
 */
class ContractClassesTest {
    /** A native method: class, name, static or not, return type, parameter types. */
    record Native(Class<?> owner, String name, boolean isStatic, Class<?> returns, Class<?>... parameters) {
    }

    private static final List<Native> NATIVES = List.of(
            new Native(KeyChainLib.class, "loadKeyChainLibrary", true, int.class),
            new Native(KeyChainLib.class, "Finalize", true, void.class),
            new Native(KeyChainLib.class, "GetKeyChainList", true, KeyChain[].class, int.class),
            new Native(KeyChainLib.class, "GetKeyChain", true, KeyChain.class, String.class),
            new Native(KeyChain.class, "GetIdentityList", false, KeyChainIdentity[].class),
            new Native(KeyChain.class, "ReleaseIdentityList", false, void.class, KeyChainIdentity[].class),
            new Native(KeyChainIdentity.class, "Sign", false, byte[].class, byte[].class, String.class, String.class),
            new Native(KeyChainIdentity.class, "Verify", false, int.class, byte[].class, byte[].class),
            new Native(KeyChainIdentity.class, "getAttribute", false, byte[].class, int.class),
            new Native(KeyChainIdentity.class, "getAlias", false, String.class),
            new Native(KeyChainIdentity.class, "Lock", false, void.class),
            new Native(KeyChainIdentity.class, "Release", false, void.class));

    @Test
    void theTwelveNativesAndNoOthers() throws NoSuchMethodException {
        List<String> declared = new ArrayList<>();
        for (Class<?> owner : List.of(KeyChainLib.class, KeyChain.class, KeyChainIdentity.class,
                KeyChainException.class)) {
            for (Method method : owner.getDeclaredMethods()) {
                if (Modifier.isNative(method.getModifiers())) {
                    declared.add(owner.getSimpleName() + "." + method.getName());
                }
            }
        }
        List<String> expected = new ArrayList<>();
        for (Native row : NATIVES) {
            expected.add(row.owner().getSimpleName() + "." + row.name());
            Method method = row.owner().getDeclaredMethod(row.name(), row.parameters());
            String what = row.owner().getSimpleName() + "." + row.name();
            assertTrue(Modifier.isNative(method.getModifiers()), what + " is native");
            assertTrue(Modifier.isPublic(method.getModifiers()), what + " is public");
            assertEquals(row.isStatic(), Modifier.isStatic(method.getModifiers()), what + " static");
            assertEquals(row.returns(), method.getReturnType(), what + " returns");
        }
        declared.sort(null);
        expected.sort(null);
        assertEquals(expected, declared);
    }

    @Test
    void fieldsAndConstructorsTheBridgeUses() throws ReflectiveOperationException {
        Object[][] fields = {
            {KeyChain.class, "m_sPath", String.class}, {KeyChain.class, "m_sPin", String.class},
            {KeyChainIdentity.class, "m_hIdentity", long.class},
            {KeyChainIdentity.class, "m_pKeyChain", KeyChain.class},
        };
        for (Object[] row : fields) {
            Field field = ((Class<?>) row[0]).getDeclaredField((String) row[1]);
            assertEquals(row[2], field.getType(), (String) row[1]);
            assertTrue(!Modifier.isStatic(field.getModifiers()) && !Modifier.isFinal(field.getModifiers()),
                    row[1] + " is an instance field the bridge may write");
        }
        Constructor<KeyChain> keychain = KeyChain.class.getConstructor(String.class);
        Constructor<KeyChainIdentity> identity = KeyChainIdentity.class.getConstructor(long.class, KeyChain.class);
        Constructor<KeyChainException> exception =
                KeyChainException.class.getConstructor(String.class, int.class, String.class);

        KeyChain made = keychain.newInstance("/some/path");
        assertEquals("/some/path", made.m_sPath);
        assertEquals(null, made.m_sPin);
        KeyChainIdentity held = identity.newInstance(-2L, made);
        assertEquals(-2L, held.m_hIdentity, "the handle keeps all 64 bits");
        assertEquals(made, held.m_pKeyChain);
        KeyChainException e = exception.newInstance("where", -25305, "message");
        assertEquals("where", e.getWhere());
        assertEquals(-25305, e.getStatus());
        assertEquals("message", e.getMessage());
    }
}
