package zentrel.keychain.tests;

import java.io.PrintStream;

import zentrel.keychain.KeyChain;
import zentrel.keychain.KeyChainException;
import zentrel.keychain.KeyChainIdentity;
import zentrel.keychain.KeyChainLib;

/**
 * The keychain example of the README, line for line between the markers: ReadmeExampleTest checks
 * that the README shows exactly these lines and runs them.
 */
final class ReadmeExample {
    private ReadmeExample() {
    }

    static void listAndSign(byte[] document, PrintStream out) throws KeyChainException {
        // README begin
        KeyChainLib.load(); // libtarnel from java.library.path, or the file -Dtarnel.library names
        KeyChain[] keychains = KeyChainLib.GetKeyChainList(KeyChainLib.DEFAULT_SEARCH_LIST);
        for (KeyChain keychain : keychains == null ? new KeyChain[0] : keychains) {
            KeyChainIdentity[] identities = keychain == null ? null : keychain.GetIdentityList();
            if (identities == null) {
                continue; // a path that cannot be read, or no signing identity
            }
            try {
                for (KeyChainIdentity identity : identities) {
                    byte[] signature = identity.Sign(document, "", "SHA1withRSA");
                    byte[] certificate = identity.getAttribute(KeyChainIdentity.CERTIFICATE); // DER
                    out.println(keychain.m_sPath + ": " + identity.getAlias() + ", " + signature.length
                            + "-byte signature, " + certificate.length + "-byte certificate");
                }
            } finally {
                keychain.ReleaseIdentityList(identities); // drops the references the list holds
            }
        }
        // README end
    }
}
