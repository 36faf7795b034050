import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.Signature;

import qorvik.provider.KelvaneProvider;

/** java JcaSign CONFIG-FILE KEY-ALIAS FILE SIGNATURE-FILE: signs a file through the JCA. */
public final class JcaSign {
    public static void main(String[] args) throws Exception {
        Provider kelvane = new KelvaneProvider().configure(args[0]);
        KeyStore token = KeyStore.getInstance("Kelvane", kelvane);
        token.load(null, null);                    // logs in with the configuration's pin
        PrivateKey key = (PrivateKey) token.getKey(args[1], null);
        if (key == null) {
            System.err.println("no private key '" + args[1] + "' on the token");
            System.exit(1);
        }
        Signature signer = Signature.getInstance("SHA256withRSA", kelvane);
        signer.initSign(key);
        signer.update(Files.readAllBytes(Path.of(args[2])));
        byte[] signature = signer.sign();
        Files.write(Path.of(args[3]), signature);
        System.out.println(signature.length + "-byte signature in " + args[3]);
    }
}
