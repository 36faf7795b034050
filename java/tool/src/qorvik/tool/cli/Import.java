package qorvik.tool.cli;

import java.io.IOException;
import java.nio.file.Path;

import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Parameters;

import qorvik.Attribute;
import qorvik.nat.NativeSession;
import qorvik.tool.cli.crypto.KeyFile;
import qorvik.tool.cli.crypto.KeyGeneration;
import qorvik.tool.cli.crypto.KeyOptions;
import qorvik.tool.cli.crypto.Templates;

/** import: a private key, public key or certificate from a PEM or DER file onto the token. */
@Command(name = "import", description = {"Stores a private key, public key or X.509 certificate from a PEM "
        + "or DER file on the token.",
    "Takes PKCS #8, traditional RSA and EC private keys (unencrypted), X.509 and RSA public keys, "
        + "certificates. Without --id the ID is the SHA-1 of the public value, the same generate-key gives, "
        + "so a key and its certificate match."})
public final class Import extends KelvaneCommand {
    @Parameters(index = "0", paramLabel = "FILE", description = "The PEM or DER file.")
    Path file;

    @Mixin
    KeyOptions name;

    @Override
    protected int execute(CommandContext context) throws Exception {
        KeyFile.Content content;
        try {
            content = KeyFile.read(file);
        } catch (IOException e) {
            throw new CommandFailure("cannot read " + file + ": " + e.getMessage(), e);
        } catch (IllegalArgumentException e) {
            throw new CommandFailure(file + ": " + e.getMessage(), e);
        }
        Attribute[] template;
        String what;
        try {
            if (content instanceof KeyFile.PrivateContent key) {
                template = Templates.privateKey(key.key(), key.publicPoint(), name.label, name.id());
                what = key.key().getAlgorithm() + " private key";
            } else if (content instanceof KeyFile.PublicContent key) {
                template = Templates.publicKey(key.key(), name.label, name.id());
                what = key.key().getAlgorithm() + " public key";
            } else {
                KeyFile.CertificateContent certificate = (KeyFile.CertificateContent) content;
                template = Templates.certificate(certificate.certificate(), name.label, name.id());
                what = "certificate of '" + certificate.certificate().getSubjectX500Principal().getName() + "'";
            }
        } catch (IllegalArgumentException e) {
            throw new CommandFailure(file + ": " + e.getMessage(), e);
        }
        NativeSession session = context.userSession(true);
        long handle = session.J_CreateObject(template);
        byte[] id = null;
        for (Attribute attribute : template) {
            if (attribute.getType() == qorvik.tool.cli.crypto.Ck.CKA_ID) {
                id = (byte[]) attribute.getValue();
            }
        }
        context.out().printf("Imported %s%s (ID %s): handle %d%n", what,
                name.label == null ? "" : " '" + name.label + "'", KeyGeneration.hex(id), handle);
        return ExitCodes.OK;
    }
}
