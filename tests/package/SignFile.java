import java.nio.file.Files;
import java.nio.file.Path;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/** java SignFile MODULE KEY-LABEL FILE SIGNATURE-FILE, the user PIN in TOKEN_PIN. */
public final class SignFile {
    static final int CKF_SERIAL_SESSION = 0x4, CKA_CLASS = 0x0, CKA_LABEL = 0x3;
    static final int CKO_PRIVATE_KEY = 3, CKM_SHA256_RSA_PKCS = 0x40;
    static final byte CKU_USER = 1;

    public static void main(String[] args) throws Exception {
        byte[] data = Files.readAllBytes(Path.of(args[2]));
        NativeCryptoki.loadNative();                 // libkelvane from java.library.path
        NativeCryptoki.loadCryptokiLibrary(args[0]); // the token's PKCS#11 module
        NativeCryptoki cryptoki = new NativeCryptoki();
        cryptoki.Initialize(null);
        int status = 0;
        try {
            NativeSlot slot = cryptoki.GetSlotList(true)[0]; // the first slot holding a token
            NativeSession session = slot.J_OpenSession(CKF_SERIAL_SESSION, CKU_USER,
                    System.getenv("TOKEN_PIN"));
            try {
                long[] keys = session.J_FindObjects(new Attribute[] {
                    new Attribute(CKA_CLASS, CKO_PRIVATE_KEY),
                    new Attribute(CKA_LABEL, args[1]),
                });
                if (keys == null) {                  // null, not empty, when nothing matched
                    throw new IllegalArgumentException("no private key labelled " + args[1]);
                }
                byte[] signature = session.J_Sign(session.getSessionHandle(), true,
                        new Mechanism(CKM_SHA256_RSA_PKCS, null), keys[0], data, 0, data.length);
                Files.write(Path.of(args[3]), signature);
                System.out.println(signature.length + "-byte signature in " + args[3]);
            } finally {
                session.J_CloseSession();
            }
        } catch (CryptokiException e) {              // operation, CK_RV and text
            System.err.println(e.getFunctionName() + " failed: 0x"
                    + Integer.toHexString(e.getCode()) + " " + e.getMessage());
            status = 1;
        } finally {
            cryptoki.Finalize(null);
        }
        System.exit(status);
    }
}
