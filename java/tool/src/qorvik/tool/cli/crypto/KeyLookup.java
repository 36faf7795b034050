package qorvik.tool.cli.crypto;

import static qorvik.tool.cli.crypto.Ck.*;

import java.util.ArrayList;
import java.util.List;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.nat.NativeSession;

/** Finds the one key a data command works with. */
public final class KeyLookup {
    /** A key found: its handle, class and key type, and for EC keys its curve (null if unknown). */
    public record Key(long handle, int objectClass, int keyType, Curve curve) {
    }

    /** Raised when no key or more than one matches; the text says which. */
    public static final class NotFound extends Exception {
        private static final long serialVersionUID = 1L;

        NotFound(String message) {
            super(message);
        }
    }

    private KeyLookup() {
    }

    /**
     * The one key of the first of {@code classes} that holds a match for the label and ID
     * (either may be null); none at all, or several of one class, is a failure.
     */
    public static Key find(NativeSession session, KeyOptions name, String what, int... classes)
            throws CryptokiException, NotFound {
        for (int objectClass : classes) {
            List<Attribute> template = new ArrayList<>();
            template.add(new Attribute(CKA_CLASS, objectClass));
            if (name.label != null) {
                template.add(new Attribute(CKA_LABEL, name.label));
            }
            if (name.id() != null) {
                template.add(new Attribute(CKA_ID, name.id()));
            }
            long[] found = session.J_FindObjects(template.toArray(new Attribute[0]));
            // The search hands back null, not an empty array, when nothing matched.
            if (found == null || found.length == 0) {
                continue;
            }
            if (found.length > 1) {
                throw new NotFound(found.length + " keys " + name.describe() + " on the token: name one with --id");
            }
            int keyType = ((Number) session.J_GetAttributeValue(found[0], CKA_KEY_TYPE).getValue()).intValue();
            Curve curve = null;
            if (keyType == CKK_EC || keyType == CKK_EC_EDWARDS) {
                Object params = session.J_GetAttributeValue(found[0], CKA_EC_PARAMS).getValue();
                curve = params instanceof byte[] bytes ? Curve.byParams(bytes) : null;
            }
            return new Key(found[0], objectClass, keyType, curve);
        }
        throw new NotFound("no " + what + " " + name.describe() + " on the token");
    }
}
